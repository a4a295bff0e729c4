// Directory test, whole-file reads and the safe write of targets and settings files.
#include "platform/fs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "platform/sys_io.h"
#include "platform/target_file.h"

namespace platform {

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
  const int fd =
      retry_eintr([&] { return sysio().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK, 0); });
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
    const ssize_t n =
        retry_eintr([&] { return sysio().read(fd, content.data() + got, content.size() - got); });
    if (n < 0) err = errno;
    if (n <= 0) break;  // shrank while we read it
    got += static_cast<size_t>(n);
  }
  sysio().close(fd);
  content.resize(err == 0 ? got : 0);
  return err;
}

int write_file_safely(const std::string& path, std::string_view data) {
  return write_target(path, data, LinkPolicy::write_through);
}

}  // namespace platform
