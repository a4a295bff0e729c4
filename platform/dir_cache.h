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
  void close();

 private:
  std::string dir_;
  int fd_ = -1;
};

}  // namespace platform
