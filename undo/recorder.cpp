// Keeping old content: a second name for the old file, else a reflink, else a copy; records.
#include "undo/recorder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "platform/fs.h"
#include "platform/leftovers.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "undo/undo_messages.h"
#include "util/local_time.h"

namespace undo {
namespace {

using platform::sysio;

int64_t now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int64_t ns_of(const struct timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; }

// "20260115-143012": the run's local start, sortable.
std::string run_id(int64_t started_ns) { return local_time_text(started_ns, "%Y%m%d-%H%M%S"); }

void take_attributes(const struct stat& st, KeptFile& k) {
  k.mode = st.st_mode & 07777;
  k.uid = st.st_uid;
  k.gid = st.st_gid;
  k.atime_ns = ns_of(st.st_atim);
  k.mtime_ns = ns_of(st.st_mtim);
}

// The content is what the run read: same file, size and modification time.
bool as_read(const struct stat& st, const platform::FileStamp& stamp) {
  return st.st_dev == stamp.dev && st.st_ino == stamp.ino && st.st_size == stamp.size &&
         ns_of(st.st_mtim) == stamp.mtime_ns;
}

int mkdir_here(const std::string& path) {
  if (sysio().mkdir(path.c_str(), 0700) == 0) return 0;
  if (errno != EEXIST) return errno;
  struct stat st;
  // Important: never a link someone put in its place.
  if (sysio().lstat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int write_all(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = platform::retry_eintr(
        [&] { return sysio().write(fd, text.data() + done, text.size() - done); });
    if (n < 0) return errno;
    if (n == 0) return EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

std::string real_path(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
}

std::string below(const std::string& root, const std::string& path) {
  if (root.empty() || path.size() <= root.size() + 1 || path.compare(0, root.size(), root) != 0)
    return {};
  if (root == "/") return path.substr(1);
  return path[root.size()] == '/' ? path.substr(root.size() + 1) : std::string();
}

}  // namespace

std::string Recorder::relative(const std::string& below_input) const {
  if (prefix_.empty()) return below_input;
  const std::string rel = below(prefix_, below_input);
  return rel.empty() ? below_input : rel;
}

std::string Recorder::relative_of_real(const std::string& real) const {
  const std::string rel = below(real_input_, real);
  return rel.empty() ? real : relative(rel);
}

Recorder::Recorder(const std::string& input, const std::string& prefix, std::string source,
                   std::string target, Limits limits, bool durable)
    : prefix_(prefix),
      root_(prefix.empty() ? input : input + "/" + prefix),
      real_input_(real_path(input)),
      source_(std::move(source)),
      target_(std::move(target)),
      limits_(limits),
      durable_(durable) {}

Recorder::~Recorder() {
  if (manifest_fd_ >= 0) sysio().close(manifest_fd_);
}

int Recorder::make_run_dir(const std::string& store) {
  if (const int err = mkdir_here(store)) return err;
  const std::string ignore = store + "/" + kIgnoreName;
  const int fd = platform::retry_eintr(
      [&] { return sysio().open(ignore.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644); });
  if (fd >= 0) {
    (void)write_all(fd, "*\n");
    sysio().close(fd);
  }
  // Important: made whole under a hidden name, then named: a kill meanwhile leaves no run that
  // lacks its manifest, only a hidden folder the next run or undo removes.
  const int64_t started = now_ns();
  const std::string base = run_id(started);
  std::string hidden;
  for (int tries = 0;; ++tries) {
    hidden = platform::temp_template(store + "/", base);
    platform::fill_temp_suffix(hidden);
    if (sysio().mkdir(hidden.c_str(), 0700) == 0) break;
    if (errno != EEXIST || tries == 100) return errno;
  }
  store_ = store;
  run_dir_ = hidden;
  if (const int err = mkdir_here(hidden + "/files")) return err;
  const std::string path = manifest_path(hidden);
  manifest_fd_ = platform::retry_eintr([&] {
    return sysio().open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
  });
  if (manifest_fd_ < 0) return errno;
  // Held for the whole run: no other process tidies, drops or undoes it meanwhile.
  if (platform::retry_eintr([&] { return sysio().flock(manifest_fd_, LOCK_EX); }) != 0)
    return errno;
  struct stat st;
  if (sysio().fstat(manifest_fd_, &st) != 0) return errno;
  dev_ = st.st_dev;
  for (int n = 1; n < 1000; ++n) {
    const std::string id = n == 1 ? base : base + "-" + std::to_string(n);
    if (const int err =
            write_all(manifest_fd_, header_records({id, started, root_, source_, target_})))
      return err;
    if (sysio().rename_noreplace(hidden.c_str(), (store + "/" + id).c_str()) == 0) {
      run_dir_ = store + "/" + id;
      id_ = id;
      return 0;
    }
    if (errno != EEXIST && errno != ENOTEMPTY) return errno;
    // Taken: the header names the next ID instead.
    if (sysio().ftruncate(manifest_fd_, 0) != 0) return errno;
  }
  return EEXIST;
}

int Recorder::open_run() {
  tried_ = true;
  const std::string inside = inside_store(root_);
  int err = make_run_dir(inside);
  // Only a root that cannot be written sends the store beside it.
  if (err != 0 && run_dir_.empty() && (err == EACCES || err == EPERM || err == EROFS)) {
    const std::string beside = beside_store(root_);
    if (!beside.empty() && make_run_dir(beside) == 0) {
      beside_ = true;
      ready_.store(true, std::memory_order_release);
      return 0;
    }
  }
  if (err == 0) ready_.store(true, std::memory_order_release);
  if (err != 0) {
    error_place_ = store_.empty() ? inside : store_;
    if (manifest_fd_ >= 0) sysio().close(std::exchange(manifest_fd_, -1));
    if (!run_dir_.empty()) (void)platform::remove_tree(run_dir_);
    run_dir_.clear();
  }
  return error_ = err;
}

int Recorder::keep(const KeepRequest& request, platform::FileStamp& stamp) {
  if (!ready_.load(std::memory_order_acquire)) {
    std::lock_guard guard(lock_);
    if (!tried_) open_run();
    if (error_ != 0) return error_;
  }
  const uint64_t number = next_.fetch_add(1);
  const std::string kept = kept_path(run_dir_, number);
  KeptFile k;
  k.number = number;
  k.path = request.relative;
  k.links = request.links;
  k.old_size = request.old_size;
  k.old_hash = request.old_hash;
  k.new_size = request.new_size;
  k.new_hash = request.new_hash;
  k.outcome = request.outcome;
  int err = keep_by_link(request, kept, k, stamp);
  if (err != 0 && err != platform::kSourceChanged) err = keep_by_copy(request, kept, k);
  if (err == 0) err = record(keep_record(k));
  if (err != 0) {
    if (err != platform::kSourceChanged) sysio().unlink(kept.c_str());
    return err;
  }
  std::lock_guard guard(lock_);
  kept_[request.token] = {number, request.old_size};
  ++files_;
  bytes_ += request.old_size;
  dirty_.store(true, std::memory_order_release);
  return 0;
}

int Recorder::record(const std::string& line) {
  if (durable_) {
    std::lock_guard guard(lock_);
    if (records_error_ != 0) return records_error_;
    pending_ += line;
    return 0;
  }
  // Important: one write with O_APPEND, so the threads' records never interleave.
  return write_all(manifest_fd_, line);
}

int Recorder::flush_records() {
  std::string lines;
  {
    std::lock_guard guard(lock_);
    if (records_error_ != 0) return records_error_;
    lines.swap(pending_);
  }
  if (lines.empty()) return 0;
  const int err = write_all(manifest_fd_, lines);
  std::lock_guard guard(lock_);
  if (err != 0) records_error_ = err;
  return err;
}

int Recorder::keep_by_link(const KeepRequest& request, const std::string& kept, KeptFile& k,
                           platform::FileStamp& stamp) {
  if (sysio().link(request.path.c_str(), kept.c_str()) != 0) return errno;
  struct stat st;
  // Important: the second name must be of the file as read; it changes only the link count
  // and ctime, anything else means someone wrote to it (or replaced it) since it was read.
  if (sysio().stat(request.path.c_str(), &st) != 0 || !as_read(st, request.stamp) ||
      st.st_nlink != request.stamp.links + 1) {
    sysio().unlink(kept.c_str());
    return platform::kSourceChanged;
  }
  stamp = request.stamp;
  stamp.links = st.st_nlink;
  stamp.ctime_ns = ns_of(st.st_ctim);
  k.how = KeptBy::link;
  take_attributes(st, k);
  return 0;
}

int Recorder::keep_by_copy(const KeepRequest& request, const std::string& kept, KeptFile& k) {
  const int from = platform::retry_eintr(
      [&] { return sysio().open(request.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0); });
  if (from < 0) return errno;
  struct stat st;
  int err = sysio().fstat(from, &st) != 0 ? errno
            : !as_read(st, request.stamp) ? platform::kSourceChanged
                                          : 0;
  const int to = err != 0 ? -1 : platform::retry_eintr([&] {
    return sysio().open(kept.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  });
  if (err == 0 && to < 0) err = errno;
  if (err == 0) {
    k.how = sysio().ficlone(to, from) == 0 ? KeptBy::reflink : KeptBy::copy;
    if (k.how == KeptBy::copy)
      err = platform::copy_bytes(from, to, 0, static_cast<off_t>(request.old_size));
  }
  if (to >= 0 && sysio().close(to) != 0 && errno != EINTR && err == 0) err = errno;
  // Written to while it was copied: the copy is not what the run read.
  if (err == 0 && (sysio().fstat(from, &st) != 0 || !as_read(st, request.stamp)))
    err = platform::kSourceChanged;
  if (err == 0) take_attributes(st, k);
  sysio().close(from);
  if (err != 0 && to >= 0) sysio().unlink(kept.c_str());
  return err;
}

RunSummary Recorder::summary() const {
  RunSummary run;
  run.id = id_;
  run.dir = run_dir_;
  run.store = store_;
  run.beside = beside_;
  return run;
}

int Recorder::append(const std::string& records) { return write_all(manifest_fd_, records); }

std::string Recorder::failure_note() const {
  std::lock_guard guard(lock_);
  return keep_failure_note(error_place_.empty() ? run_dir_ : error_place_);
}

void Recorder::discard(uint64_t token) {
  uint64_t number;
  {
    std::lock_guard guard(lock_);
    const auto it = kept_.find(token);
    if (it == kept_.end()) return;
    number = it->second.first;
    --files_;
    bytes_ -= it->second.second;
    kept_.erase(it);
  }
  sysio().unlink(kept_path(run_dir_, number).c_str());
  (void)record(void_record(number));
}

int Recorder::sync(const std::vector<dev_t>& flushed) {
  if (!dirty_.exchange(false, std::memory_order_acq_rel)) return 0;
  if (std::find(flushed.begin(), flushed.end(), dev_) != flushed.end()) return 0;
  if (platform::retry_eintr([&] { return sysio().syncfs(manifest_fd_); }) != 0) {
    const int err = errno;
    dirty_.store(true);
    return err;
  }
  return 0;
}

size_t Recorder::files() const {
  std::lock_guard guard(lock_);
  return files_;
}

uint64_t Recorder::bytes() const {
  std::lock_guard guard(lock_);
  return bytes_;
}

std::vector<std::string> Recorder::finish(bool stopped) {
  (void)flush_records();
  std::lock_guard guard(lock_);
  std::vector<std::string> lines;
  if (manifest_fd_ < 0) return lines;
  (void)append(end_record(now_ns(), stopped, files_, bytes_));
  sysio().close(manifest_fd_);
  manifest_fd_ = -1;
  const RunSummary run = summary();
  if (files_ == 0) {
    (void)drop_run(run);  // it replaced nothing after all: it costs nothing
    return lines;
  }
  lines.push_back(kept_line(run, files_, bytes_));
  for (std::string& line : bound_store(root_, limits_, id_)) lines.push_back(std::move(line));
  return lines;
}

}  // namespace undo
