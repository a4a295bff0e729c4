// Recursive directory search and path qualification.
#include "platform/fsutil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/fan_out.h"
#include "platform/fs.h"
#include "platform/sys_io.h"

namespace fsutil {
namespace {

constexpr char kFile = 'f';
constexpr char kLinkedFile = 'l';  // a link to a regular file
constexpr char kDir = 'd';
// Skipped entries, each kind its own byte.
constexpr char kDangling = '1', kLoop = '2', kBadLink = '3', kFifo = '4', kSocket = '5',
               kDevice = '6';

// The texts are marked for the catalogue as util/i18n.h does (a layer above): the job shows them
// in the user's language.
#define N_(text) text

const char* skip_reason(char kind) {
  switch (kind) {
    case kDangling:
      return N_("a link to nothing (dangling)");
    case kLoop:
      return N_("a link loop");
    case kBadLink:
      return N_("a link that cannot be followed");
    case kFifo:
      return N_("a FIFO");
    case kSocket:
      return N_("a socket");
    default:
      return N_("a device");
  }
}

#undef N_

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

// What the search does with an entry: kFile, kLinkedFile, kDir, a skipped kind, or 0 (passed
// over: a link to a directory). Stats only when the listing's type byte cannot tell.
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
  if (S_ISREG(st.st_mode)) return kLinkedFile;
  return S_ISDIR(st.st_mode) ? 0 : special_kind(st.st_mode);
}

// One directory of the search: listed by any thread, reported in walk order by one.
struct Listing {
  std::string dir;      // path as opened
  std::string rel;      // its relative_dir
  bool top = false;     // the root: may be a link, and its failure to open is always reported
  std::string entries;  // kind byte, name, NUL for every kept entry, in listing order
  std::vector<std::unique_ptr<Listing>> subdirs;  // one per kDir entry, in the same order
  size_t others = 0;                              // entries that are no directory
  int open_error = 0;                             // reported instead of any entry
  int list_error = 0;                             // reported before what was listed
  bool excluded = false;

  std::unique_ptr<Listing> child(std::string_view name) const {
    auto sub = std::make_unique<Listing>();
    sub->dir = dir;
    if (sub->dir.back() != '/') sub->dir += '/';
    sub->dir += name;
    sub->rel = rel;
    if (!sub->rel.empty()) sub->rel += '/';
    sub->rel += name;
    return sub;
  }
};

bool stop_set(const search_options& options) {
  return options.stop != nullptr && options.stop->load(std::memory_order_relaxed);
}

bool is_excluded(const search_options& options, int fd) {
  if (!options.exclude) return false;
  struct stat st;
  return platform::sysio().fstat(fd, &st) == 0 && st.st_dev == options.exclude_dev &&
         st.st_ino == options.exclude_ino;
}

// Fills `l` from its directory, one descriptor open at a time; calls back nothing.
void list_one(Listing& l, const search_options& options) {
  // The root itself may be a link to a directory; below it, links are not followed.
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (l.top ? 0 : O_NOFOLLOW);
  const int fd = platform::sysio().open(l.dir.c_str(), flags, 0);
  if (fd < 0) {
    // ELOOP/ENOTDIR below the root: replaced by a link or a file since it was listed.
    if (l.top || (errno != ELOOP && errno != ENOTDIR)) l.open_error = errno;
    return;
  }
  if (!l.top && is_excluded(options, fd)) {
    l.excluded = true;
    platform::sysio().close(fd);
    return;
  }
  const platform::Status listed = platform::each_entry(fd, [&](const dirent& entry) {
    if (entry.d_name[0] == '.') return;  // hidden
    const char kind = kind_of(fd, entry);
    const bool file = kind == kFile || kind == kLinkedFile;
    if (kind == 0 || (!file && kind != kDir && !options.on_skipped)) return;
    l.entries += kind;
    l.entries.append(entry.d_name);
    l.entries += '\0';
    if (kind == kDir)
      l.subdirs.push_back(l.child(entry.d_name));
    else
      ++l.others;
  });
  if (!listed) l.list_error = listed.err();
}

// Lists a whole tree on `threads` threads (the caller's among them): the kernel's share of a
// search, which is most of it, spread over the cores.
class Lister {
 public:
  explicit Lister(const search_options& options) : options_(options) {}

  // How many entries that are no directory were listed: the most the tree can report.
  size_t run(Listing& root, unsigned threads) {
    pending_.push_back(&root);
    platform::fan_out(threads, [this] { work(); });
    if (failure_) std::rethrow_exception(failure_);
    return others_;
  }

 private:
  void work() {
    std::unique_lock lock(lock_);
    for (;;) {
      changed_.wait(lock, [this] { return !pending_.empty() || busy_ == 0 || failure_; });
      if (pending_.empty() || failure_ || stop_set(options_)) break;
      Listing* l = pending_.back();
      pending_.pop_back();
      ++busy_;
      lock.unlock();
      std::exception_ptr failed;
      try {
        list_one(*l, options_);
      } catch (...) {
        failed = std::current_exception();  // out of memory: the caller gets it
      }
      lock.lock();
      --busy_;
      others_ += l->others;
      if (failed) failure_ = failed;
      for (const auto& sub : l->subdirs) pending_.push_back(sub.get());
      changed_.notify_all();
    }
    // Important: whoever leaves wakes the others, so that none waits for work that will not
    // come (the end, a stop, a failure).
    changed_.notify_all();
  }

  const search_options& options_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Listing*> pending_;  // under lock_, like the rest below
  unsigned busy_ = 0;
  std::exception_ptr failure_;
  size_t others_ = 0;
};

// Hands a listed tree to the callbacks in depth-first order, on the calling thread.
struct Reporter {
  const search_callback& callback;
  const search_accept& accept;
  const search_options& options;
  std::string match;  // scratch: match path of one file

  void fail(const Listing& l, int error) const {
    if (options.on_error != nullptr && *options.on_error) (*options.on_error)(l.dir, error);
  }

  bool accepts(const Listing& l, std::string_view name) {
    if (!accept) return true;
    match.assign(1, '/');
    if (!l.rel.empty()) {
      match += l.rel;
      match += '/';
    }
    match += name;
    return accept(match);
  }

  void report(Listing& l) {
    if (l.open_error != 0) return fail(l, l.open_error);
    if (l.excluded) {
      if (options.on_excluded) options.on_excluded(l.dir);
      return;
    }
    if (l.list_error != 0) fail(l, l.list_error);
    size_t sub = 0;
    for (size_t pos = 0; pos < l.entries.size() && !stop_set(options);) {
      const char kind = l.entries[pos];
      const std::string_view name(l.entries.data() + pos + 1);
      pos += name.size() + 2;
      if (kind == kDir) {
        report(*l.subdirs[sub]);
        l.subdirs[sub++].reset();  // reported: its names are not needed any more
      } else if (!accepts(l, name)) {
        continue;
      } else if (kind == kFile || kind == kLinkedFile) {
        callback(search_file_info{l.rel, std::string(name), kind == kLinkedFile});
      } else if (options.on_skipped) {
        options.on_skipped(search_file_info{l.rel, std::string(name), false}, skip_reason(kind));
      }
    }
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
  Listing top;
  top.dir = dir;
  top.rel = relative_to(root, dir);
  top.top = true;
  const size_t listed = Lister(options).run(top, std::max(1u, options.threads));
  if (options.on_listed) options.on_listed(listed);
  Reporter{callback, accept, options, {}}.report(top);
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
