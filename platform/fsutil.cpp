// Recursive directory search and path qualification.
#include "platform/fsutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "platform/sys_io.h"

namespace fsutil {
namespace {

constexpr char kFile = 'f';
constexpr char kDir = 'd';
// Skipped entries, each kind its own byte.
constexpr char kDangling = '1', kLoop = '2', kBadLink = '3', kFifo = '4', kSocket = '5',
               kDevice = '6';

const char* skip_reason(char kind) {
  switch (kind) {
    case kDangling:
      return "a link to nothing (dangling)";
    case kLoop:
      return "a link loop";
    case kBadLink:
      return "a link that cannot be followed";
    case kFifo:
      return "a FIFO";
    case kSocket:
      return "a socket";
    default:
      return "a device";
  }
}

char special_kind(mode_t mode) {
  if (S_ISFIFO(mode)) return kFifo;
  if (S_ISSOCK(mode)) return kSocket;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return kDevice;
  return 0;
}

char kind_of_type(unsigned char type) {
  switch (type) {
    case DT_FIFO:
      return kFifo;
    case DT_SOCK:
      return kSocket;
    case DT_CHR:
    case DT_BLK:
      return kDevice;
    default:
      return 0;
  }
}

// What the search does with an entry: kFile, kDir, a skipped kind, or 0 (passed over: a link
// to a directory). Stats only when the listing's type byte cannot tell.
char kind_of(int dir_fd, const dirent& entry) {
  const unsigned char type = entry.d_type;
  if (type == DT_REG) return kFile;
  if (type == DT_DIR) return kDir;
  if (type != DT_LNK && type != DT_UNKNOWN) return kind_of_type(type);
  struct stat st;
  if (type == DT_UNKNOWN) {
    if (platform::sysio().fstatat(dir_fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISREG(st.st_mode)) return kFile;
    if (S_ISDIR(st.st_mode)) return kDir;
    if (!S_ISLNK(st.st_mode)) return special_kind(st.st_mode);
  }
  // Important: a link to a directory is never entered (no cycles); one to a regular file is a
  // file. stat does not open the target, so a link to a FIFO cannot block.
  if (platform::sysio().fstatat(dir_fd, entry.d_name, &st, 0) != 0)
    return errno == ENOENT ? kDangling : errno == ELOOP ? kLoop : kBadLink;
  if (S_ISREG(st.st_mode)) return kFile;
  return S_ISDIR(st.st_mode) ? 0 : special_kind(st.st_mode);
}

struct Walker {
  const search_callback& callback;
  const search_accept& accept;
  const search_options& options;
  std::string& dir;     // path of the directory being listed
  std::string rel;      // its relative_dir
  std::string match;    // scratch: match path of one file
  std::string entries;  // per open level: kind byte, name, NUL for every kept entry

  bool stopped() const {
    return options.stop != nullptr && options.stop->load(std::memory_order_relaxed);
  }

  void fail(int error) const {
    if (options.on_error != nullptr && *options.on_error) (*options.on_error)(dir, error);
  }

  bool excluded(int fd) const {
    if (!options.exclude) return false;
    struct stat st;
    if (platform::sysio().fstat(fd, &st) != 0 || st.st_dev != options.exclude_dev ||
        st.st_ino != options.exclude_ino)
      return false;
    if (options.on_excluded) options.on_excluded(dir);
    return true;
  }

  // Appends the kept entries of `dir` to `entries` and closes the listing, so that one
  // descriptor at a time is open however deep the tree goes.
  bool list(bool top) {
    // The root itself may be a link to a directory; below it, links are not followed.
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW);
    const int fd = platform::sysio().open(dir.c_str(), flags, 0);
    if (fd < 0) {
      // ELOOP/ENOTDIR below the root: replaced by a link or a file since it was listed.
      if (top || (errno != ELOOP && errno != ENOTDIR)) fail(errno);
      return false;
    }
    if (!top && excluded(fd)) {
      platform::sysio().close(fd);
      return false;
    }
    const platform::Status listed = platform::each_entry(fd, [&](const dirent& entry) {
      if (entry.d_name[0] == '.') return;  // hidden
      const char kind = kind_of(fd, entry);
      if (kind == 0 || (kind != kFile && kind != kDir && !options.on_skipped)) return;
      entries += kind;
      entries.append(entry.d_name);
      entries += '\0';
    });
    if (!listed) fail(listed.err());
    return true;
  }

  void skip(std::string_view name, char kind) {
    if (!options.on_skipped || !accepts(name)) return;
    options.on_skipped(search_file_info{rel, std::string(name)}, skip_reason(kind));
  }

  void report(std::string_view name) {
    if (accepts(name)) callback(search_file_info{rel, std::string(name)});
  }

  bool accepts(std::string_view name) {
    if (accept) {
      match.assign(1, '/');
      if (!rel.empty()) {
        match += rel;
        match += '/';
      }
      match += name;
      return accept(match);
    }
    return true;
  }

  void walk(bool top) {
    const size_t begin = entries.size();
    if (!list(top)) return;
    const size_t end = entries.size();
    const size_t dir_len = dir.size();
    const size_t rel_len = rel.size();
    for (size_t pos = begin; pos < end && !stopped();) {
      const char kind = entries[pos];
      const size_t name_at = pos + 1;
      const size_t name_len = std::strlen(entries.data() + name_at);
      pos = name_at + name_len + 1;
      if (kind == kFile) {
        report(std::string_view(entries.data() + name_at, name_len));
        continue;
      }
      if (kind != kDir) {
        skip(std::string_view(entries.data() + name_at, name_len), kind);
        continue;
      }
      // Important: `entries` grows while the subdirectory is searched; keep offsets only.
      if (dir.back() != '/') dir += '/';
      dir.append(entries, name_at, name_len);
      if (!rel.empty()) rel += '/';
      rel.append(entries, name_at, name_len);
      walk(false);
      dir.resize(dir_len);
      rel.resize(rel_len);
    }
    entries.resize(begin);
  }
};

// relative_dir of `dir` below `root`, without separators at either end.
std::string relative_to(const std::string& root, const std::string& dir) {
  if (dir.compare(0, root.size(), root) != 0) return {};
  if (dir.size() > root.size() && root.back() != '/' && dir[root.size()] != '/') return {};
  const size_t first = dir.find_first_not_of('/', root.size());
  if (first == std::string::npos) return {};
  return dir.substr(first, dir.find_last_not_of('/') + 1 - first);
}

// Appends the components of `path` to `out` ("/a/b"), resolving "." and ".." lexically.
void append_components(std::string& out, std::string_view path) {
  while (!path.empty()) {
    const size_t end = path.find('/');
    const std::string_view part = path.substr(0, end);
    if (part == "..") {
      const size_t slash = out.rfind('/');
      out.resize(slash == std::string::npos ? 0 : slash);
    } else if (!part.empty() && part != ".") {
      out += '/';
      out += part;
    }
    if (end == std::string_view::npos) break;
    path.remove_prefix(end + 1);
  }
}

}  // namespace

void search_files(const std::string& root, std::string& dir, const search_callback& callback,
                  const search_accept& accept, const search_options& options) {
  if (root.empty() || dir.empty()) return;
  Walker walker{callback, accept, options, dir, relative_to(root, dir), {}, {}};
  walker.walk(true);
}

void search_files(const std::string& root, std::string& dir, const search_callback& callback,
                  const search_accept& accept, const search_error_callback* on_error,
                  const std::atomic<bool>* stop) {
  search_options options;
  options.on_error = on_error;
  options.stop = stop;
  search_files(root, dir, callback, accept, options);
}

platform::Result<std::string> full_path(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos)
    return platform::Error{EINVAL,
                           "resolve the path " + std::string(path.substr(0, path.find('\0')))};
  std::string out;
  if (path.front() != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (cwd == nullptr) return platform::last_error("resolve the path " + std::string(path));
    append_components(out, cwd);
    std::free(cwd);
  }
  append_components(out, path);
  if (out.empty()) out.push_back('/');
  return out;
}

}  // namespace fsutil
