// The Filter combo's items from the settings' filter list.
#include "widgets/filter_items.h"

#include <cstring>

const std::string& FilterItems::of(const std::vector<std::string>& filters) {
  if (filters == made_from_) return items_;
  made_from_ = filters;
  items_.clear();
  for (const std::string& f : filters) {
    items_ += f;
    items_ += '\0';
  }
  items_ += '\0';
  list_.clear();
  for (const char* p = items_.c_str(); *p != '\0'; p += std::strlen(p) + 1) list_.push_back(p);
  return items_;
}
