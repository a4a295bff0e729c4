// Directory test and the safe write of targets and settings files.
#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "platform/sys_io.h"

namespace platform {
namespace {

// Writes everything, retrying short writes; errno of the failure, or 0.
int write_all(int fd, std::string_view data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    ssize_t n = sysio().write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

// Writes and closes `fd`; on failure unlinks `path`. errno or 0.
int finish_file(int fd, const std::string& path, std::string_view data) {
  int err = write_all(fd, data);
  if (sysio().close(fd) != 0 && err == 0) err = errno;
  if (err != 0) ::unlink(path.c_str());
  return err;
}

bool is_read_only(const std::string& path, const struct stat& st) {
  // Important: root passes access(W_OK) on any file, so the mode bits decide too.
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

int replace_existing(const std::string& path, const struct stat& st, std::string_view data) {
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  if (is_read_only(path, st)) return EACCES;
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // A hidden name, so a search running over the same tree passes it over; cut so that a
  // target whose name is already NAME_MAX long still gets a temporary file.
  constexpr size_t kTmpExtra = sizeof(".") - 1 + sizeof(".ouzel-XXXXXX") - 1;
  if (name.size() > NAME_MAX - kTmpExtra) name.resize(NAME_MAX - kTmpExtra);
  std::string tmp = dir + "." + name + ".ouzel-XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return errno;
  ::fchmod(fd, st.st_mode & 07777);
  if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Not the owner: the replacement belongs to us, as any new file would.
  }
  if (int err = finish_file(fd, tmp, data)) return err;
  if (sysio().rename(tmp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return err;
  }
  return 0;
}

}  // namespace

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t file_size(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  return static_cast<int64_t>(st.st_size);
}

int read_file(const std::string& path, std::string& content, uint64_t max_bytes) {
  content.clear();  // a growth then copies nothing old
  // Non-blocking, so a FIFO put in a file's place cannot hang the caller.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  int err = 0;
  const int64_t size = file_size(fd);
  if (size < 0) {
    err = errno;
  } else if (static_cast<uint64_t>(size) > max_bytes) {
    err = EFBIG;
  } else {
    try {
      content.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      err = ENOMEM;
    } catch (const std::length_error&) {
      err = EFBIG;
    }
  }
  size_t got = 0;
  while (err == 0 && got < content.size()) {
    const ssize_t n = ::read(fd, content.data() + got, content.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;  // shrank while we read it
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  content.resize(err == 0 ? got : 0);
  return err;
}

int write_file_safely(const std::string& path, std::string_view data) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      // Write through the link: the file it names is the one to replace.
      char real[PATH_MAX];
      if (::realpath(path.c_str(), real) == nullptr || ::stat(real, &st) != 0) return errno;
      return replace_existing(real, st, data);
    }
    return replace_existing(path, st, data);
  }
  if (errno != ENOENT) return errno;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST && ::stat(path.c_str(), &st) == 0) return replace_existing(path, st, data);
    return errno;
  }
  return finish_file(fd, path, data);
}

}  // namespace platform
