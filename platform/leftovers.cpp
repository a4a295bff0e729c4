// Removes leftover temporary files of a killed run from one directory.
#include "platform/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/sys_io.h"
#include "platform/temp_name.h"

namespace platform {

int remove_leftovers(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(d)) {
    if (!is_temp_name(e->d_name)) continue;
    // Only regular files: a link or directory of that name is someone else's.
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    const std::string path = dir + "/" + e->d_name;
    if (sysio().unlink(path.c_str()) == 0) ++removed;
  }
  ::closedir(d);
  return removed;
}

}  // namespace platform
