// The undo of a run: each kept file looked at, put back where it still is the run's, the store
// removed once everything is back.
#include "job/undo_job.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "job/job_messages.h"
#include "job/run_checks.h"
#include "platform/publisher.h"
#include "platform/sys_io.h"
#include "platform/target_file.h"
#include "platform/temp_name.h"
#include "undo/content_hash.h"
#include "undo/restore.h"
#include "undo/store.h"
#include "undo/undo_messages.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

using Clock = std::chrono::steady_clock;

class UndoRunner {
 public:
  UndoRunner(const UndoPlan& plan, std::atomic<bool>& stop, JobObserver& observer)
      : plan_(plan), stop_(stop), observer_(observer) {}

  JobReport run();

 private:
  bool refused(const std::string& why);
  // The line refusing a report that would be written over a file of the run, or empty.
  std::string report_refusal();
  const undo::RunSummary* choose(const std::vector<undo::RunSummary>& runs);
  std::string full(const std::string& relative) const;
  // Looks at the file the run kept as `index` and puts it back; fills its row.
  void undo_file(size_t index, const undo::KeptFile& k);
  void put_back(size_t index, const undo::KeptFile& k, const std::string& path,
                const undo::FileNow& now);
  // Its other names, given its content again; false when one is not.
  bool relink_names(const undo::KeptFile& k, const std::string& path, FileReport& row);
  void done(size_t index, uint64_t bytes);
  // A copy handed to the publisher that did not get its name after all.
  void published(uint64_t index, int error);
  void sync_touched();

  const UndoPlan& plan_;
  std::atomic<bool>& stop_;
  JobObserver& observer_;
  undo::RunSummary run_;
  JobReport report_;  // its rows sized before the first file, each written by index
  JobProgress progress_;
  Clock::time_point start_;
  std::map<dev_t, std::string> touched_;  // a folder of each file system renamed into
  // Written by the publisher's thread too, and every observer call: under lock_.
  std::mutex lock_;
  std::vector<char> back_;        // per file: as before the run, every name
  std::vector<char> reported_;    // per file: handed to the observer
  std::vector<char> publishing_;  // per file: a copy with the publisher, its result to come
  // Copies that go back in durable batches (the kept file itself needs no flush).
  std::unique_ptr<platform::Publisher> publisher_;
};

bool UndoRunner::refused(const std::string& why) {
  report_.ran = false;
  report_.refusal = why;
  observer_.message(why);
  return true;
}

const undo::RunSummary* UndoRunner::choose(const std::vector<undo::RunSummary>& runs) {
  if (plan_.run.empty()) {
    if (runs.empty()) refused(undo::no_run_line(plan_.root));
    return runs.empty() ? nullptr : &runs.back();
  }
  for (const undo::RunSummary& r : runs)
    if (r.id == plan_.run) return &r;
  refused(undo::no_such_run_line(plan_.root, plan_.run));
  return nullptr;
}

std::string UndoRunner::report_refusal() {
  if (plan_.report.empty()) return {};
  ReportPlace place(plan_.report, plan_.root, plan_.root);
  const auto over = [&](const std::string& name) {
    if (!name.empty() && name[0] == '/')
      return ReportPlace(plan_.report, platform::dir_part(name), platform::dir_part(name))
          .holds("", platform::name_part(name), true);
    const size_t slash = name.rfind('/');
    return place.holds(slash == std::string::npos ? std::string() : name.substr(0, slash),
                       name.substr(slash + 1), true);
  };
  for (const undo::KeptFile& k : run_.manifest.files) {
    if (k.voided) continue;
    for (size_t i = 0; i <= k.links.size(); ++i) {
      const std::string& name = i == 0 ? k.path : k.links[i - 1];
      if (!over(name)) continue;
      return kestrum::strfmt(_("the report %s would be written over %s, a file of the run; "
                               "choose another place for it"),
                             plan_.report.c_str(), name.c_str());
    }
  }
  return {};
}

std::string UndoRunner::full(const std::string& relative) const {
  return !relative.empty() && relative[0] == '/' ? relative : plan_.root + "/" + relative;
}

void set_not_back(FileReport& row, int error) {
  // Written to between the look and the rename: still someone's, never overwritten.
  if (error == platform::kSourceChanged) {
    row.outcome = Outcome::changed_since;
    row.error = 0;
    row.note = undo::changed_since_note();
    return;
  }
  row.outcome = Outcome::cannot_write;
  row.error = error;
}

void UndoRunner::put_back(size_t index, const undo::KeptFile& k, const std::string& path,
                          const undo::FileNow& now) {
  FileReport& row = report_.files[index];
  const std::string kept = undo::kept_path(run_.dir, k.number);
  const bool deleted = now.found == undo::Found::deleted;
  if (const platform::Status whole = undo::check_kept(kept, k); !whole) {
    row.outcome = Outcome::cannot_read;
    row.error = whole.err() == EIO ? 0 : whole.err();
    row.note = undo::damaged_kept_note();
    return;
  }
  row.outcome = Outcome::restored;
  row.note = deleted ? undo::deleted_since_note(true) : std::string();
  if (plan_.look_only) {
    if (!deleted) row.note = undo::goes_back_note();
    return;
  }
  platform::Status status = deleted ? undo::make_parents(path) : platform::Status();
  const std::optional<platform::FileStamp> expected =
      deleted ? std::nullopt : std::optional<platform::FileStamp>(now.stamp);
  if (status && k.how != undo::KeptBy::link && k.links.empty() && plan_.durable) {
    // A copy is flushed before its name: in batches, as a run's targets are.
    platform::TargetFile target;
    if ((status = undo::prepare_copy(kept, path, k, expected, target))) {
      std::lock_guard guard(lock_);
      back_[index] = 1;
      publishing_[index] = 1;
    }
    if (status) return publisher_->submit(std::move(target), index);
  } else if (status) {
    status = undo::put_back(kept, path, k, expected, plan_.durable);
  }
  if (!status) return set_not_back(row, status.err());
  struct stat st;
  if (platform::sysio().stat(path.c_str(), &st) == 0)
    touched_.try_emplace(st.st_dev, platform::dir_part(path));
  const bool all = relink_names(k, path, row);
  std::lock_guard guard(lock_);
  back_[index] = all ? 1 : 0;
}

bool UndoRunner::relink_names(const undo::KeptFile& k, const std::string& path, FileReport& row) {
  bool all = true;
  for (const std::string& name : k.links) {
    const std::string other = full(name);
    struct stat a, b;
    const bool there = platform::sysio().lstat(other.c_str(), &b) == 0;
    if (there && platform::sysio().lstat(path.c_str(), &a) == 0 && a.st_dev == b.st_dev &&
        a.st_ino == b.st_ino)
      continue;  // back already
    bool runs = false;
    if (there && S_ISREG(b.st_mode) && static_cast<uint64_t>(b.st_size) == k.new_size) {
      const platform::Result<undo::FileDigest> d = undo::digest_path(other);
      runs = d && d->hash == k.new_hash;
    }
    if (runs || (!there && plan_.force)) {
      if (plan_.look_only) continue;
      if (platform::relink(path, other)) continue;
    }
    all = false;
    row.note += (row.note.empty() ? "" : "; ") + undo::other_name_note(name, there);
  }
  return all;
}

void UndoRunner::undo_file(size_t index, const undo::KeptFile& k) {
  FileReport& row = report_.files[index];
  row.path = k.path;
  row.bytes = k.old_size;
  row.source = run_.manifest.header.target;
  row.target = run_.manifest.header.source;
  const std::string path = full(k.path);
  const undo::FileNow now = undo::look_at(path, k, undo::kept_path(run_.dir, k.number));
  switch (now.found) {
    case undo::Found::old: {
      row.outcome = Outcome::restored;
      row.note = undo::already_back_note();
      const bool all = relink_names(k, path, row);
      std::lock_guard guard(lock_);
      back_[index] = all ? 1 : 0;
      return;
    }
    case undo::Found::changed:
      row.outcome = Outcome::changed_since;
      row.error = now.error;
      row.note = undo::changed_since_note();
      return;
    case undo::Found::deleted:
      if (!plan_.force) {
        row.outcome = Outcome::deleted_since;
        row.note = undo::deleted_since_note(false);
        return;
      }
      return put_back(index, k, path, now);
    default:
      return put_back(index, k, path, now);
  }
}

void UndoRunner::published(uint64_t index, int error) {
  std::lock_guard guard(lock_);
  FileReport& row = report_.files[index];
  publishing_[index] = 0;
  if (error != 0) {
    set_not_back(row, error);
    back_[index] = 0;
  }
  if (!reported_[index]) return;  // done() settles it
  if (error != 0)
    observer_.file_revised(index, row, undo::not_put_back_line(row.path, detail_text(row)));
  observer_.file_settled(index, row);
}

void UndoRunner::done(size_t index, uint64_t bytes) {
  std::lock_guard guard(lock_);
  const FileReport& row = report_.files[index];
  ++progress_.files_done;
  progress_.bytes_done += bytes;
  progress_.micros =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
  std::vector<std::string> lines;
  if (observer_.wants_file_lines())
    lines.push_back(row.outcome == Outcome::restored
                        ? undo::put_back_line(row.path, row.note)
                        : undo::not_put_back_line(row.path, detail_text(row)));
  reported_[index] = 1;
  observer_.file_done(index, row, lines, progress_);
  if (!publishing_[index]) observer_.file_settled(index, row);
}

// What went back by rename is on the disk before the store that held it goes (copies are
// flushed by the publisher).
void UndoRunner::sync_touched() {
  if (!plan_.durable) return;
  for (const auto& [dev, dir] : touched_) {
    const char* where = dir.empty() ? "." : dir.c_str();
    const int fd = platform::retry_eintr(
        [&] { return platform::sysio().open(where, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0); });
    if (fd < 0) continue;
    platform::retry_eintr([&] { return platform::sysio().syncfs(fd); });
    platform::sysio().close(fd);
  }
}

JobReport UndoRunner::run() {
  report_.input = report_.output = plan_.root;
  undo::clear_leftovers(plan_.root);  // a run half made or half dropped by a kill
  const std::vector<undo::RunSummary> runs = undo::list_runs(plan_.root);
  const undo::RunSummary* chosen = choose(runs);
  if (chosen == nullptr) return std::move(report_);
  run_ = *chosen;
  if (run_.readable && !run_.manifest.whole) {
    platform::Result<undo::Manifest> whole = undo::read_manifest(undo::manifest_path(run_.dir));
    run_.readable = whole.has_value();
    if (whole) run_.manifest = std::move(*whole);
    if (!whole) run_.error = whole.error().message();
  }
  if (!run_.readable && refused(undo::unreadable_run_line(run_))) return std::move(report_);
  if (const std::string why = report_refusal(); !why.empty() && refused(why))
    return std::move(report_);
  undo::RunLock lock;
  // Important: held throughout, so no run still writing it, nor a second undo, meets this one.
  if (const platform::Status held = lock.take(run_.dir); !held) {
    refused(held.err() == EWOULDBLOCK ? undo::busy_run_line(run_) : held.error().message());
    return std::move(report_);
  }
  report_.ran = true;
  report_.undone = run_.id;
  report_.source = run_.manifest.header.target;
  report_.target = run_.manifest.header.source;
  observer_.message(undo::undo_start_line(run_, plan_.root, plan_.look_only));
  std::vector<const undo::KeptFile*> files;
  for (const undo::KeptFile& k : run_.manifest.files)
    if (!k.voided) files.push_back(&k);
  report_.files.resize(files.size());
  back_.assign(files.size(), 0);
  reported_.assign(files.size(), 0);
  publishing_.assign(files.size(), 0);
  if (!plan_.look_only) {
    platform::PublisherOptions publishing;
    publishing.durable = plan_.durable;
    publisher_ = std::make_unique<platform::Publisher>(
        publishing,
        [this](uint64_t index, const std::string&, int error) { published(index, error); });
  }
  progress_.files_total = files.size();
  observer_.search_done(files.size());
  start_ = Clock::now();
  size_t next = 0;
  for (; next < files.size() && !stop_.load(std::memory_order_relaxed); ++next) {
    undo_file(next, *files[next]);
    done(next, files[next]->old_size);
  }
  if (publisher_) publisher_->finish();  // every copy published, its callback run
  for (size_t i = next; i < files.size(); ++i) {
    report_.files[i].path = files[i]->path;
    report_.files[i].outcome = Outcome::not_reached;
  }
  report_.stopped = next < files.size();
  sync_touched();
  report_.convert_seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  report_.bytes = progress_.bytes_done;
  const size_t back = static_cast<size_t>(std::count(back_.begin(), back_.end(), 1));
  observer_.message(
      undo::undo_complete_line(back, files.size(), report_.convert_seconds, plan_.look_only));
  if (plan_.look_only) return std::move(report_);
  for (const std::string& line : summary_lines(report_)) observer_.message(line);
  if (back == files.size()) {
    lock.release();
    if (const platform::Status dropped = undo::drop_run(run_); dropped)
      observer_.message(undo::store_removed_line(run_));
    else
      observer_.message(undo::cannot_drop_line(run_, dropped.error()));
  } else {
    observer_.message(undo::store_kept_line(run_, files.size() - back));
  }
  return std::move(report_);
}

}  // namespace

JobReport UndoJob::run(JobObserver& observer) {
  UndoRunner runner(plan_, stop_, observer);
  return runner.run();
}
