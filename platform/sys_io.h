// The thin layer every iconv call and file operation goes through, so tests can make them fail.
#pragma once

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>

namespace platform {

struct SysIo {
  iconv_t (*iconv_open)(const char* tocode, const char* fromcode);
  size_t (*iconv)(iconv_t cd, char** in, size_t* in_left, char** out, size_t* out_left);
  int (*iconv_close)(iconv_t cd);
  ssize_t (*write)(int fd, const void* buf, size_t count);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
  int (*open)(const char* path, int flags, mode_t mode);
  int (*mkostemp)(char* name_template, int flags);
  ssize_t (*read)(int fd, void* buf, size_t count);
  int (*fdatasync)(int fd);
  int (*syncfs)(int fd);
  int (*linkat)(int from_dir, const char* from, int to_dir, const char* to, int flags);
  int (*unlink)(const char* path);
  int (*ficlone)(int to_fd, int from_fd);  // ioctl FICLONE: share the extents (a reflink)
  ssize_t (*copy_file_range)(int from_fd, off_t* from_at, int to_fd, off_t* to_at, size_t count,
                             unsigned flags);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*access)(const char* path, int mode);
  int (*mkdir)(const char* path, mode_t mode);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*fstat)(int fd, struct stat* st);
  ssize_t (*pread)(int fd, void* buf, size_t count, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buf, size_t count, off_t offset);
  int (*ftruncate)(int fd, off_t length);
  int (*renameat2)(int from_dir, const char* from, int to_dir, const char* to, unsigned flags);
  int (*link)(const char* from, const char* to);
  // renameat2 with RENAME_NOREPLACE: EEXIST (or ENOTEMPTY) rather than replacing what is there.
  int (*rename_noreplace)(const char* from, const char* to);
  int (*inotify_init1)(int flags);
  int (*inotify_add_watch)(int fd, const char* path, uint32_t mask);
  int (*statfs)(const char* path, struct statfs* st);
  int (*openat)(int dir_fd, const char* name, int flags, mode_t mode);
  int (*rmdir)(const char* path);
  int (*fstatat)(int dir_fd, const char* name, struct stat* st, int flags);
  DIR* (*fdopendir)(int fd);
  dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  int (*fchmod)(int fd, mode_t mode);
  int (*fchown)(int fd, uid_t uid, gid_t gid);
  int (*futimens)(int fd, const struct timespec times[2]);
  int (*flock)(int fd, int operation);
  ssize_t (*readlink)(const char* path, char* buf, size_t size);
};

// The process-wide table; production code calls through it, tests swap entries.
// Important: swap entries only while no other thread calls through the table.
SysIo& sysio();

// The real C library functions.
SysIo real_sysio();

// Whether a test replaced the converter (iconv_open or iconv) in the table: then every
// conversion must go through it, never through a cache of the real one's answers.
bool converter_replaced();

// Calls `f` again while it fails with EINTR (a signal arrived before it did anything).
template <typename F>
auto retry_eintr(F f) {
  for (;;) {
    auto r = f();
    if (!(r < 0 && errno == EINTR)) return r;
  }
}

// Restores the real table when it goes out of scope (tests).
class ScopedSysIo {
 public:
  ScopedSysIo() : saved_(sysio()) {}
  ~ScopedSysIo() { sysio() = saved_; }
  ScopedSysIo(const ScopedSysIo&) = delete;
  ScopedSysIo& operator=(const ScopedSysIo&) = delete;

 private:
  SysIo saved_;
};

}  // namespace platform
