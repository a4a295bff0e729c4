// The last directory a thread opened names in, kept open so that the next name in it is found
// without walking the directory's whole path again.
#pragma once

#include <string>

namespace platform {

class DirCache {
 public:
  DirCache() = default;
  ~DirCache();
  DirCache(const DirCache&) = delete;
  DirCache& operator=(const DirCache&) = delete;

  // A descriptor of `dir` to open names relative to (openat), or -1 when it cannot be opened:
  // the caller then uses the whole path, which reports the failure in its own words.
  // Important: a directory renamed away and replaced meanwhile is still the one opened first.
  int fd_for(const std::string& dir);
  // A descriptor of the folder `rel` below `root`, or -1 with errno: the first `followed` bytes
  // of `rel` are opened by path (links followed), each folder after them by name without
  // following a link (ENOTDIR where a link or file stands in a folder's place).
  int fd_below(const std::string& root, const std::string& rel, size_t followed);
  void close();

 private:
  std::string dir_;  // the key: the path, or root, rel and followed for fd_below
  int fd_ = -1;
};

}  // namespace platform
