// Fuzz target: filter lists and match paths; never a crash, and the same answer as a plain
// reading of the filter rules. Input: the filter, a NUL, then match paths separated by '\n'.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "policy/filter.h"

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// The rules as the README states them, item by item.
bool reference_accepts(std::string_view filter, std::string_view path) {
  if (filter.empty() || filter.find("*.*") != std::string_view::npos) return true;
  const size_t dot = path.rfind('.');
  const std::string_view ext = dot == std::string_view::npos ? "" : path.substr(dot);
  bool last = false;
  size_t start = 0;
  while (start <= filter.size()) {
    size_t end = filter.find(';', start);
    if (end == std::string_view::npos) end = filter.size();
    std::string_view item = filter.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    if (item[0] == '*') {
      const std::string_view text = item.substr(1);
      last = text.empty() || same_ignoring_case(ext, text);
      if (last) return true;
    } else if (item[0] == '!') {
      item.remove_prefix(1);
      if (!item.empty() && item.front() == '*') item.remove_prefix(1);
      if (!item.empty() && item.back() == '*') item.remove_suffix(1);
      if (!item.empty()) last = path.find(item) == std::string_view::npos;
    }
  }
  return last;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string filter(input.substr(0, nul));
  std::string_view rest = nul == std::string_view::npos ? "" : input.substr(nul + 1);
  filter_set set;
  build_filter_set(filter, set);
  while (true) {
    const size_t end = rest.find('\n');
    std::string path = "/" + std::string(rest.substr(0, end));
    // A file name never holds a NUL.
    for (char& c : path) c = c == '\0' ? '_' : c;
    if (filter_accepts(set, path) != reference_accepts(filter, path)) {
      std::fprintf(stderr, "filter and reference disagree on %s\n", path.c_str());
      std::abort();
    }
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return 0;
}
