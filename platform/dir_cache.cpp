// The last directory opened by path, kept open for names in it.
#include "platform/dir_cache.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

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

int DirCache::fd_below(const std::string& root, const std::string& rel, size_t followed) {
  followed = std::min(followed, rel.size());
  std::string key = root;
  key += '\0';
  key += rel;
  key += '\0';
  key += std::to_string(followed);
  if (fd_ >= 0 && key == dir_) return fd_;
  close();
  const std::string first = followed == 0 ? root : root + "/" + rel.substr(0, followed);
  constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  int fd = retry_eintr([&] { return sysio().open(first.c_str(), kFlags, 0); });
  for (size_t at = followed; fd >= 0 && at < rel.size();) {
    size_t end = rel.find('/', at);
    if (end == std::string::npos) end = rel.size();
    const std::string name = rel.substr(at, end - at);
    at = end + 1;
    if (name.empty()) continue;
    const int next =
        retry_eintr([&] { return sysio().openat(fd, name.c_str(), kFlags | O_NOFOLLOW, 0); });
    const int err = errno;
    sysio().close(fd);
    fd = next;
    errno = err;
  }
  if (fd < 0) return -1;
  fd_ = fd;
  dir_ = std::move(key);
  return fd_;
}

void DirCache::close() {
  if (fd_ >= 0) sysio().close(fd_);
  fd_ = -1;
  dir_.clear();
}

}  // namespace platform
