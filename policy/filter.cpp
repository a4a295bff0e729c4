// Filter list parsing and matching.
#include "policy/filter.h"

#include <strings.h>

namespace {

// "*suffix": the extension equals the text, ASCII case ignored; empty text takes every file.
filter_pattern suffix_pattern(std::string_view text) {
  return [text](const std::string_view&, const std::string_view& extension, bool& undecided) {
    undecided = false;
    if (text.empty()) return true;
    return extension.size() == text.size() &&
           ::strncasecmp(extension.data(), text.data(), text.size()) == 0;
  };
}

// "!text": the match path lacks the text (case-sensitive). Never settles a match alone.
filter_pattern exclusion_pattern(std::string_view text) {
  return [text](const std::string_view& match_path, const std::string_view&, bool& undecided) {
    undecided = true;
    return match_path.find(text) == std::string_view::npos;
  };
}

void add_item(std::string_view item, filter_set& set) {
  if (item.front() == '*') {
    set.patterns.push_back(suffix_pattern(item.substr(1)));
  } else if (item.front() == '!') {
    item.remove_prefix(1);
    if (!item.empty() && item.front() == '*') item.remove_prefix(1);
    if (!item.empty() && item.back() == '*') item.remove_suffix(1);
    if (!item.empty()) set.patterns.push_back(exclusion_pattern(item));
  }
  // Items of any other form (a blank first included) are ignored.
}

}  // namespace

void parse_filters(const char* filter, size_t length, filter_set& set) {
  std::string_view rest(filter, length);
  while (!rest.empty()) {
    const size_t end = rest.find(';');
    const std::string_view item = rest.substr(0, end);
    if (!item.empty()) add_item(item, set);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
}

void build_filter_set(const std::string& filter, filter_set& set) {
  set.patterns.clear();
  set.match_all = filter.empty() || filter.find("*.*") != std::string::npos;
  if (!set.match_all) parse_filters(filter.data(), filter.size(), set);
}

bool filter_accepts(const filter_set& set, std::string_view match_path) {
  if (set.match_all) return true;
  // Taken over the whole path, so "/lib.old/Makefile" has the extension ".old/Makefile".
  const size_t dot = match_path.rfind('.');
  const std::string_view extension =
      dot == std::string_view::npos ? std::string_view() : match_path.substr(dot);
  bool last = false;
  for (const auto& pattern : set.patterns) {
    bool undecided = false;
    last = pattern(match_path, extension, undecided);
    if (last && !undecided) return true;
  }
  return last;
}

fsutil::search_accept accept_by(const filter_set& set) {
  if (set.match_all) return {};
  return [&set](std::string_view match_path) { return filter_accepts(set, match_path); };
}
