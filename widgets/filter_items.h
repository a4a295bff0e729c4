// The Filter combo's items, made again only when the settings' filter list changes.
#pragma once

#include <string>
#include <vector>

class FilterItems {
 public:
  // The items of `filters`: each followed by NUL, then one more NUL.
  const std::string& of(const std::vector<std::string>& filters);
  // The same items one by one, as of the last of().
  const std::vector<const char*>& list() const { return list_; }

 private:
  std::vector<std::string> made_from_;
  std::string items_{'\0'};
  std::vector<const char*> list_;  // into items_
};
