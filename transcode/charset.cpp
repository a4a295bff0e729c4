// Converter name probes, cached per name.
#include "transcode/charset.h"

#include <map>
#include <mutex>
#include <string_view>

#include "transcode/iconv_handle.h"
#include "transcode/utf8.h"

namespace {

// One conversion through the real converter (never the test seam: probes are facts about
// the C library, and a cached probe must not remember an injected failure).
bool convert_all(const char* to, const char* from, std::string_view in, std::string& out) {
  IconvHandle cd(to, from, IconvHandle::Via::c_library);
  out.clear();
  return cd.append_all(in, out) == 0;
}

std::string ascii_bytes() {
  std::string s(128, '\0');
  for (int i = 0; i < 128; ++i) s[static_cast<size_t>(i)] = static_cast<char>(i);
  return s;
}

// Whether some non-ASCII character the charset has is written with a byte >= 0x80. A 7-bit
// encoding (ISO-2022-*, UTF-7, HZ) writes its text in ASCII bytes, so bytes below 0x80 do not
// make a file ASCII.
bool eight_bit(const std::string& charset) {
  const char* samples[] = {"\xC3\xA9", "\xE4\xB8\xAD", "\xD0\x96", "\xE3\x81\x82", "\xED\x95\x9C",
                           "\xCE\xB1", "\xD7\x90",     "\xD8\xA7", "\xE0\xB8\x81"};
  bool any = false;
  std::string out;
  for (const char* s : samples) {
    if (!convert_all(charset.c_str(), "UTF-8", s, out) || out.empty()) continue;
    any = true;
    bool high = false;
    for (unsigned char c : out) high = high || c >= 0x80;
    if (!high) return false;
  }
  return any;
}

UnicodeForm form_of_encoded_a(const std::string& a, const std::string& e_acute) {
  using std::string_view;
  if (a == "A") return e_acute == "\xC3\xA9" ? UnicodeForm::utf8 : UnicodeForm::none;
  if (a == string_view("A\0", 2)) return UnicodeForm::utf16le;
  if (a == string_view("\0A", 2)) return UnicodeForm::utf16be;
  if (a == string_view("A\0\0\0", 4)) return UnicodeForm::utf32le;
  if (a == string_view("\0\0\0A", 4)) return UnicodeForm::utf32be;
  if (a == string_view("\xFF\xFE"
                       "A\0",
                       4) ||
      a == string_view("\xFE\xFF\0A", 4))
    return UnicodeForm::utf16;
  if (a == string_view("\xFF\xFE\0\0"
                       "A\0\0\0",
                       8) ||
      a == string_view("\0\0\xFE\xFF\0\0\0A", 8))
    return UnicodeForm::utf32;
  return UnicodeForm::none;
}

// CR LF written as one-byte units, or as 2- or 4-byte units in the order the output shows.
EolUnits eol_units_of(const std::string& charset) {
  std::string out;
  if (!convert_all(charset.c_str(), "UTF-8", "\r\n", out)) return {0, false};
  // A self-marking form writes its mark first.
  const MarkInfo mark = mark_at_start(out);
  const std::string_view units = std::string_view(out).substr(mark.length);
  using std::string_view;
  if (units == "\r\n") return {1, false};
  if (units == string_view("\r\0\n\0", 4)) return {2, false};
  if (units == string_view("\0\r\0\n", 4)) return {2, true};
  if (units == string_view("\r\0\0\0\n\0\0\0", 8)) return {4, false};
  if (units == string_view("\0\0\0\r\0\0\0\n", 8)) return {4, true};
  return {0, false};
}

CharsetTraits probe(const std::string& charset) {
  CharsetTraits t;
  std::string out;
  t.known = IconvHandle("UTF-8", charset, IconvHandle::Via::c_library).is_open() &&
            IconvHandle(charset, "UTF-8", IconvHandle::Via::c_library).is_open();
  if (!t.known) return t;
  const std::string ascii = ascii_bytes();
  std::string back;
  t.ascii_compatible = convert_all("UTF-8", charset.c_str(), ascii, out) && out == ascii &&
                       convert_all(charset.c_str(), "UTF-8", ascii, back) && back == ascii &&
                       eight_bit(charset);
  std::string a_out, e_out;
  if (convert_all(charset.c_str(), "UTF-8", "A", a_out)) {
    convert_all(charset.c_str(), "UTF-8", "\xC3\xA9", e_out);
    t.form = form_of_encoded_a(a_out, e_out);
  }
  t.eol_units = eol_units_of(charset);
  return t;
}

}  // namespace

CharsetTraits charset_traits(const std::string& charset) {
  static std::mutex lock;
  static std::map<std::string, CharsetTraits> cache;
  {
    std::lock_guard guard(lock);
    if (auto it = cache.find(charset); it != cache.end()) return it->second;
  }
  const CharsetTraits t = probe(charset);
  std::lock_guard guard(lock);
  cache.emplace(charset, t);
  return t;
}

const char* form_name(UnicodeForm form) {
  switch (form) {
    case UnicodeForm::utf8:
      return "UTF-8";
    case UnicodeForm::utf16le:
      return "UTF-16LE";
    case UnicodeForm::utf16be:
      return "UTF-16BE";
    case UnicodeForm::utf16:
      return "UTF-16";
    case UnicodeForm::utf32le:
      return "UTF-32LE";
    case UnicodeForm::utf32be:
      return "UTF-32BE";
    case UnicodeForm::utf32:
      return "UTF-32";
    case UnicodeForm::none:
      break;
  }
  return "";
}

MarkInfo mark_at_start(std::string_view c) {
  using std::string_view;
  // UTF-32LE's mark begins with UTF-16LE's, so the longer marks are looked at first.
  if (c.substr(0, 4) == string_view("\xFF\xFE\0\0", 4)) return {UnicodeForm::utf32le, 4};
  if (c.substr(0, 4) == string_view("\0\0\xFE\xFF", 4)) return {UnicodeForm::utf32be, 4};
  if (c.substr(0, 3) == kUtf8Bom) return {UnicodeForm::utf8, 3};
  if (c.substr(0, 2) == "\xFF\xFE") return {UnicodeForm::utf16le, 2};
  if (c.substr(0, 2) == "\xFE\xFF") return {UnicodeForm::utf16be, 2};
  return {};
}
