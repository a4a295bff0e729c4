// Cutting the non-ASCII evidence out of a file, and the cheap whole-file checks.
#include "detect/detect_excerpt.h"

#include <algorithm>
#include <cstring>

#include "detect/detect_decode.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace detect {
namespace {

constexpr size_t kJoinGap = 4;  // ASCII bytes that end a segment
constexpr size_t kBefore = 2;   // ASCII context kept before a run
constexpr size_t kAfter = 2;    // and after it (the first may be a trail byte)

bool high(char c) { return static_cast<unsigned char>(c) >= 0x80; }

size_t next_high(std::string_view s, size_t from) {
  // Eight bytes at a time: the text between non-ASCII runs is mostly long.
  while (from + 8 <= s.size()) {
    uint64_t word;
    std::memcpy(&word, s.data() + from, 8);
    if (word & 0x8080808080808080ull) break;
    from += 8;
  }
  while (from < s.size() && !high(s[from])) ++from;
  return from;
}

}  // namespace

uint64_t Excerpt::file_offset(size_t at) const {
  auto it = std::upper_bound(pieces.begin(), pieces.end(), at,
                             [](size_t v, const Piece& p) { return v < p.at; });
  if (it == pieces.begin()) return at;
  --it;
  return it->from + (at - it->at);
}

Excerpt cut_excerpt(std::string_view content, size_t max_bytes) {
  Excerpt ex;
  size_t pos = next_high(content, 0);
  ex.any_high = pos < content.size();
  while (pos < content.size()) {
    if (ex.bytes.size() >= max_bytes) {
      ex.truncated = true;
      break;
    }
    const size_t start = pos >= kBefore ? pos - kBefore : 0;
    size_t end = pos;
    // Extend over runs joined by short ASCII gaps.
    while (end < content.size()) {
      while (end < content.size() && high(content[end])) ++end;
      size_t gap = end;
      while (gap < content.size() && gap - end < kJoinGap && !high(content[gap])) ++gap;
      if (gap < content.size() && high(content[gap]) && gap - end < kJoinGap) {
        end = gap;
        continue;
      }
      break;
    }
    end = std::min(content.size(), end + kAfter);
    if (!ex.bytes.empty()) ex.bytes += '\n';
    ex.pieces.push_back({ex.bytes.size(), start});
    const size_t room = max_bytes > ex.bytes.size() ? max_bytes - ex.bytes.size() : 0;
    if (end - start > room) {
      // A cut inside a run may leave half a character at the end; readers allow for that.
      ex.bytes.append(content.substr(start, room));
      ex.truncated = true;
      break;
    }
    ex.bytes.append(content.substr(start, end - start));
    pos = next_high(content, end);
  }
  return ex;
}

bool has_high_byte(std::string_view content) { return next_high(content, 0) < content.size(); }

bool valid_utf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    i = next_high(s, i);
    if (i >= n) break;
    const auto b = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t min;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      len = 2, min = 0x80, cp = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3, min = 0x800, cp = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4, min = 0x10000, cp = b & 0x07u;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = cp << 6 | (c & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

LineColumn line_column(std::string_view content, uint64_t offset) {
  LineColumn lc;
  const size_t end = static_cast<size_t>(std::min<uint64_t>(offset, content.size()));
  size_t line_start = 0;
  for (size_t i = 0; i < end; ++i) {
    if (content[i] == '\n') {
      ++lc.line;
      line_start = i + 1;
    }
  }
  lc.column = end - line_start + 1;
  return lc;
}

}  // namespace detect

namespace detect {
namespace {

// The characters of `text` around `at`: from the line's start when it lies within a third of
// `max_chars` before it, else from a word's start, and on to `max_chars` in all, within the
// line.
std::string around(const std::u32string& text, size_t at, size_t max_chars) {
  size_t from = at;
  const size_t back = max_chars / 3;
  while (from > 0 && at - from < back && text[from - 1] != '\n') --from;
  if (from > 0 && text[from - 1] != '\n') {
    for (size_t k = from; k < at; ++k)
      if (text[k] == ' ' || text[k] == '\t') from = k + 1;
  }
  size_t to = from;
  while (to < text.size() && to - from < max_chars && text[to] != '\n' && text[to] != '\r') ++to;
  std::string out;
  if (from > 0 && text[from - 1] != '\n') out += "\u2026";
  for (size_t k = from; k < to; ++k) append_utf8(out, text[k] == '\t' ? U' ' : text[k]);
  if (to < text.size() && text[to] != '\n' && text[to] != '\r') out += "\u2026";
  return out;
}

// Where two readings part: the line and each reading's text around it; `found` false when they
// agree over the first 64 KiB.
struct Parting {
  bool found = false;
  unsigned long long line = 1;
  std::string a, b;
};

Parting parting(std::string_view content, const std::string& a, const std::string& b,
                size_t max_chars) {
  Parting p;
  const std::string_view head = content.substr(0, size_t{1} << 16);
  std::u32string ta, tb;
  if (!decode_lenient(head, a, ta) || (!b.empty() && !decode_lenient(head, b, tb))) return p;
  size_t i = 0;
  if (b.empty()) {  // one reading: where its text leaves ASCII
    while (i < ta.size() && ta[i] < 0x80) ++i;
  } else {
    while (i < ta.size() && i < tb.size() && ta[i] == tb[i]) ++i;
  }
  if (i == ta.size() && (b.empty() || i == tb.size())) return p;
  for (size_t k = 0; k < i; ++k) p.line += ta[k] == '\n' ? 1 : 0;
  p.found = true;
  p.a = around(ta, i, max_chars);
  if (!b.empty()) p.b = around(tb, i, max_chars);
  return p;
}

}  // namespace

std::string readings_apart(std::string_view content, const std::string& a, const std::string& b,
                           size_t max_chars) {
  const Parting p = parting(content, a, b, max_chars);
  if (!p.found) return "";
  std::string side = a + " \u201C" + p.a + "\u201D";
  if (!b.empty()) side += "  \u2502  " + b + " \u201C" + p.b + "\u201D";
  return kestrum::strfmt(_("line %llu: %s"), p.line, side.c_str());
}

std::string first_difference(std::string_view content, const std::string& a, const std::string& b,
                             size_t max_chars) {
  const Parting p = parting(content, a, b, max_chars);
  if (!p.found) return "";
  if (b.empty())
    return kestrum::strfmt(_("line %llu: %s reads \u201C%s\u201D"), p.line, a.c_str(), p.a.c_str());
  return kestrum::strfmt(_("line %llu: %s reads \u201C%s\u201D, %s \u201C%s\u201D"), p.line,
                         a.c_str(), p.a.c_str(), b.c_str(), p.b.c_str());
}

}  // namespace detect
