// Moving an unreadable settings file aside under a name that replaces nothing.
#include "config/settings_aside.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/sys_io.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr int kMaxTries = 1000;

// rename() that fails with EEXIST instead of replacing `to`.
int rename_no_replace(const std::string& from, const std::string& to) {
  const platform::SysIo& io = platform::sysio();
  if (io.renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // Important: a file system without RENAME_NOREPLACE; a hard link is just as exclusive.
  if (io.link(from.c_str(), to.c_str()) == 0) {
    io.unlink(from.c_str());
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return errno;
  struct stat st;
  if (io.lstat(to.c_str(), &st) == 0) return EEXIST;
  return io.rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

platform::Result<std::string> move_aside(const std::string& path) {
  struct stat st;
  if (platform::sysio().lstat(path.c_str(), &st) != 0)
    return platform::last_error(kestrum::strfmt(_("stat %s"), path.c_str()));
  const std::string base = path + ".bad";
  for (int n = 0; n < kMaxTries; ++n) {
    std::string name = n == 0 ? base : base + "." + std::to_string(n);
    const int err = rename_no_replace(path, name);
    if (err == EEXIST) continue;
    if (err != 0)
      return platform::Error{err,
                             kestrum::strfmt(_("rename %s to %s"), path.c_str(), name.c_str())};
    return name;
  }
  return platform::Error{EEXIST, kestrum::strfmt(_("rename %s aside"), path.c_str())};
}
