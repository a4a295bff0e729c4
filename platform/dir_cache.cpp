// The last directory opened by path, kept open for names in it.
#include "platform/dir_cache.h"

#include <fcntl.h>

#include "platform/sys_io.h"

namespace platform {

DirCache::~DirCache() { close(); }

int DirCache::fd_for(const std::string& dir) {
  if (fd_ >= 0 && dir == dir_) return fd_;
  close();
  fd_ = retry_eintr([&] { return sysio().open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC, 0); });
  if (fd_ >= 0) dir_ = dir;
  return fd_;
}

void DirCache::close() {
  if (fd_ >= 0) sysio().close(fd_);
  fd_ = -1;
  dir_.clear();
}

}  // namespace platform
