// Finding a quoted scalar without its closing quote, from the parser's marks.
#include "config/yaml_quotes.h"

#include <set>
#include <utility>

#include "transcode/utf8.h"

namespace {

constexpr int kMaxDepth = 256;
constexpr long kMaxVisited = 200000;

// Whether the quoted scalar opening at text[open] has its closing quote.
bool closed_at(std::string_view text, size_t open) {
  const char quote = text[open];
  for (size_t i = open + 1; i < text.size(); ++i) {
    if (quote == '"' && text[i] == '\\') {
      ++i;
    } else if (text[i] == quote) {
      if (quote == '"' || i + 1 >= text.size() || text[i + 1] != '\'') return true;
      ++i;  // '' inside single quotes is one quote
    }
  }
  return false;
}

// The opening quote of the scalar whose mark is at `pos` (after an anchor or a tag), or npos.
size_t opening_quote(std::string_view text, size_t pos) {
  while (pos < text.size() && (text[pos] == '&' || text[pos] == '!')) {
    while (pos < text.size() && text[pos] != ' ' && text[pos] != '\t' && text[pos] != '\n') ++pos;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  }
  if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) return pos;
  return std::string_view::npos;
}

// Where a walk has been: collections by where they start in the text.
struct Walk {
  std::string_view text;
  std::set<std::pair<int, int>> seen;  // (position, type)
  long budget = kMaxVisited;
};

std::optional<YAML::Mark> find(const YAML::Node& node, Walk& walk, int depth) {
  // Past these limits the rest counts as closed.
  if (depth > kMaxDepth || --walk.budget < 0) return std::nullopt;
  const std::string_view text = walk.text;
  if (node.IsScalar()) {
    // "!" is the parser's tag for a quoted or block scalar.
    const YAML::Mark mark = node.Mark();
    if (node.Tag() != "!" || mark.pos < 0) return std::nullopt;
    const size_t open = opening_quote(text, static_cast<size_t>(mark.pos));
    if (open != std::string_view::npos && !closed_at(text, open)) return mark;
    return std::nullopt;
  }
  if (!node.IsMap() && !node.IsSequence()) return std::nullopt;
  // Important: an alias is the anchored node itself, so a document may contain itself; each
  // collection is walked once, which also keeps a small file of many aliases fast.
  if (!walk.seen.emplace(node.Mark().pos, static_cast<int>(node.Type())).second)
    return std::nullopt;
  for (auto it = node.begin(); it != node.end(); ++it) {
    if (node.IsMap()) {
      if (auto m = find(it->first, walk, depth + 1)) return m;
      if (auto m = find(it->second, walk, depth + 1)) return m;
    } else if (auto m = find(*it, walk, depth + 1)) {
      return m;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<YAML::Mark> unclosed_quote(const YAML::Node& doc, std::string_view text) {
  // The parser's positions count from after a UTF-8 byte-order mark.
  if (text.substr(0, 3) == kUtf8Bom) text.remove_prefix(3);
  Walk walk;
  walk.text = text;
  return find(doc, walk, 0);
}
