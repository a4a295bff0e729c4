// The real entries of the I/O seam.
#include "platform/sys_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace platform {
namespace {

// open is variadic; the table wants a fixed signature.
int open_file(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }

}  // namespace

SysIo real_sysio() {
  return SysIo{::iconv_open, ::iconv, ::iconv_close, ::write,  ::close,  ::rename, open_file,
               ::mkostemp,   ::read,  ::fdatasync,   ::syncfs, ::linkat, ::unlink};
}

SysIo& sysio() {
  static SysIo table = real_sysio();
  return table;
}

}  // namespace platform
