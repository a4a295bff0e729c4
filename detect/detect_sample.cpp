// Text for people: the preview's sample line and the hint about a narrow label chosen by hand.
#include <algorithm>
#include <cstdio>
#include <string>

#include "detect/detect.h"
#include "detect/detect_decode.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace detect {
namespace {

bool ascii_compatible(const std::string& encoding) {
  return encoding.rfind("UTF-16", 0) != 0 && encoding.rfind("UTF-32", 0) != 0 &&
         encoding.rfind("UCS-", 0) != 0;
}

// The first line of `content` holding a byte above 0x7F (or an escape, for ISO-2022).
std::u32string first_line_bytes(std::string_view content, const std::string& encoding,
                                size_t max_bytes) {
  const bool iso2022 = encoding.rfind("ISO-2022", 0) == 0;
  size_t pos = 0;
  while (pos < content.size()) {
    const auto b = static_cast<unsigned char>(content[pos]);
    if (b >= 0x80 || (iso2022 && b == 0x1B)) break;
    ++pos;
  }
  if (pos >= content.size()) return {};
  // Every byte before `pos` is ASCII, so any start before it is a character boundary.
  const size_t back = content.rfind('\n', pos);
  size_t start = back == std::string_view::npos ? 0 : back + 1;
  // A long ASCII lead-in is cut so that the non-ASCII text shows in the sample.
  const size_t lead = max_bytes / 3;
  if (!iso2022) start = std::max(start, pos > lead ? pos - lead : 0);
  size_t end = content.find('\n', pos);
  if (end == std::string_view::npos) end = content.size();
  end = std::min(end, pos + max_bytes * 4 + 16);
  std::u32string text;
  decode_lenient(content.substr(start, end - start), encoding, text);
  // A line cut short by the bound may end in half a character.
  if (end < content.size() && content[end] != '\n' && !text.empty() && text.back() == 0xFFFD)
    text.pop_back();
  return text;
}

std::u32string first_line_decoded(std::string_view content, const std::string& encoding) {
  std::u32string all;
  decode_lenient(content.substr(0, 1 << 16), encoding, all);
  size_t start = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i] == '\n') start = i + 1;
    if (all[i] >= 0x80) {
      size_t end = all.find(U'\n', i);
      if (end == std::u32string::npos) end = all.size();
      return all.substr(start, end - start);
    }
  }
  return {};
}

bool blank(char32_t c) { return c == ' ' || c == '\t' || c == '\r' || c == 0x3000; }

std::string hex_bytes(const std::string& bytes) {
  std::string out = "0x";
  for (unsigned char b : bytes) {
    char h[3];
    std::snprintf(h, sizeof h, "%02X", b);
    out += h;
  }
  return out;
}

// A character as a message shows it: controls by their number.
std::string shown(char32_t c) {
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
    char h[24];
    std::snprintf(h, sizeof h, "U+%04X", static_cast<unsigned>(c));
    return kestrum::strfmt(_("%s (a control)"), h);
  }
  std::string out;
  append_utf8(out, c);
  return out;
}

}  // namespace

std::string sample_line(std::string_view content, const std::string& encoding, size_t max_bytes) {
  const std::string name = canonical_name(encoding);
  std::u32string line = ascii_compatible(name) ? first_line_bytes(content, name, max_bytes)
                                               : first_line_decoded(content, name);
  for (char32_t& c : line)
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) c = ' ';
  size_t from = 0, to = line.size();
  while (from < to && blank(line[from])) ++from;
  while (to > from && blank(line[to - 1])) --to;
  std::string out;
  const std::string ellipsis = "…";
  for (size_t i = from; i < to; ++i) {
    std::string one;
    append_utf8(one, line[i]);
    const bool last = i + 1 == to;
    const size_t reserve = last ? 0 : ellipsis.size();
    if (out.size() + one.size() + reserve > max_bytes) {
      // Never cut inside a character: stop before it and mark the cut.
      if (out.size() + ellipsis.size() <= max_bytes) out += ellipsis;
      break;
    }
    out += one;
  }
  return out;
}

std::string narrow_label_hint(std::string_view content, std::string_view chosen) {
  const std::string narrow = canonical_name(chosen);
  const std::string wide = wider_label(narrow);
  if (wide.empty()) return "";
  const std::string_view probe = content.substr(0, 1 << 20);
  std::u32string a, b;
  if (!decode_lenient(probe, narrow, a) || !decode_lenient(probe, wide, b)) return "";
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  // Where the wider label cannot read the text either, it is no better a choice.
  if (i == n || b[i] == 0xFFFD) return "";
  const std::string bytes = encode_char(b[i], wide);
  const std::string where = bytes.empty() ? _("a byte") : hex_bytes(bytes);
  if (a[i] == 0xFFFD)
    return kestrum::strfmt(_("%s cannot read %s; %s reads it as %s"), narrow.c_str(), where.c_str(),
                           wide.c_str(), shown(b[i]).c_str());
  return kestrum::strfmt(_("%s reads %s as %s; %s would read it as %s"), narrow.c_str(),
                         where.c_str(), shown(a[i]).c_str(), wide.c_str(), shown(b[i]).c_str());
}

}  // namespace detect
