// Tables of iconv's answers per character into a legacy encoding, checked against iconv, and
// their encoding loops from UTF-8 and UTF-16.
#include "transcode/table_encoder.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/sys_io.h"
#include "transcode/iconv_handle.h"
#include "transcode/line_endings.h"
#include "util/ascii_blocks.h"

namespace {

constexpr char32_t kMark = 0xFEFF;  // left to iconv: a converter may take it for a mark

void append_utf8(std::string& s, char32_t c) {
  if (c < 0x80) {
    s.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    s.push_back(static_cast<char>(0xC0 | (c >> 6)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    s.push_back(static_cast<char>(0xE0 | (c >> 12)));
    s.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// A BMP character in the source's form.
void append_in(std::string& s, TableEncoder::Source form, char32_t c) {
  if (form == TableEncoder::Source::utf8) return append_utf8(s, c);
  const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
  s.push_back(form == TableEncoder::Source::utf16le ? lo : hi);
  s.push_back(form == TableEncoder::Source::utf16le ? hi : lo);
}

const char* source_label(TableEncoder::Source form) {
  return form == TableEncoder::Source::utf8      ? "UTF-8"
         : form == TableEncoder::Source::utf16le ? "UTF-16LE"
                                                 : "UTF-16BE";
}

bool source_of(const std::string& label, TableEncoder::Source& form) {
  const std::string u = upper_label(label);
  if (is_utf8_label(u))
    form = TableEncoder::Source::utf8;
  else if (u == "UTF-16LE")
    form = TableEncoder::Source::utf16le;
  else if (u == "UTF-16BE")
    form = TableEncoder::Source::utf16be;
  else
    return false;
  return true;
}

bool holds_line_end_byte(uint16_t entry) {
  const unsigned lo = entry & 0xFFu, hi = entry >> 8;
  return lo == '\n' || lo == '\r' || hi == '\n' || hi == '\r';
}

// Important: two bytes are stored whatever the entry, and the pointer moves by its length, so
// the output needs a byte of room past its end.
inline void put(char*& o, uint16_t entry) {
  std::memcpy(o, &entry, 2);
  o += entry > 0xFF ? 2 : 1;
}

inline bool cont(unsigned char b) { return (b & 0xC0) == 0x80; }

// A CR or LF where the loop rewrites line ends.
template <bool kLineEnds>
inline bool line_end(unsigned char b) {
  return kLineEnds && (b == '\n' || b == '\r');
}

struct Registry {
  std::mutex lock;  // guards tables; a table, once in, never changes or goes
  std::map<std::string, std::unique_ptr<TableEncoder>> tables;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

TableEncoder TableEncoder::build(Source source, const std::string& to) {
  TableEncoder t;
  t.source_ = source;
  IconvHandle cd(to, "UTF-8", IconvHandle::Via::c_library);
  if (!cd.is_open()) return t;
  t.bytes_.assign(0x10000, 0);
  std::string in, out;
  bool nul_same = false;
  for (char32_t c = 0; c < 0x10000; ++c) {
    if ((c >= 0xD800 && c < 0xE000) || c == kMark) continue;
    in.clear();
    out.clear();
    append_utf8(in, c);
    cd.reset();
    char* ip = in.data();
    size_t left = in.size();
    if (cd.append(&ip, &left, out) != 0 || left != 0) continue;
    if (c == 0) nul_same = out == std::string(1, '\0');
    if (out.size() == 1 && out[0] != '\0')
      t.bytes_[c] = static_cast<unsigned char>(out[0]);
    else if (out.size() == 2 && out[1] != '\0')
      t.bytes_[c] = static_cast<uint16_t>(static_cast<unsigned char>(out[0]) |
                                          static_cast<unsigned char>(out[1]) << 8);
  }
  t.ascii_same_ = nul_same;
  for (char32_t c = 1; c < 0x80; ++c)
    if (t.bytes_[c] != c) t.ascii_same_ = false;
  t.line_ends_ascii_ = true;
  for (char32_t c = 0x80; c < 0x10000; ++c)
    if (holds_line_end_byte(t.bytes_[c])) t.line_ends_ascii_ = false;
  t.usable_ = t.matches_iconv(source_label(source), to);
  return t;
}

std::string TableEncoder::entry(char32_t c) const {
  if (c >= bytes_.size() || bytes_[c] == 0) return {};
  const uint16_t e = bytes_[c];
  std::string s(1, static_cast<char>(e & 0xFF));
  if (e > 0xFF) s.push_back(static_cast<char>(e >> 8));
  return s;
}

// Every character of the table in one text, each after an ASCII letter, in the source's form,
// encoded by the table and by one iconv call: the same bytes, or the table is not used.
bool TableEncoder::matches_iconv(const std::string& from, const std::string& to) const {
  std::string text;
  for (char32_t c = 0; c < bytes_.size(); ++c) {
    if (bytes_[c] == 0) continue;
    append_in(text, source_, static_cast<char32_t>('a' + c % 26));
    append_in(text, source_, c);
  }
  if (text.empty()) return false;
  std::string by_iconv, by_table;
  IconvHandle cd(to, from, IconvHandle::Via::c_library);
  if (!cd.is_open() || cd.append_all(text, by_iconv) != 0) return false;
  return convert(text, by_table) == text.size() && by_table == by_iconv;
}

template <bool kLineEnds, bool kVectors>
size_t TableEncoder::from_utf8(const unsigned char* p, size_t n, char* out, size_t& written,
                               [[maybe_unused]] EolRewriter* eol) const {
  const unsigned char* const start = p;
  const unsigned char* const end = p + n;
  char* o = out;
  const auto at = [](const unsigned char* q) { return reinterpret_cast<const char*>(q); };
  [[maybe_unused]] EolPass pass{};
  const auto stop = [&] {
    if constexpr (kLineEnds) eol->give_back(pass);
    written = static_cast<size_t>(o - out);
    return static_cast<size_t>(p - start);
  };
  if constexpr (kLineEnds) {
    pass = eol->take_pass();
    if (p < end) p += pass.held_cr(at(p), o);
  }
  // Important: locals, not members: every store through a char pointer may alias a member, which
  // would then be loaded again for each character.
  const uint16_t* const table = bytes_.data();
  const bool ascii_same = ascii_same_;
  while (p < end) {
    if (*p < 0x80 && ascii_same) {
      if constexpr (kLineEnds) {
        const size_t run = ascii::copy_to_line_end<kVectors>(p, static_cast<size_t>(end - p), o);
        o += run;
        p += run;
        if (p < end && *p < 0x80) p += pass.line_end_at(at(p), at(end), o);
      } else {
        const size_t run = ascii::copy<kVectors>(p, static_cast<size_t>(end - p), o);
        o += run;
        p += run;
      }
      continue;
    }
    // A run of characters: strict UTF-8 of two or three bytes, with the odd ASCII byte between
    // them (all of ASCII where the target writes it otherwise; never a line end the loop above
    // rewrites); anything else, and a character cut by the end, is iconv's.
    do {
      const unsigned char b = *p;
      char32_t c;
      size_t length;
      if (b < 0x80) {
        c = b;
        length = 1;
      } else if ((b & 0xF0) == 0xE0) {
        if (end - p < 3 || !cont(p[1]) || !cont(p[2])) return stop();
        c = static_cast<char32_t>((b & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu));
        // Overlong forms; surrogates have no entry.
        if (c < 0x800) return stop();
        length = 3;
      } else if (b >= 0xC2 && b < 0xE0) {
        if (end - p < 2 || !cont(p[1])) return stop();
        c = static_cast<char32_t>((b & 0x1Fu) << 6 | (p[1] & 0x3Fu));
        length = 2;
      } else {
        return stop();
      }
      const uint16_t e = table[c];
      if (e == 0) return stop();
      put(o, e);
      p += length;
    } while (p < end &&
             (*p >= 0x80 || !ascii_same || !(ascii::run_ahead(p, end) || line_end<kLineEnds>(*p))));
  }
  return stop();
}

template <bool kBigEndian, bool kVectors>
size_t TableEncoder::from_utf16(const unsigned char* p, size_t n, char* out,
                                size_t& written) const {
  const unsigned char* const start = p;
  const unsigned char* const end = p + (n & ~size_t{1});  // a unit cut by the end is iconv's
  char* o = out;
  const uint16_t* const table = bytes_.data();
  const bool ascii_same = ascii_same_;
  while (p < end) {
    const char32_t c = kBigEndian ? static_cast<char32_t>(p[0] << 8 | p[1])
                                  : static_cast<char32_t>(p[1] << 8 | p[0]);
    if (c < 0x80 && ascii_same) {
      const size_t units =
          ascii::narrow<kVectors, kBigEndian>(p, static_cast<size_t>(end - p) / 2, o);
      o += units;
      p += 2 * units;
      continue;
    }
    const uint16_t e = table[c];  // 0 for every surrogate
    if (e == 0) break;
    put(o, e);
    p += 2;
  }
  written = static_cast<size_t>(o - out);
  return static_cast<size_t>(p - start);
}

template <bool kLineEnds>
size_t TableEncoder::convert_to(std::string_view in, std::string& out, EolRewriter* eol) const {
  // No character is written longer than it is read; a line end of one byte may become two.
  return ascii::with_lanes([&]<bool kVectors>() {
    return in_windows(in, out, kLineEnds ? 2 : 1,
                      [&](const unsigned char* p, size_t n, char* o, size_t& written) {
                        switch (source_) {
                          case Source::utf16le:
                            return from_utf16<false, kVectors>(p, n, o, written);
                          case Source::utf16be:
                            return from_utf16<true, kVectors>(p, n, o, written);
                          case Source::utf8:
                            break;
                        }
                        return from_utf8<kLineEnds, kVectors>(p, n, o, written, eol);
                      });
  });
}

size_t TableEncoder::convert(std::string_view in, std::string& out) const {
  return convert_to<false>(in, out, nullptr);
}

size_t TableEncoder::convert(std::string_view in, std::string& out, EolRewriter& eol) const {
  return convert_to<true>(in, out, &eol);
}

const TableEncoder* TableEncoder::find(const std::string& from, const std::string& to) {
  // Important: a test that replaced the converter must see every conversion go through it.
  if (platform::converter_replaced()) return nullptr;
  Source source;
  if (!source_of(from, source) || !tabled_charset(to)) return nullptr;
  Registry& r = registry();
  const std::string key = upper_label(from) + '\n' + upper_label(to);
  std::lock_guard guard(r.lock);
  auto it = r.tables.find(key);
  if (it == r.tables.end())
    it = r.tables.emplace(key, std::make_unique<TableEncoder>(build(source, to))).first;
  return it->second->usable() ? it->second.get() : nullptr;
}
