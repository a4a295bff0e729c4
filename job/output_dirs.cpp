// Target directories of a run.
#include "job/output_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/fan_out.h"
#include "platform/leftovers.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

// 0 for a directory, ELOOP for a link, ENOTDIR for anything else, or lstat's errno.
int kind_of(const std::string& path) {
  struct stat st;
  if (platform::sysio().lstat(path.c_str(), &st) != 0) return errno;
  return S_ISLNK(st.st_mode) ? ELOOP : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// One syncfs per file system holding one of `dirs`: per directory, 0 or the errno of its file
// system's sync (or of finding it).
std::vector<int> sync_file_systems(const std::vector<std::string>& dirs) {
  std::vector<int> result(dirs.size(), 0);
  std::vector<dev_t> device(dirs.size(), 0);
  std::map<dev_t, int> synced;
  for (size_t i = 0; i < dirs.size(); ++i) {
    struct stat st;
    if (platform::sysio().stat(dirs[i].c_str(), &st) != 0) {
      result[i] = errno;
      continue;
    }
    device[i] = st.st_dev;
    if (synced.count(st.st_dev) != 0) continue;
    int err = 0;
    const int fd = platform::retry_eintr([&] {
      return platform::sysio().open(dirs[i].c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    });
    if (fd < 0) {
      err = errno;
    } else {
      if (platform::retry_eintr([&] { return platform::sysio().syncfs(fd); }) != 0) err = errno;
      platform::sysio().close(fd);
    }
    synced[st.st_dev] = err;
  }
  for (size_t i = 0; i < dirs.size(); ++i)
    if (result[i] == 0) result[i] = synced[device[i]];
  return result;
}

// Makes `path` unless a directory (links followed) is there; 0 or errno.
int make_one(const std::string& path) {
  struct stat st;
  const platform::SysIo& io = platform::sysio();
  if (io.stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  if (io.mkdir(path.c_str(), 0777) == 0) return 0;
  if (errno != EEXIST) return errno;
  // Someone else made it just now.
  if (io.stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace

platform::Status make_directories(const std::string& path) {
  for (size_t end = 1; end <= path.size(); ++end) {
    if (end < path.size() && path[end] != '/') continue;
    if (path[end - 1] == '/') continue;
    if (const int err = make_one(path.substr(0, end)))
      return platform::Error{err,
                             kestrum::strfmt(_("make directory %s"), path.substr(0, end).c_str())};
  }
  return {};
}

std::unique_ptr<OutputDirs> OutputDirs::for_root(const std::string& root, Say say, bool stage,
                                                 bool durable) {
  struct stat st;
  const bool root_is_new = platform::sysio().stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
  // A root that cannot be made fails each file's open with the errno.
  if (root_is_new) (void)make_directories(root);
  return std::make_unique<OutputDirs>(root, root_is_new, std::move(say), stage, durable);
}

// Important: the background flush only starts the disk early; the flush before naming still
// decides, so a failure here is not looked at.
constexpr uint64_t kFlushEvery = uint64_t{32} << 20;

OutputDirs::OutputDirs(std::string root, bool root_is_new, Say say, bool stage, bool durable)
    : root_(std::move(root)),
      root_is_new_(root_is_new),
      say_(std::move(say)),
      stage_(stage),
      durable_(durable) {}

OutputDirs::~OutputDirs() { stop_flushing(); }

void OutputDirs::kick_flush(const std::string& dir) {
  std::lock_guard guard(flush_lock_);
  if (flush_stop_) return;
  flush_dir_ = dir;
  if (!flusher_.joinable()) {
    try {
      flusher_ = std::thread([this] { flush_in_background(); });
    } catch (const std::system_error&) {
      flush_dir_.clear();  // no thread: the last flush does it all
      return;
    }
  }
  flush_wanted_.notify_one();
}

void OutputDirs::flush_in_background() {
  std::unique_lock lock(flush_lock_);
  for (;;) {
    flush_wanted_.wait(lock, [this] { return flush_stop_ || !flush_dir_.empty(); });
    if (flush_stop_) return;
    const std::string dir = std::exchange(flush_dir_, std::string());
    lock.unlock();
    const int fd = platform::retry_eintr(
        [&] { return platform::sysio().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd >= 0) {
      platform::retry_eintr([&] { return platform::sysio().syncfs(fd); });
      platform::sysio().close(fd);
    }
    lock.lock();
  }
}

void OutputDirs::stop_flushing() {
  std::thread flusher;
  {
    std::lock_guard guard(flush_lock_);
    flush_stop_ = true;
    flusher = std::move(flusher_);
  }
  flush_wanted_.notify_one();
  if (flusher.joinable()) flusher.join();
}

const OutputDirs::Prepared& OutputDirs::lookup(const std::string& relative_dir) {
  auto it = done_.find(relative_dir);
  if (it == done_.end()) it = done_.emplace(relative_dir, make(relative_dir)).first;
  return it->second;
}

OutputDirs::Prepared OutputDirs::make(const std::string& relative_dir) {
  if (relative_dir.empty())
    return root_is_new_ ? Prepared{0, true, root_, -1} : make_existing(root_);
  const size_t slash = relative_dir.rfind('/');
  const std::string parent = slash == std::string::npos ? "" : relative_dir.substr(0, slash);
  const std::string name = relative_dir.substr(slash == std::string::npos ? 0 : slash + 1);
  // Important: references into done_ stay valid while it grows.
  const Prepared& up = lookup(parent);
  if (up.result != 0) return {up.result, false, {}, -1};
  const std::string final = root_ + "/" + relative_dir;
  if (up.stage >= 0) {  // inside a folder nobody sees yet: nothing to look at
    const std::string dir = up.dir + "/" + name;
    if (platform::sysio().mkdir(dir.c_str(), 0777) != 0) return {errno, false, {}, -1};
    return {0, true, dir, up.stage};
  }
  // Important: a link here would take every write below it out of the output tree.
  if (const int found = kind_of(final); found != ENOENT)
    return found != 0 ? Prepared{found, false, {}, -1} : make_existing(final);
  if (stage_) return make_staged(up.dir, name, final);
  if (platform::sysio().mkdir(final.c_str(), 0777) != 0) {
    if (errno != EEXIST) return {errno, false, {}, -1};
    // Someone else made it just now: checked like any found entry, and anything may be in it.
    if (const int found = kind_of(final); found != 0) return {found, false, {}, -1};
    return make_existing(final);
  }
  return {0, true, final, -1};
}

OutputDirs::Prepared OutputDirs::make_existing(const std::string& dir) {
  // Important: swept before this run's first write here, so no temporary file of ours is
  // taken; directories made now hold nothing to sweep.
  int folders = 0;
  const int removed = platform::remove_leftovers(dir, &folders);
  if (removed > 0 && say_)
    say_(kestrum::strfmt(P_("Removed %d temporary file a stopped run left in %s",
                            "Removed %d temporary files a stopped run left in %s", removed),
                         removed, dir.c_str()));
  if (folders > 0 && say_)
    say_(kestrum::strfmt(P_("Removed %d unfinished folder a stopped run left in %s",
                            "Removed %d unfinished folders a stopped run left in %s", folders),
                         folders, dir.c_str()));
  return {0, false, dir, -1};
}

OutputDirs::Prepared OutputDirs::make_staged(const std::string& parent, const std::string& name,
                                             const std::string& final) {
  for (int tries = 0; tries < 100; ++tries) {
    std::string dir = platform::staging_template(parent + "/", name);
    platform::fill_temp_suffix(dir);
    if (platform::sysio().mkdir(dir.c_str(), 0777) == 0) {
      stages_.push_back({dir, final, {}});
      return {0, true, std::move(dir), static_cast<int>(stages_.size() - 1)};
    }
    if (errno != EEXIST) return {errno, false, {}, -1};
  }
  return {EEXIST, false, {}, -1};
}

int OutputDirs::prepare(const std::string& relative_dir, std::string& dir, bool* made,
                        bool* staged) {
  std::unique_lock guard(lock_);
  if (!relative_dir.empty() && done_.count(relative_dir) == 0) make_in_stage(relative_dir, guard);
  const Prepared& p = lookup(relative_dir);
  dir = p.result == 0 ? p.dir : (relative_dir.empty() ? root_ : root_ + "/" + relative_dir);
  if (made != nullptr) *made = p.made;
  if (staged != nullptr) *staged = p.stage >= 0;
  return p.result;
}

void OutputDirs::make_in_stage(const std::string& relative_dir,
                               std::unique_lock<std::mutex>& guard) {
  const size_t slash = relative_dir.rfind('/');
  const auto up = done_.find(slash == std::string::npos ? "" : relative_dir.substr(0, slash));
  if (up == done_.end() || up->second.result != 0 || up->second.stage < 0) return;
  const std::string dir = up->second.dir + "/" + relative_dir.substr(slash + 1);
  const int stage = up->second.stage;
  // Important: not under the lock, or every thread entering a new folder waits for one mkdir.
  // Nobody else makes anything in a staged folder, and no file there has a folder's name:
  // one found made is another thread's.
  guard.unlock();
  const int err = platform::sysio().mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST ? 0 : errno;
  guard.lock();
  done_.emplace(relative_dir,
                err == 0 ? Prepared{0, true, dir, stage} : Prepared{err, false, {}, -1});
}

int OutputDirs::prepare_again(const std::string& relative_dir, std::string& dir) {
  {
    std::lock_guard guard(lock_);
    done_.erase(relative_dir);
  }
  return prepare(relative_dir, dir);
}

void OutputDirs::staged_file(const std::string& path, uint64_t bytes, uint64_t token,
                             const std::string& source,
                             const std::optional<platform::FileStamp>& stamp, bool watchable) {
  StagedFile file{path, token, source, stamp, watchable};
  {
    // Important: one lock for every thread made them queue on it file after file.
    Shard& shard = shards_[token % kShards];
    std::lock_guard guard(shard.lock);
    shard.files.push_back(std::move(file));
  }
  if (!durable_) return;
  const uint64_t before = unflushed_.fetch_add(bytes, std::memory_order_relaxed);
  if (before < kFlushEvery && before + bytes >= kFlushEvery) {
    unflushed_.store(0, std::memory_order_relaxed);
    kick_flush(path.substr(0, path.rfind('/')));  // its folder: on the staged folder's disk
  }
}

// Each staged file into the stage its path lies in; one outside every stage was not staged.
void OutputDirs::sort_into(std::vector<Stage>& stages,
                           std::vector<std::vector<StagedFile>>& taken) {
  taken.resize(kShards);
  for (size_t k = 0; k < kShards; ++k) {
    std::vector<StagedFile>& files = taken[k];
    {
      std::lock_guard guard(shards_[k].lock);
      files.swap(shards_[k].files);
    }
    const auto inside = [](const StagedFile& f, const Stage& s) {
      return f.path.size() > s.dir.size() && f.path.compare(0, s.dir.size(), s.dir) == 0 &&
             f.path[s.dir.size()] == '/';
    };
    size_t last = 0;  // a shard's files come in the walk's order: most share the last one's stage
    for (const StagedFile& f : files) {
      if (last >= stages.size() || !inside(f, stages[last])) {
        last = 0;
        while (last < stages.size() && !inside(f, stages[last])) ++last;
        if (last == stages.size()) continue;
      }
      stages[last].files.push_back(&f);
    }
  }
}

void OutputDirs::watch_sources(std::unique_ptr<platform::ChangeWatch> watch) {
  const std::lock_guard guard(watch_lock_);
  watch_ = std::move(watch);
}

void OutputDirs::watch_source_folder(const std::string& dir) {
  platform::ChangeWatch* watch = nullptr;
  {
    const std::lock_guard guard(watch_lock_);
    watch = watch_.get();
  }
  // Important: not under watch_lock_: a thread adding a folder kept the other waiting.
  if (watch != nullptr) watch->watch(dir);
}

void OutputDirs::stop_watching(bool read) {
  const std::lock_guard guard(watch_lock_);  // the conversion threads are done by now
  if (!watch_) return;
  if (read) watch_->collect();
  watch_->finish();
}

// Whether each staged file's source still has the stamp it was read with, on two threads: at
// the run's end every source is looked at again, and one thread does it half as fast.
std::vector<char> OutputDirs::changed_sources(const std::vector<Stage>& stages) {
  const platform::ChangeWatch* watch = nullptr;
  {
    const std::lock_guard guard(watch_lock_);
    watch = watch_.get();
  }
  std::vector<const StagedFile*> files;
  for (const Stage& s : stages) files.insert(files.end(), s.files.begin(), s.files.end());
  std::vector<char> changed(files.size(), 0);
  std::atomic<size_t> next{0};
  platform::fan_out(files.size() > 64 ? 2 : 1, [&] {
    for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < files.size();) {
      const StagedFile& f = *files[i];
      if (!f.stamp) continue;
      // Important: the stat per file this saves was a tenth of a run of small files.
      if (f.watchable && watch != nullptr && !watch->may_have_changed(f.source)) continue;
      const platform::Result<platform::FileStamp> now = platform::stamp_file(f.source);
      changed[i] = !now || *now != *f.stamp;
    }
  });
  return changed;
}

void OutputDirs::drop_changed(std::vector<Stage>& stages, const std::vector<char>& changed,
                              const Failed& failed) {
  size_t i = 0;
  for (Stage& stage : stages)
    std::erase_if(stage.files, [&](const StagedFile* f) {
      if (!changed[i++]) return false;
      platform::sysio().unlink(f->path.c_str());
      failed(f->token, platform::kSourceChanged);
      return true;
    });
}

void OutputDirs::move_in(Stage& stage, const Failed& failed) {
  for (const StagedFile* f : stage.files) {
    const std::string target = stage.final + f->path.substr(stage.dir.size());
    // The folders between: made where missing (someone made the top one meanwhile).
    for (size_t at = stage.final.size() + 1; (at = target.find('/', at)) != std::string::npos; ++at)
      platform::sysio().mkdir(target.substr(0, at).c_str(), 0777);
    if (platform::sysio().rename_noreplace(f->path.c_str(), target.c_str()) != 0)
      failed(f->token, errno);
  }
}

void OutputDirs::publish_staged(bool durable, const Failed& failed) {
  stop_flushing();
  std::vector<Stage> stages;
  {
    std::lock_guard guard(lock_);
    stages.swap(stages_);
  }
  std::vector<std::vector<StagedFile>> taken;
  sort_into(stages, taken);
  stop_watching(/*read=*/!stages.empty());  // nothing staged: nothing to look at again
  if (stages.empty()) return;
  std::vector<std::string> dirs;
  for (Stage& s : stages) dirs.push_back(s.dir);
  // Important: the disk is flushed while the sources are looked at again. A target dropped for
  // its changed source meanwhile is unlinked before its folder is named, and the flush after
  // the renames makes that lasting too.
  std::vector<int> flushed(dirs.size());
  std::thread flush;
  if (durable) {
    try {
      flush = std::thread([&] { flushed = sync_file_systems(dirs); });
    } catch (const std::system_error&) {
    }
  }
  const std::vector<char> changed = changed_sources(stages);
  if (flush.joinable()) {
    flush.join();
  } else if (durable) {
    flushed = sync_file_systems(dirs);
  }
  drop_changed(stages, changed, failed);
  std::vector<std::string> named;
  for (size_t i = 0; i < stages.size(); ++i) {
    Stage& s = stages[i];
    int err = flushed[i];
    if (err == 0 && platform::sysio().rename_noreplace(s.dir.c_str(), s.final.c_str()) == 0) {
      named.push_back(s.final);
      continue;
    }
    if (err == 0) err = errno;
    if (err == EEXIST || err == ENOTEMPTY) {
      move_in(s, failed);
      named.push_back(s.final);
    } else {
      for (const StagedFile* f : s.files) failed(f->token, err);
    }
    (void)platform::remove_tree(s.dir);
  }
  // The new names themselves reach the disk before the run reports them.
  if (durable) sync_file_systems(named);
}
