// Files claimed part by part, each part from its front.
#include "job/file_claims.h"

FileClaims::FileClaims(const std::vector<size_t>& starts, size_t count)
    : part_(std::make_unique<Part[]>(starts.empty() ? 1 : starts.size())),
      parts_(starts.empty() ? 1 : starts.size()),
      count_(count) {
  for (size_t p = 0; p < parts_; ++p) {
    part_[p].next.store(starts.empty() ? 0 : starts[p], std::memory_order_relaxed);
    part_[p].end = p + 1 < parts_ ? starts[p + 1] : count;
  }
}

size_t FileClaims::claim(size_t& part) {
  part %= parts_;
  for (size_t tried = 0; tried < parts_; ++tried, part = (part + 1) % parts_) {
    Part& p = part_[part];
    // Important: a part's cursor runs past its end once done; only a value below it is a file.
    if (p.next.load(std::memory_order_relaxed) >= p.end) continue;
    const size_t i = p.next.fetch_add(1, std::memory_order_relaxed);
    if (i < p.end) return i;
  }
  return count_;
}
