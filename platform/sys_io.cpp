// The real entries of the I/O seam.
#include "platform/sys_io.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

// open is variadic; the table wants a fixed signature.
int open_file(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int open_at(int dir_fd, const char* name, int flags, mode_t mode) {
  return ::openat(dir_fd, name, flags, mode);
}

int ficlone(int to_fd, int from_fd) { return ::ioctl(to_fd, FICLONE, from_fd); }

int rename_noreplace(const char* from, const char* to) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

}  // namespace

SysIo real_sysio() {
  return SysIo{::iconv_open,
               ::iconv,
               ::iconv_close,
               ::write,
               ::close,
               ::rename,
               open_file,
               ::mkostemp,
               ::read,
               ::fdatasync,
               ::syncfs,
               ::linkat,
               ::unlink,
               ficlone,
               ::copy_file_range,
               ::lseek,
               ::access,
               ::mkdir,
               ::stat,
               ::lstat,
               ::fstat,
               ::pread,
               ::pwrite,
               ::ftruncate,
               ::renameat2,
               ::link,
               rename_noreplace,
               ::inotify_init1,
               ::inotify_add_watch,
               ::statfs,
               open_at,
               ::rmdir,
               ::fstatat,
               ::fdopendir,
               ::readdir,
               ::closedir,
               ::fchmod,
               ::fchown,
               ::futimens,
               ::flock,
               ::readlink};
}

bool converter_replaced() {
  static const SysIo real = real_sysio();
  const SysIo& io = sysio();
  return io.iconv != real.iconv || io.iconv_open != real.iconv_open;
}

SysIo& sysio() {
  static SysIo table = real_sysio();
  return table;
}

}  // namespace platform
