// Undo stores on disk: "<root>/.ouzel-undo/<run>/{manifest,files/<n>}", or beside the root.
#include "undo/store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <utility>

#include "platform/fs.h"
#include "platform/fsutil.h"
#include "platform/leftovers.h"
#include "platform/sys_io.h"
#include "platform/temp_name.h"
#include "undo/undo_messages.h"

namespace undo {
namespace {

using platform::sysio;

std::string absolute(const std::string& path) { return fsutil::full_path(path).value_or(path); }

bool same_inode(const std::string& a, const std::string& b) {
  struct stat x, y;
  return sysio().lstat(a.c_str(), &x) == 0 && sysio().lstat(b.c_str(), &y) == 0 &&
         x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

void add_runs(const std::string& store, bool beside, std::vector<RunSummary>& runs) {
  const platform::Result<std::vector<platform::DirName>> names = platform::list_names(store, false);
  if (!names) return;
  for (const platform::DirName& e : *names) {
    if (e.name.empty() || e.name[0] == '.') continue;  // a run being removed
    RunSummary run;
    run.id = e.name;
    run.dir = store + "/" + e.name;
    run.store = store;
    run.beside = beside;
    if (!platform::is_directory(run.dir)) continue;
    platform::Result<Manifest> m = read_manifest_ends(manifest_path(run.dir));
    run.readable = m.has_value();
    if (m) {
      run.manifest = std::move(*m);
    } else {
      run.error = m.error().message();
    }
    RunLock probe;
    run.busy = probe.take(run.dir, /*patient=*/false).err() == EWOULDBLOCK;
    runs.push_back(std::move(run));
  }
}

// Removes what a kill left in `store` (a run half made, or half dropped, under a hidden name)
// unless a live process holds it; then the store itself when it holds no run.
void clear_trash(const std::string& store) {
  const platform::Result<std::vector<platform::DirName>> names = platform::list_names(store, false);
  if (!names) return;
  bool runs = false;
  for (const platform::DirName& e : *names) {
    const std::string path = store + "/" + e.name;
    RunLock probe;
    if (platform::is_temp_name(e.name) && probe.take(path, false).err() != EWOULDBLOCK) {
      probe.release();
      (void)platform::remove_tree(path);
    } else if (e.name != kIgnoreName) {
      runs = true;
    }
  }
  if (runs) return;
  sysio().unlink((store + "/" + kIgnoreName).c_str());
  sysio().rmdir(store.c_str());
}

}  // namespace

std::string inside_store(const std::string& root) {
  const std::string full = absolute(root);
  return (full == "/" ? std::string() : full) + "/" + kStoreName;
}

std::string beside_store(const std::string& root) {
  const std::string full = absolute(root);
  if (full == "/" || full.empty()) return {};
  const size_t slash = full.rfind('/');
  const std::string parent = slash == 0 ? std::string() : full.substr(0, slash);
  return parent + "/." + full.substr(slash + 1) + kStoreName;
}

std::string kept_path(const std::string& run_dir, uint64_t number) {
  return run_dir + "/files/" + std::to_string(number);
}

std::string manifest_path(const std::string& run_dir) { return run_dir + "/manifest"; }

std::vector<RunSummary> list_runs(const std::string& root) {
  std::vector<RunSummary> runs;
  add_runs(inside_store(root), false, runs);
  if (const std::string beside = beside_store(root); !beside.empty()) add_runs(beside, true, runs);
  std::stable_sort(runs.begin(), runs.end(), [](const RunSummary& a, const RunSummary& b) {
    const int64_t x = a.manifest.header.started_ns, y = b.manifest.header.started_ns;
    return x != y ? x < y : a.id < b.id;
  });
  return runs;
}

bool has_runs(const std::string& root) {
  for (const std::string& store : {inside_store(root), beside_store(root)}) {
    if (store.empty()) continue;
    const platform::Result<std::vector<platform::DirName>> names =
        platform::list_names(store, false);
    if (!names) continue;
    for (const platform::DirName& e : *names)
      if (!e.name.empty() && e.name[0] != '.') return true;
  }
  return false;
}

RunLock::~RunLock() { release(); }

RunLock::RunLock(RunLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

RunLock& RunLock::operator=(RunLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

platform::Status RunLock::take(const std::string& run_dir, bool patient) {
  release();
  const std::string path = manifest_path(run_dir);
  const int fd = platform::retry_eintr(
      [&] { return sysio().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0); });
  if (fd < 0) return platform::last_error("open " + path);
  const auto locked = [&] {
    return platform::retry_eintr([&] { return sysio().flock(fd, LOCK_EX | LOCK_NB); }) == 0;
  };
  bool held = locked();
  for (int tries = 0; !held && errno == EWOULDBLOCK && patient && tries < 20; ++tries) {
    ::usleep(5000);
    held = locked();
  }
  if (!held) {
    platform::Error error = platform::last_error("lock " + path);
    sysio().close(fd);
    return error;
  }
  fd_ = fd;
  return {};
}

void RunLock::release() {
  if (fd_ >= 0) sysio().close(std::exchange(fd_, -1));  // the lock goes with it
}

platform::Status drop_run(const RunSummary& run) {
  RunLock lock;
  if (platform::Status held = lock.take(run.dir); !held && held.err() == EWOULDBLOCK)
    return platform::Error{EBUSY, "drop " + run.dir};
  // Important: out of the listing in one step, so a kill while its files go leaves no run
  // that looks whole and is not.
  std::string trash = platform::temp_template(run.store + "/", run.id);
  platform::fill_temp_suffix(trash);
  std::string gone = run.dir;
  if (sysio().rename(run.dir.c_str(), trash.c_str()) == 0) gone = trash;
  lock.release();
  if (platform::Status removed = platform::remove_tree(gone); !removed) return removed;
  clear_trash(run.store);
  return {};
}

std::vector<std::string> bound_store(const std::string& root, const Limits& limits,
                                     const std::string& keep_id) {
  std::vector<RunSummary> runs = list_runs(root);
  uint64_t total = 0;
  for (const RunSummary& r : runs) total += r.manifest.kept_bytes();
  std::vector<std::string> lines;
  size_t count = runs.size();
  for (const RunSummary& r : runs) {
    const bool too_many = count > limits.runs;
    const bool too_big = total > limits.bytes;
    if (!too_many && !too_big) break;
    if (r.id == keep_id || r.busy) continue;
    if (platform::Status dropped = drop_run(r); !dropped) {
      lines.push_back(cannot_drop_line(r, dropped.error()));
      continue;
    }
    --count;
    total -= r.manifest.kept_bytes();
    lines.push_back(too_many ? dropped_for_count_line(r, limits)
                             : dropped_for_size_line(r, limits));
  }
  return lines;
}

namespace {

// Lets go of what an interrupted run kept of files it never replaced; how many it let go.
size_t tidy_run(const std::string& root, const RunSummary& run) {
  RunLock lock;
  if (!lock.take(run.dir)) return 0;
  std::set<std::string> named;
  std::string voids;
  size_t let_go = 0;
  for (const KeptFile& k : run.manifest.files) {
    const std::string kept = kept_path(run.dir, k.number);
    if (k.voided) continue;
    if (k.how == KeptBy::link && same_inode(kept, root + "/" + k.path)) {
      if (sysio().unlink(kept.c_str()) == 0 || errno == ENOENT) {
        voids += void_record(k.number);
        ++let_go;
      }
      continue;
    }
    named.insert(std::to_string(k.number));
  }
  // A kill between keeping a file and writing its record leaves a name no record gives.
  const std::string files = run.dir + "/files";
  if (platform::Result<std::vector<platform::DirName>> names = platform::list_names(files, false))
    for (const platform::DirName& e : *names)
      if (named.count(e.name) == 0 && sysio().unlink((files + "/" + e.name).c_str()) == 0) ++let_go;
  if (!voids.empty()) {
    const std::string path = manifest_path(run.dir);
    const int fd = platform::retry_eintr(
        [&] { return sysio().open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC, 0); });
    if (fd >= 0) {
      (void)platform::retry_eintr([&] { return sysio().write(fd, voids.data(), voids.size()); });
      sysio().close(fd);
    }
  }
  return let_go;
}

}  // namespace

void clear_leftovers(const std::string& root) {
  clear_trash(inside_store(root));
  if (const std::string beside = beside_store(root); !beside.empty()) clear_trash(beside);
}

std::vector<std::string> tidy_interrupted(const std::string& root) {
  clear_leftovers(root);
  std::vector<std::string> lines;
  for (const RunSummary& run : list_runs(root)) {
    if (!run.readable || run.manifest.finished || run.busy) continue;
    if (const size_t n = tidy_run(root, run); n > 0) lines.push_back(tidied_line(run, n));
  }
  return lines;
}

}  // namespace undo
