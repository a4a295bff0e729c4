// The Filter combo's items, made again only when the settings' filter list changes.
#pragma once

#include <string>
#include <vector>

class FilterItems {
 public:
  // The items of `filters`: each followed by NUL, then one more NUL.
  const std::string& of(const std::vector<std::string>& filters);

 private:
  std::vector<std::string> made_from_;
  std::string items_{'\0'};
};
