// Exact YAML text: the emitter's own output, verified by reading it back, with a byte-carrying
// fallback for scalars the emitter would rewrite.
#include "config/yaml_text.h"

#include <exception>
#include <string_view>
#include <vector>

namespace yamltext {
namespace {

// Each byte 0x80..0xFF the emitter would mangle travels as the private-use code point
// U+E000 + byte, which the emitter copies verbatim, and is put back in the emitted text.
// Important: the emitter replaces malformed UTF-8 (legacy code-page paths such as GBK) and
// noncharacters with U+FFFD inside quoted scalars; plain scalars keep raw bytes.
constexpr char32_t kMarkerFirst = 0xE080;
constexpr char32_t kMarkerLast = 0xE0FF;
constexpr int kMaxDepth = 256;
constexpr long kMaxCompared = 20000;
constexpr size_t kMaxRewritten = 5000;

// Length of the UTF-8 sequence at s[i] that the emitter copies unchanged, or 0.
size_t kept_sequence(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return 1;
  size_t n;
  char32_t cp;
  char32_t min;
  if ((c & 0xE0) == 0xC0) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  if ((cp & 0xFFFE) == 0xFFFE || (cp >= 0xFDD0 && cp <= 0xFDEF)) return 0;
  if (cp >= kMarkerFirst && cp <= kMarkerLast) return 0;  // would be taken for a marker
  return n;
}

std::string encode_bytes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (size_t n = kept_sequence(s, i)) {
      out.append(s.substr(i, n));
      i += n;
      continue;
    }
    const char32_t cp = 0xE000 + static_cast<unsigned char>(s[i++]);
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

std::string decode_bytes(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (b(0) == 0xEE && i + 2 < s.size() && (b(1) == 0x82 || b(1) == 0x83) &&
        (b(2) & 0xC0) == 0x80) {
      out += static_cast<char>(((b(1) & 0x3F) << 6) | (b(2) & 0x3F));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

// Rewrites every scalar of `node` once, aliases included. False when the tree is too large.
bool encode_scalars(YAML::Node node, std::vector<YAML::Node>& seen) {
  for (const auto& s : seen)
    if (s.is(node)) return true;
  if (seen.size() >= kMaxRewritten) return false;
  seen.push_back(node);
  if (node.IsScalar()) {
    std::string enc = encode_bytes(node.Scalar());
    // Important: this assigns through the node itself; `node` must belong to a clone.
    if (enc != node.Scalar()) node = enc;
    return true;
  }
  for (auto it = node.begin(); it != node.end(); ++it) {
    if (node.IsMap()) {
      if (!encode_scalars(it->first, seen) || !encode_scalars(it->second, seen)) return false;
    } else if (!encode_scalars(*it, seen)) {
      return false;
    }
  }
  return true;
}

// "?" and "!" are the parser's marks for plain and quoted scalars, never emitted.
bool same_tag(const std::string& a, const std::string& b) {
  const auto implicit = [](const std::string& t) { return t.empty() || t == "?" || t == "!"; };
  return (implicit(a) && implicit(b)) || a == b;
}

bool same(const YAML::Node& a, const YAML::Node& b, int depth, long& budget) {
  // Aliases may form cycles: past these limits the trees count as compared.
  if (depth > kMaxDepth || --budget < 0) return true;
  if (a.Type() != b.Type() || !same_tag(a.Tag(), b.Tag())) return false;
  if (a.IsScalar()) return a.Scalar() == b.Scalar();
  if (!a.IsMap() && !a.IsSequence()) return true;
  if (a.size() != b.size()) return false;
  auto ib = b.begin();
  for (auto ia = a.begin(); ia != a.end(); ++ia, ++ib) {
    if (ib == b.end()) return false;
    if (a.IsMap() ? !same(ia->first, ib->first, depth + 1, budget) ||
                        !same(ia->second, ib->second, depth + 1, budget)
                  : !same(*ia, *ib, depth + 1, budget))
      return false;
  }
  return ib == b.end();
}

std::string emit(const YAML::Node& doc) {
  YAML::Emitter emitter;
  emitter << doc;
  return std::string(emitter.c_str(), emitter.size());
}

bool reads_back(const std::string& text, const YAML::Node& doc) {
  try {
    return same_document(YAML::Load(text), doc);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool same_document(const YAML::Node& a, const YAML::Node& b) {
  long budget = kMaxCompared;
  return same(a, b, 0, budget);
}

bool emit_exact(const YAML::Node& doc, std::string& text) {
  try {
    text = emit(doc);
    if (reads_back(text, doc)) return true;
    YAML::Node copy = YAML::Clone(doc);
    std::vector<YAML::Node> seen;
    if (!encode_scalars(copy, seen)) return false;
    text = decode_bytes(emit(copy));
    return reads_back(text, doc);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace yamltext
