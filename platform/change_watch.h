// Changes to the files of watched directories, noticed by the kernel (inotify) from the moment
// each directory is watched, so that a run need not look at every source again at its end.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace platform {

// Important: only what passes through a watched directory's own names is noticed. A file
// reached through a link, one with other names (a write through another name is not seen),
// one on a file system that others can change (NFS, FUSE, overlays), or a change made through
// a shared mapping is not covered: its caller must look at such files itself.
class ChangeWatch {
 public:
  ChangeWatch();
  ~ChangeWatch();
  ChangeWatch(const ChangeWatch&) = delete;
  ChangeWatch& operator=(const ChangeWatch&) = delete;

  // Starts watching the files directly in `dir`; false when it cannot be (no inotify, too many
  // watches, a file system whose changes may come from elsewhere). Thread-safe, with itself
  // only: threads may add folders at once, and none of them waits for another's.
  bool watch(const std::string& dir);
  // Reads what was noticed so far; the answers below hold as of this call. Not while a thread
  // may still be in watch().
  void collect();
  // Stops noticing; what was collected still answers. Important: the kernel's side is let go
  // on another thread, since closing it waits until every watch is dropped (some 10 ms at the
  // end of every run); that thread is joined when the watch goes.
  void finish();
  // Whether `path` ("DIR/NAME", DIR spelled as watched) may have changed since DIR was watched:
  // false only when DIR is watched and nothing was noticed there for NAME or for DIR itself.
  bool may_have_changed(std::string_view path) const;

 private:
  void noticed(int wd, uint32_t mask, std::string_view name);

  const int fd_ = -1;
  bool finished_ = false;  // fd_ handed to closer_
  std::thread closer_;
  std::mutex lock_;    // watched_ while folders are being added
  bool lost_ = false;  // events were dropped, or reading them failed: nothing is trusted
  // Looked up by a part of a path, with no string made for it: once per file at a run's end.
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Names = std::unordered_set<std::string, NameHash, std::equal_to<>>;
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> watched_;  // by directory
  std::unordered_set<int> dirs_changed_;    // moved, deleted, unmounted
  std::unordered_map<int, Names> changed_;  // names, by watch
};

}  // namespace platform
