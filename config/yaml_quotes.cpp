// Finding a quoted scalar without its closing quote, from the parser's marks.
#include "config/yaml_quotes.h"

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

std::optional<YAML::Mark> find(const YAML::Node& node, std::string_view text, int depth,
                               long& budget) {
  // Aliases may form cycles: past these limits the rest counts as closed.
  if (depth > kMaxDepth || --budget < 0) return std::nullopt;
  if (node.IsScalar()) {
    // "!" is the parser's tag for a quoted or block scalar.
    const YAML::Mark mark = node.Mark();
    if (node.Tag() != "!" || mark.pos < 0) return std::nullopt;
    const size_t open = opening_quote(text, static_cast<size_t>(mark.pos));
    if (open != std::string_view::npos && !closed_at(text, open)) return mark;
    return std::nullopt;
  }
  if (!node.IsMap() && !node.IsSequence()) return std::nullopt;
  for (auto it = node.begin(); it != node.end(); ++it) {
    if (node.IsMap()) {
      if (auto m = find(it->first, text, depth + 1, budget)) return m;
      if (auto m = find(it->second, text, depth + 1, budget)) return m;
    } else if (auto m = find(*it, text, depth + 1, budget)) {
      return m;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<YAML::Mark> unclosed_quote(const YAML::Node& doc, std::string_view text) {
  // The parser's positions count from after a UTF-8 byte-order mark.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  long budget = kMaxVisited;
  return find(doc, text, 0, budget);
}
