// The thin layer every iconv call and file write goes through, so tests can make them fail.
#pragma once

#include <iconv.h>
#include <sys/types.h>

namespace platform {

struct SysIo {
  iconv_t (*iconv_open)(const char* tocode, const char* fromcode);
  size_t (*iconv)(iconv_t cd, char** in, size_t* in_left, char** out, size_t* out_left);
  int (*iconv_close)(iconv_t cd);
  ssize_t (*write)(int fd, const void* buf, size_t count);
  int (*close)(int fd);
  int (*rename)(const char* from, const char* to);
};

// The process-wide table; production code calls through it, tests swap entries.
SysIo& sysio();

// The real C library functions.
SysIo real_sysio();

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
