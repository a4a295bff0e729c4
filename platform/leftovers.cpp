// Removes leftover temporary files of a killed run from one directory.
#include "platform/leftovers.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/fs.h"
#include "platform/sys_io.h"
#include "platform/temp_name.h"

namespace platform {

int remove_leftovers(const std::string& dir, int* folders) {
  const Result<std::vector<DirName>> names = list_names(dir);
  if (!names) return 0;
  int removed = 0;
  for (const DirName& e : *names) {
    const bool file = is_temp_name(e.name);
    const bool folder = folders != nullptr && is_staging_name(e.name);
    if (!file && !folder) continue;
    // Only regular files and real folders: a link or anything else of that name is someone
    // else's.
    struct stat st;
    const std::string path = dir + "/" + e.name;
    if (sysio().lstat(path.c_str(), &st) != 0) continue;
    if (file && S_ISREG(st.st_mode) && sysio().unlink(path.c_str()) == 0) ++removed;
    if (folder && S_ISDIR(st.st_mode) && remove_tree(path)) ++*folders;
  }
  return removed;
}

Status remove_tree(const std::string& dir) {
  struct stat st;
  if (sysio().lstat(dir.c_str(), &st) != 0)
    return errno == ENOENT ? Status() : Status(last_error("look at " + dir));
  if (!S_ISDIR(st.st_mode)) {
    if (sysio().unlink(dir.c_str()) != 0) return last_error("remove " + dir);
    return {};
  }
  // Important: never through a link: one put in the folder's place is not descended into.
  const Result<std::vector<DirName>> names = list_names(dir, false);
  if (!names) return names.error();
  for (const DirName& e : *names)
    if (Status s = remove_tree(dir + "/" + e.name); !s) return s;
  if (sysio().rmdir(dir.c_str()) != 0) return last_error("remove " + dir);
  return {};
}

}  // namespace platform
