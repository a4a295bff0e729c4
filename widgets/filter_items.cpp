// The Filter combo's items from the settings' filter list.
#include "widgets/filter_items.h"

const std::string& FilterItems::of(const std::vector<std::string>& filters) {
  if (filters == made_from_) return items_;
  made_from_ = filters;
  items_.clear();
  for (const std::string& f : filters) {
    items_ += f;
    items_ += '\0';
  }
  items_ += '\0';
  return items_;
}
