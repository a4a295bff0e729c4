// Target directories of a run.
#include "convert/output_dirs.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/leftovers.h"
#include "platform/sys_io.h"
#include "util/strfmt.h"

namespace {

// 0 for a directory, ENOTDIR for anything else, ELOOP for a link when links are refused, or
// the errno of looking.
int kind_of(const std::string& path, bool refuse_links) {
  struct stat st;
  const platform::SysIo& io = platform::sysio();
  if (io.lstat(path.c_str(), &st) != 0) return errno;
  if (S_ISLNK(st.st_mode)) {
    if (refuse_links) return ELOOP;
    if (io.stat(path.c_str(), &st) != 0) return errno;
  }
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Makes `path` unless it is there; `made` tells which. 0 or errno.
int make_one(const std::string& path, bool refuse_links, bool& made) {
  made = false;
  if (const int found = kind_of(path, refuse_links); found != ENOENT) return found;
  if (platform::sysio().mkdir(path.c_str(), 0777) == 0) {
    made = true;
    return 0;
  }
  if (errno != EEXIST) return errno;
  // Someone else made it just now: checked like any found entry.
  return kind_of(path, refuse_links);
}

// Makes each missing component of `path` from offset `from` on. `made`: the last was made now.
int make_walk(const std::string& path, size_t from, bool refuse_links, bool& made) {
  std::string prefix = path.substr(0, from);
  while (from < path.size()) {
    size_t end = path.find('/', from);
    if (end == std::string::npos) end = path.size();
    if (end > from) {
      if (!prefix.empty() && prefix.back() != '/') prefix += '/';
      prefix.append(path, from, end - from);
      if (const int err = make_one(prefix, refuse_links, made)) return err;
    }
    from = end + 1;
  }
  return 0;
}

}  // namespace

int make_directories(const std::string& path) {
  bool made = false;
  return make_walk(path, path.compare(0, 1, "/") == 0 ? 1 : 0, false, made);
}

OutputDirs::OutputDirs(std::string root, bool root_is_new, Say say)
    : root_(std::move(root)), root_is_new_(root_is_new), say_(std::move(say)) {}

std::unique_ptr<OutputDirs> OutputDirs::for_root(const std::string& root, Say say) {
  struct stat st;
  const bool root_is_new = platform::sysio().stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
  if (root_is_new) make_directories(root);
  return std::make_unique<OutputDirs>(root, root_is_new, std::move(say));
}

OutputDirs::Prepared OutputDirs::make(const std::string& relative_dir) {
  const std::string path = relative_dir.empty() ? root_ : root_ + "/" + relative_dir;
  bool made = root_is_new_;
  // Important: a link below the root would take every write below it out of the output tree.
  if (!relative_dir.empty()) {
    if (const int err = make_walk(path, root_.size() + 1, true, made)) return {err, false};
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

int OutputDirs::prepare_again(const std::string& relative_dir, std::string& dir) {
  {
    std::lock_guard guard(lock_);
    done_.erase(relative_dir);
  }
  return prepare(relative_dir, dir);
}
