// Removes leftover temporary files of a killed run from one directory.
#include "platform/leftovers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/sys_io.h"
#include "platform/temp_name.h"

namespace platform {

int remove_leftovers(const std::string& dir, int* folders) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return 0;
  int removed = 0;
  while (const dirent* e = ::readdir(d)) {
    const bool file = is_temp_name(e->d_name);
    const bool folder = folders != nullptr && is_staging_name(e->d_name);
    if (!file && !folder) continue;
    // Only regular files and real folders: a link or anything else of that name is someone
    // else's.
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const std::string path = dir + "/" + e->d_name;
    if (file && S_ISREG(st.st_mode) && sysio().unlink(path.c_str()) == 0) ++removed;
    if (folder && S_ISDIR(st.st_mode) && remove_tree(path)) ++*folders;
  }
  ::closedir(d);
  return removed;
}

Status remove_tree(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  if (ec) return Error{ec.value(), "remove " + dir};
  return {};
}

}  // namespace platform
