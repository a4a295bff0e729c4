// Target directories of a run.
#include "convert/output_dirs.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/leftovers.h"
#include "util/strfmt.h"

OutputDirs::OutputDirs(std::string root, bool root_is_new, Say say)
    : root_(std::move(root)), root_is_new_(root_is_new), say_(std::move(say)) {}

OutputDirs::Prepared OutputDirs::make(const std::string& relative_dir) {
  std::string path = root_;
  bool made = root_is_new_;
  size_t from = 0;
  while (from < relative_dir.size()) {
    size_t end = relative_dir.find('/', from);
    if (end == std::string::npos) end = relative_dir.size();
    path += '/';
    path.append(relative_dir, from, end - from);
    from = end + 1;
    // Important: a link here would take every write below it out of the output tree.
    const auto kind = [&path] {
      struct stat st;
      if (::lstat(path.c_str(), &st) != 0) return errno;
      return S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    };
    if (const int found = kind(); found != ENOENT) {
      if (found != 0) return {found, false};
      continue;
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
      if (errno != EEXIST) return {errno, false};
      // Someone else made it just now: checked like any found entry, and anything may be in it.
      if (const int found = kind(); found != 0) return {found, false};
      made = false;
      continue;
    }
    made = true;
  }
  // Important: swept before this run's first write here, so no temporary file of ours is
  // taken; directories made now hold nothing to sweep.
  if (!made) {
    if (const int removed = platform::remove_leftovers(path); removed > 0 && say_)
      say_(kestrum::strfmt("Removed %d temporary file%s a stopped run left in %s", removed,
                           removed == 1 ? "" : "s", path.c_str()));
  }
  return {0, made};
}

int OutputDirs::prepare(const std::string& relative_dir, std::string& dir, bool* made) {
  dir = relative_dir.empty() ? root_ : root_ + "/" + relative_dir;
  std::lock_guard guard(lock_);
  auto it = done_.find(relative_dir);
  if (it == done_.end()) it = done_.emplace(relative_dir, make(relative_dir)).first;
  if (made != nullptr) *made = it->second.made;
  return it->second.result;
}
