// The report's destination, looked at and opened before the run.
#include "cli/report_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/fs.h"
#include "platform/sys_io.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return platform::sysio().stat(a.c_str(), &sa) == 0 &&
         platform::sysio().stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

ReportTarget::~ReportTarget() {
  if (own_) platform::sysio().close(fd_);
}

std::string ReportTarget::open(const std::string& path,
                               const std::optional<std::string>& settings) {
  path_ = path;
  if (path.empty()) return {};
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    return {};
  }
  using kestrum::strfmt;
  const auto cannot = [&path](const std::string& why) {
    return strfmt(_("cannot write the report %s: %s"), path.c_str(), why.c_str());
  };
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (!platform::is_directory(dir))
    return strfmt(_("cannot write the report %s: no directory %s"), path.c_str(), dir.c_str());
  if (settings && same_file(path, *settings))
    return strfmt(_("the report %s would be written over the settings file %s"), path.c_str(),
                  settings->c_str());
  struct stat st;
  if (platform::sysio().stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
  if (S_ISDIR(st.st_mode))
    return strfmt(_("cannot write the report %s: a directory"), path.c_str());
  if (!S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode))
    return cannot(_("neither a regular file, a FIFO nor a character device"));
  // Important: non-blocking, so a FIFO nobody reads is said at once instead of hanging.
  const int fd = platform::retry_eintr([&] {
    return platform::sysio().open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
  });
  if (fd < 0)
    return cannot(errno == ENXIO ? std::string(_("no program reads from it")) : errno_text(errno));
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);  // a slow reader is waited for
  fd_ = fd;
  own_ = true;
  return {};
}

int ReportTarget::write(std::string_view text) {
  if (fd_ < 0) return platform::write_file_safely(path_, text).err();
  while (!text.empty()) {
    const ssize_t n = platform::retry_eintr(
        [&] { return platform::sysio().write(fd_, text.data(), text.size()); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return 0;
}
