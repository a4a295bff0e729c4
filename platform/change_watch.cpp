// Changes to watched directories' files, read from one inotify instance.
#include "platform/change_watch.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/sys_io.h"

namespace platform {
namespace {

constexpr uint32_t kChanges = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                              IN_CREATE | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kDirGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

// File systems changed only through this kernel, so that it sees every change.
bool local_file_system(const std::string& dir) {
  struct statfs st;
  if (sysio().statfs(dir.c_str(), &st) != 0) return false;
  switch (static_cast<unsigned long>(st.f_type)) {
    case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

}  // namespace

ChangeWatch::ChangeWatch() : fd_(sysio().inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

ChangeWatch::~ChangeWatch() {
  if (closer_.joinable()) {
    closer_.join();
  } else if (fd_ >= 0 && !finished_) {
    sysio().close(fd_);
  }
}

void ChangeWatch::finish() {
  if (fd_ < 0 || finished_) return;
  finished_ = true;
  try {
    closer_ = std::thread([fd = fd_] { sysio().close(fd); });
  } catch (const std::system_error&) {
    sysio().close(fd_);
  }
}

bool ChangeWatch::watch(const std::string& dir) {
  if (fd_ < 0 || finished_) return false;
  {
    std::lock_guard guard(lock_);
    if (watched_.count(dir) != 0) return true;
  }
  // Important: the system calls outside the lock. Two threads adding one folder at once get
  // the same watch from the kernel; it is there before either returns.
  if (!local_file_system(dir)) return false;
  const int wd = sysio().inotify_add_watch(fd_, dir.c_str(), kChanges);
  if (wd < 0) return false;
  // Two spellings of one directory share a watch, and its events.
  std::lock_guard guard(lock_);
  watched_.emplace(dir, wd);
  return true;
}

void ChangeWatch::collect() {
  if (fd_ < 0 || finished_) return;
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = retry_eintr([&] { return sysio().read(fd_, buffer, sizeof buffer); });
    if (n < 0) {
      lost_ = lost_ || errno != EAGAIN;
      return;
    }
    if (n == 0) return;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event e;
      std::memcpy(&e, buffer + at, sizeof e);
      const char* name = buffer + at + sizeof e;
      noticed(e.wd, e.mask, e.len > 0 ? std::string_view(name, strnlen(name, e.len)) : "");
      at += static_cast<ssize_t>(sizeof e + e.len);
    }
  }
}

void ChangeWatch::noticed(int wd, uint32_t mask, std::string_view name) {
  if (mask & IN_Q_OVERFLOW) lost_ = true;
  if (mask & kDirGone) dirs_changed_.insert(wd);
  if (!name.empty()) changed_[wd].emplace(name);
}

bool ChangeWatch::may_have_changed(std::string_view path) const {
  const size_t slash = path.rfind('/');
  if (lost_ || fd_ < 0 || slash == std::string_view::npos) return true;
  const auto dir = watched_.find(path.substr(0, slash));
  if (dir == watched_.end() || dirs_changed_.count(dir->second) != 0) return true;
  const auto names = changed_.find(dir->second);
  return names != changed_.end() && names->second.count(path.substr(slash + 1)) != 0;
}

}  // namespace platform
