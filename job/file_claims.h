// Which file each conversion thread takes next: the list cut into one run of folders per thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

// Important: two threads creating files in one folder queue on that folder's lock in the
// kernel (and its directory blocks on ext4). The files are listed folder by folder, so each
// thread takes the files of its own part of the list from the front; a thread whose part is
// done helps with the others', from their fronts.
class FileClaims {
 public:
  // `starts`: where each part begins, ascending, the first 0; the last part ends at `count`.
  FileClaims(const std::vector<size_t>& starts, size_t count);

  // The next file for a thread now working on part `part` (it moves on when that is done), or
  // `count` when no file is left. Thread-safe.
  size_t claim(size_t& part);
  size_t parts() const { return parts_; }

 private:
  struct alignas(64) Part {
    std::atomic<size_t> next{0};
    size_t end = 0;
  };
  std::unique_ptr<Part[]> part_;
  size_t parts_ = 0;
  size_t count_ = 0;
};

// Where each of `threads` parts of a list of `count` files starts: about equal, each moved on
// to where a new folder begins when one does soon after (`folder_changes(i)`: file i lies in
// another folder than file i - 1).
template <typename FolderChanges>
std::vector<size_t> part_starts(size_t count, size_t threads, FolderChanges folder_changes) {
  std::vector<size_t> starts{0};
  if (threads < 2 || count < 2 * threads) return starts;
  const size_t slack = count / (2 * threads);
  for (size_t t = 1; t < threads; ++t) {
    const size_t even = count * t / threads;
    size_t at = even;
    while (at < even + slack && at < count && !folder_changes(at)) ++at;
    if (at == even + slack || at == count) at = even;
    if (at > starts.back()) starts.push_back(at);
  }
  return starts;
}
