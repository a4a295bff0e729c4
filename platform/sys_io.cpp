// The real entries of the I/O seam.
#include "platform/sys_io.h"

#include <unistd.h>

#include <cstdio>

namespace platform {

SysIo real_sysio() {
  return SysIo{::iconv_open, ::iconv, ::iconv_close, ::write, ::close, ::rename};
}

SysIo& sysio() {
  static SysIo table = real_sysio();
  return table;
}

}  // namespace platform
