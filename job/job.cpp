// The run of a conversion job: checks, search, conversion threads, summary.
#include "job/job.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "detect/detect.h"
#include "detect/lang_model.h"
#include "job/file_claims.h"
#include "job/file_convert.h"
#include "job/in_place.h"
#include "job/job_messages.h"
#include "job/output_dirs.h"
#include "job/run_checks.h"
#include "job/source_detection.h"
#include "platform/fan_out.h"
#include "platform/fs.h"
#include "platform/fsutil.h"
#include "platform/publisher.h"
#include "platform/sys_io.h"
#include "policy/editorconfig_policy.h"
#include "policy/filter.h"
#include "transcode/code_table.h"
#include "transcode/table_decoder.h"
#include "undo/recorder.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

// Each file's policy, or null when every file gets the run's settings. Other policy sources
// (.editorconfig) are added here, after the rules: see convert/file_policy.h.
std::shared_ptr<const PolicyResolver> make_policy(const JobOptions& options) {
  if (options.rules.empty() && !options.editorconfig) return nullptr;
  auto policy = std::make_shared<PolicyResolver>(options.eol, options.bom, options.rules);
  if (options.editorconfig) policy->add_source(editorconfig_source());
  return policy;
}

}  // namespace

RunContext run_context(const JobPlan& plan) {
  RunContext ctx;
  ctx.input = plan.input;
  ctx.output = plan.output;
  ctx.in_place = same_directory(plan.input, plan.output);
  ctx.dry_run = plan.options.dry_run;
  ctx.samples = plan.options.samples;
  ctx.eol = plan.options.eol;
  ctx.bom = plan.options.bom;
  ctx.policy = make_policy(plan.options);
  ctx.whole_file_limit = plan.options.whole_file_limit;
  ctx.stream_chunk = plan.options.stream_chunk;
  ctx.encodings = RunEncodings::resolve(plan.source, plan.target);
  ctx.repair = plan.options.repair;
  ctx.repair_check = plan.options.repair_check;
  ctx.conform = plan.options.conform;
  ctx.repair_candidates = {plan.source.charset};
  if (plan.options.detect) {
    std::vector<std::string> names = plan.options.candidates;
    const detect::Preset* preset = detect::preset_of(plan.source.charset);
    if (names.empty() && preset != nullptr) names.push_back(preset->name);
    ctx.repair_candidates = detect::expand_candidates(names);
  }
  return ctx;
}

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Where a run in place keeps its undo store, below the input: the deepest folder holding every
// path it names (`--in-place docs` keeps it in docs, as `--undo docs` looks for it), else "".
std::string undo_prefix(const JobPlan& plan) {
  std::string common;
  bool first = true;
  for (const std::string& named : plan.roots) {
    std::string dir = named;
    if (!named.empty() && !platform::is_directory(plan.input + "/" + named)) {
      const size_t slash = named.rfind('/');
      dir = slash == std::string::npos ? std::string() : named.substr(0, slash);
    }
    if (first) {
      common = dir;
      first = false;
      continue;
    }
    size_t same = 0;
    for (size_t i = 0; i <= std::min(common.size(), dir.size()); ++i) {
      const bool end_a = i == common.size() || common[i] == '/';
      const bool end_b = i == dir.size() || dir[i] == '/';
      if (end_a && end_b) same = i;
      if (i == common.size() || i == dir.size() || common[i] != dir[i]) break;
    }
    common.resize(same);
  }
  return common;
}

std::string undo_root(const JobPlan& plan) {
  const std::string prefix = undo_prefix(plan);
  return prefix.empty() ? plan.input : plan.input + "/" + prefix;
}

// One run: the job's state between its start and its report.
class Runner {
 public:
  Runner(const JobPlan& plan, std::atomic<bool>& stop, JobObserver& observer)
      : plan_(plan), stop_(stop), observer_(observer) {}
  ~Runner() {
    if (rows_maker_.joinable()) rows_maker_.join();
    if (warmer_.joinable()) warmer_.join();
  }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  JobReport run();

 private:
  bool checks();
  // The run's checks once its files are known; true (and said) when it cannot work.
  bool refused();
  // Makes the output root when missing; directories and publishing of the targets.
  void open_output();
  void prepare_context();
  // Starts building the tables the conversion threads share, while the search runs.
  void warm_tables();
  void collect_files();
  void search();
  // One named path below the input: a folder searched, a file taken as the search would.
  void search_root(const std::string& root, const fsutil::search_options& options,
                   const fsutil::search_accept& accept);
  void drop_repeats();
  // Starts making `count` report rows on another thread, while the search reports its files.
  void make_rows(size_t count);
  void detect_sources();
  void watch_sources();
  void convert();
  void worker();
  // Runs `work(index, buffer)` for every file on the job's threads until done or stopped.
  void for_each_file(const std::function<void(size_t, std::string&)>& work);
  // `later`: its target is published later (in a batch, or with its folder at the end).
  void finish_file(size_t index, FileReport&& report, const Clock::time_point& start, bool later);
  void published(uint64_t index, int error);
  // Tells the observer a file's outcome is final, once (under observer_lock_).
  void settle(size_t index);
  void say(const std::string& text);
  // The undo store's last record, its bounds, and what it kept in the report.
  void finish_undo();
  bool stopped() const { return stop_.load(std::memory_order_relaxed); }

  const JobPlan& plan_;
  std::atomic<bool>& stop_;
  JobObserver& observer_;
  std::mutex observer_lock_;  // one observer call at a time; guards progress_ too
  JobProgress progress_;
  RunContext ctx_;
  std::unique_ptr<NarrowLabelCheck> narrow_;
  std::unique_ptr<OutputDirs> dirs_;
  std::unique_ptr<platform::Publisher> publisher_;
  std::unique_ptr<undo::Recorder> recorder_;       // in place: what the run replaces is kept there
  std::unordered_map<size_t, int> early_results_;  // publishing's errno before finish_file
  std::vector<JobFile> files_;
  // Per file: 0 not done yet; kSettled; kPending, done with its target not published yet.
  std::vector<char> processed_;
  static constexpr char kSettled = 1, kPending = 2;
  std::unique_ptr<FileClaims> claims_;  // made before the conversion threads start
  std::atomic<size_t> workers_{0};      // each conversion thread's first part
  Clock::time_point convert_start_;
  JobReport report_;
  // Owned by rows_maker_ while it runs: it is joined before the rows become report_'s.
  std::vector<FileReport> rows_;
  std::thread rows_maker_;
  std::thread warmer_;  // touches only process-wide tables, each built once under its own lock
};

void Runner::say(const std::string& text) {
  std::lock_guard guard(observer_lock_);
  observer_.message(text);
}

void Runner::finish_undo() {
  for (const std::string& line : recorder_->finish(stopped())) say(line);
  if (recorder_->files() == 0) return;
  report_.kept.run = recorder_->id();
  report_.kept.dir = recorder_->run_dir();
  report_.kept.files = recorder_->files();
  report_.kept.bytes = recorder_->bytes();
}

bool Runner::refused() {
  platform::Status can_run = report_refusal(plan_.report, plan_.input, plan_.output, files_);
  if (can_run && !plan_.options.dry_run)
    can_run = run_refusal(plan_.input, plan_.output, files_, ctx_.in_place);
  if (can_run) return false;
  report_.refusal = can_run.error().context;
  say(report_.refusal);
  report_.ran = false;
  return true;
}

void Runner::open_output() {
  dirs_ = OutputDirs::for_root(
      plan_.output, [this](const std::string& line) { say(line); },
      /*stage=*/!plan_.options.dry_run, plan_.options.durable);
  ctx_.dirs = dirs_.get();
  platform::PublisherOptions publishing;
  publishing.durable = plan_.options.durable;
  if (ctx_.in_place && plan_.options.undo) {
    recorder_ = std::make_unique<undo::Recorder>(plan_.input, undo_prefix(plan_), plan_.source.name,
                                                 plan_.target.name, plan_.options.undo_limits,
                                                 plan_.options.durable);
    ctx_.undo = recorder_.get();
    // The records of what was kept go with the batch's flush, before its names.
    publishing.before_flush = [this] { return recorder_->flush_records(); };
    publishing.before_publish = [this](const std::vector<dev_t>& flushed) {
      return recorder_->sync(flushed);
    };
  }
  publisher_ = std::make_unique<platform::Publisher>(
      publishing, [this](uint64_t token, const std::string&, int err) { published(token, err); });
  ctx_.publisher = publisher_.get();
}

bool Runner::checks() {
  if (plan_.input.empty()) {
    say(_("Input directory can't be empty!"));
    return false;
  }
  if (!platform::is_directory(plan_.input)) {
    say(_("Input directory not exists!"));
    return false;
  }
  if (plan_.output.empty()) {
    say(_("Output directory can't be empty!"));
    return false;
  }
  return true;
}

void Runner::prepare_context() {
  ctx_ = run_context(plan_);
  if (!plan_.options.detect) {
    narrow_ = std::make_unique<NarrowLabelCheck>(plan_.source.charset);
    if (narrow_->wanted()) ctx_.narrow = narrow_.get();
  }
  report_.input = plan_.input;
  report_.output = plan_.output;
  report_.source = plan_.source.name;
  report_.target = plan_.target.name;
}

void Runner::warm_tables() {
  const RunEncodings& enc = ctx_.encodings;
  const bool legacy_source = enc.source.form == UnicodeForm::none;
  const bool statistics = legacy_source || plan_.options.detect;
  const bool tabled = tabled_charset(enc.source_charset) || tabled_charset(enc.target_charset);
  // Important: the first conversion threads would otherwise wait, each of them, on the one
  // building these (the language statistics take some 20 ms, a table a few).
  if (!statistics && !tabled) return;
  try {
    warmer_ = std::thread([enc, statistics] {
      CodeTable::find(enc.source_charset, enc.target_charset);
      if (statistics) detect::lang_model();
    });
  } catch (const std::system_error&) {
    // No thread: the first file that needs them builds them, as it would.
  }
}

void Runner::search() {
  filter_set filters;
  build_filter_set(plan_.filter, filters);
  const std::string& root = plan_.input;
  const fsutil::search_error_callback on_error = [this, &root](const std::string& dir, int err) {
    FileReport failure;
    failure.path = dir.size() > root.size() ? dir.substr(root.size() + 1) : std::string(".");
    failure.outcome = Outcome::search_failed;
    failure.error = err;
    say(search_failure_line(failure));
    report_.search_failures.push_back(std::move(failure));
  };
  fsutil::search_options options;
  options.on_error = &on_error;
  options.stop = &stop_;
  // Listing gains little beyond a few threads, and a small tree would pay for each.
  options.threads = std::min(effective_threads(plan_.options.threads, SIZE_MAX), 8u);
  options.on_listed = [this](size_t entries) {
    if (files_.capacity() - files_.size() < entries)
      files_.reserve(std::max(files_.size() + entries, 2 * files_.capacity()));
    make_rows(files_.size() + entries);
  };
  struct stat out;
  const bool out_exists = platform::sysio().stat(plan_.output.c_str(), &out) == 0;
  if (!ctx_.in_place && !out_exists && !plan_.options.dry_run) {
    // Made only after the search now; said all the same, so every run reads alike.
    // Important: a path that cannot be resolved is no prefix ("/" would match everything).
    const platform::Result<std::string> in_full = fsutil::full_path(plan_.input);
    const platform::Result<std::string> out_full = fsutil::full_path(plan_.output);
    if (in_full && out_full && out_full->rfind(*in_full + "/", 0) == 0)
      say(kestrum::strfmt(_("The output directory %s is inside the input directory, left out "
                            "of the search"),
                          plan_.output.c_str()));
  }
  if (!ctx_.in_place && out_exists && S_ISDIR(out.st_mode)) {
    // A previous run's output inside the input would be converted again, into out/out/...
    options.exclude = true;
    options.exclude_dev = out.st_dev;
    options.exclude_ino = out.st_ino;
    options.on_excluded = [this](const std::string& dir) {
      say(kestrum::strfmt(_("The output directory %s is inside the input directory, left out "
                            "of the search"),
                          dir.c_str()));
    };
  }
  options.on_skipped = [this](fsutil::search_file_info&& f, const char* why) {
    JobFile file;
    file.relative_dir = std::move(f.relative_dir);
    file.file_name = std::move(f.file_name);
    file.identity = Outcome::skipped;
    file.identity_note = kestrum::strfmt(_("is %s"), _(why));
    files_.push_back(std::move(file));
  };
  const fsutil::search_accept accept = accept_by(filters);
  if (plan_.roots.empty()) {
    search_root({}, options, accept);
    return;
  }
  for (const std::string& named : plan_.roots) {
    if (stopped()) return;
    search_root(named, options, accept);
  }
  drop_repeats();
}

void Runner::search_root(const std::string& named, const fsutil::search_options& options,
                         const fsutil::search_accept& accept) {
  const std::string& root = plan_.input;
  std::string dir = named.empty() ? root : root + "/" + named;
  if (named.empty() || platform::is_directory(dir)) {
    // Important: only the folder named may be a link; the search follows none below it.
    const auto followed = static_cast<uint32_t>(named.size());
    fsutil::search_files(
        root, dir,
        [this, followed](fsutil::search_file_info&& f) {
          JobFile file;
          file.relative_dir = std::move(f.relative_dir);
          file.file_name = std::move(f.file_name);
          file.entry = f.link ? JobFile::Entry::link : JobFile::Entry::file;
          file.followed_dirs = followed;
          files_.push_back(std::move(file));
        },
        accept, options);
    return;
  }
  // Important: a named file is taken even when hidden; what it is (gone, a FIFO) is found
  // when it is read, so it is reported like any other file.
  if (accept && !accept("/" + named)) return;
  const size_t slash = named.rfind('/');
  JobFile file;
  if (slash != std::string::npos) file.relative_dir = named.substr(0, slash);
  file.file_name = named.substr(slash == std::string::npos ? 0 : slash + 1);
  file.followed_dirs = static_cast<uint32_t>(file.relative_dir.size());
  files_.push_back(std::move(file));
}

void Runner::make_rows(size_t count) {
  // Important: only the first folder's count; the rows are sized again to the files found.
  if (rows_maker_.joinable()) return;
  try {
    rows_maker_ = std::thread([this, count] {
      try {
        rows_.resize(count);
      } catch (const std::bad_alloc&) {
        rows_.clear();  // made again, and failed as it would, by the conversion's start
      }
    });
  } catch (const std::system_error&) {
    // No thread: the conversion's start makes them.
  }
}

// A file named twice, or named and inside a named folder, is converted once.
void Runner::drop_repeats() {
  std::unordered_set<std::string> seen;
  std::vector<JobFile> kept;
  kept.reserve(files_.size());
  for (JobFile& f : files_)
    if (seen.insert(f.relative_path()).second) kept.push_back(std::move(f));
  files_ = std::move(kept);
}

void Runner::collect_files() {
  if (!plan_.files) {
    search();
  } else {
    for (const PlannedFile& p : *plan_.files) {
      JobFile file;
      file.relative_dir = p.relative_dir;
      file.file_name = p.file_name;
      file.source = p.source;
      file.evidence = p.evidence;
      file.confidence = p.confidence;
      file.detection_note = p.note;
      file.repair = p.repair;
      if (p.excluded) {
        file.identity = Outcome::excluded;
        file.identity_note = _("left out in the preview");
      } else if (p.evidence == "skipped") {
        file.identity = Outcome::skipped;
        file.identity_note = p.note;
      } else if (p.source.empty() && (p.evidence == "undetected" || p.evidence == "ambiguous")) {
        file.identity = p.evidence == "ambiguous" ? Outcome::ambiguous : Outcome::undetected;
        file.identity_note = p.note;
      }
      files_.push_back(std::move(file));
    }
  }
  if (ctx_.in_place) resolve_in_place(plan_.input, plan_.roots, files_);
}

// A target the publisher could not put under its name after all (a rename or flush failure,
// or its source changed meanwhile).
void Runner::published(uint64_t index, int error) {
  if (error != 0 && recorder_) recorder_->discard(index);
  std::lock_guard guard(observer_lock_);
  if (!processed_[index]) {
    early_results_[index] = error;
    return;
  }
  if (error != 0) {
    FileReport& r = report_.files[index];
    set_write_failure(r, error);
    observer_.file_revised(index, r, file_log_lines(files_[index], r, ctx_.in_place).back());
  }
  settle(index);
}

void Runner::settle(size_t index) {
  if (processed_[index] != kPending) return;
  processed_[index] = kSettled;
  observer_.file_settled(index, report_.files[index]);
}

void Runner::finish_file(size_t index, FileReport&& report, const Clock::time_point& start,
                         bool later) {
  std::unique_lock guard(observer_lock_);
  if (auto it = early_results_.find(index); it != early_results_.end()) {
    if (it->second != 0) set_write_failure(report, it->second);
    later = false;
  }
  std::vector<std::string> lines;
  if (observer_.wants_file_lines()) {  // made outside the lock: the other threads go on
    guard.unlock();
    lines = file_log_lines(files_[index], report, ctx_.in_place);
    guard.lock();
  }
  ++progress_.files_done;
  progress_.bytes_done += report.bytes;
  progress_.micros =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  report_.files[index] = std::move(report);
  processed_[index] = later ? kPending : kSettled;
  observer_.file_done(index, report_.files[index], lines, progress_);
  if (!later) observer_.file_settled(index, report_.files[index]);
}

void Runner::worker() {
  FileConverter converter(ctx_);
  size_t part = workers_.fetch_add(1);
  for (;;) {
    if (stopped()) return;
    const size_t i = claims_->claim(part);
    if (i >= files_.size()) return;
    FileReport report;
    bool later = false;
    try {
      report = converter.process(files_[i], i);
      later = converter.published_later();
    } catch (const std::exception& e) {
      // Out of memory on a huge file, say: that file fails, the job goes on.
      report.path = files_[i].relative_path();
      report.outcome = Outcome::cannot_convert;
      report.note = e.what();
      converter.release();
    }
    if (std::string hint = converter.take_hint(); !hint.empty()) say(hint);
    finish_file(i, std::move(report), convert_start_, later);
  }
}

void Runner::for_each_file(const std::function<void(size_t, std::string&)>& work) {
  std::atomic<size_t> next{0};
  const auto loop = [&] {
    std::string buffer;
    for (size_t i; !stopped() && (i = next.fetch_add(1)) < files_.size();) work(i, buffer);
  };
  platform::fan_out(effective_threads(plan_.options.threads, files_.size()), loop);
}

void Runner::detect_sources() {
  SourceDetection detection(plan_.options.candidates, plan_.source, files_.size(),
                            plan_.options.accept_unsure);
  say(detection.opening_line());
  for_each_file([&](size_t i, std::string& content) {
    JobFile& f = files_[i];
    if (f.identity != Outcome::converted) return;
    // A file that cannot be read now is reported when the conversion reads it.
    // Important: no more than detection looks at, so a huge file costs no more memory or time.
    const std::string path = plan_.input + "/" + f.relative_path();
    if (!platform::read_file_head(path, content, SourceDetection::kBytes)) return;
    detection.examine(i, f, content);
  });
  for (const auto& line : detection.finish(files_)) say(line);
}

// Before any source is read for its conversion: the end of the run then looks again only at
// the sources their folder's watch cannot vouch for (OutputDirs::changed_sources). Each
// conversion thread adds a folder to it before it reads the folder's first source.
void Runner::watch_sources() {
  if (!dirs_ || ctx_.in_place || plan_.options.dry_run) return;
  dirs_->watch_sources(std::make_unique<platform::ChangeWatch>());
}

void Runner::convert() {
  watch_sources();
  if (rows_maker_.joinable()) rows_maker_.join();
  report_.files = std::move(rows_);
  report_.files.resize(files_.size());
  processed_.assign(files_.size(), 0);
  progress_.files_total = files_.size();
  convert_start_ = Clock::now();
  const unsigned threads = effective_threads(plan_.options.threads, files_.size());
  claims_ = std::make_unique<FileClaims>(
      part_starts(
          files_.size(), threads,
          [this](size_t i) { return files_[i].relative_dir != files_[i - 1].relative_dir; }),
      files_.size());
  platform::fan_out(threads, [this] { worker(); });
  // Important: every target is published (flushed first when durable) before the summary,
  // also after a stop; no temporary file outlives the run.
  if (publisher_) publisher_->finish();
  if (dirs_)
    dirs_->publish_staged(plan_.options.durable,
                          [this](uint64_t token, int err) { published(token, err); });
  {
    std::lock_guard guard(observer_lock_);  // the rest was published with its folder
    for (size_t i = 0; i < files_.size(); ++i) settle(i);
  }
  report_.convert_seconds = seconds_since(convert_start_);
  report_.bytes = progress_.bytes_done;
  for (size_t i = 0; i < files_.size(); ++i) {
    if (processed_[i]) continue;
    FileReport& r = report_.files[i];
    r.path = files_[i].relative_path();
    r.outcome = Outcome::not_reached;
    r.source = plan_.source.name;
    r.target = plan_.target.name;
    r.note = _("the job was stopped before this file");
  }
}

JobReport Runner::run() {
  if (!checks()) return std::move(report_);
  report_.ran = true;
  const bool dry = plan_.options.dry_run;
  prepare_context();
  say(kestrum::strfmt(dry ? _("Previewing %s-->%s, nothing is written...")
                          : _("Converting %s-->%s, please wait..."),
                      plan_.source.c_str(), plan_.target.c_str()));
  say(kestrum::strfmt(_("Searching files(%s)..."), plan_.filter.c_str()));
  const auto search_start = Clock::now();
  warm_tables();
  // Important: before the files' names are resolved; what a killed run kept under a second name
  // would make a file look linked from outside the tree.
  if (ctx_.in_place && !dry)
    for (const std::string& line : undo::tidy_interrupted(undo_root(plan_))) say(line);
  collect_files();
  report_.search_seconds = seconds_since(search_start);
  if (stopped() && !plan_.files) {
    report_.stopped = true;
    say(_("Conversion stopped during the search"));
    return std::move(report_);
  }
  // Important: refused before the first directory or file is made.
  if (!refused() && !dry) open_output();
  if (!report_.ran) return std::move(report_);
  say(kestrum::strfmt(
      P_("Search complete, cost: %.3f, %d files found, starting convert...",
         "Search complete, cost: %.3f, %d files found, starting convert...", files_.size()),
      report_.search_seconds, static_cast<int>(files_.size())));
  if (plan_.options.detect && !plan_.files && !stopped()) detect_sources();
  {
    std::lock_guard guard(observer_lock_);
    observer_.search_done(files_.size());
  }
  convert();
  if (stopped()) {
    report_.stopped = true;
    say(kestrum::strfmt(P_("Conversion stopped after %zu of %zu files",
                           "Conversion stopped after %zu of %zu files", files_.size()),
                        progress_.files_done, files_.size()));
  } else {
    say(kestrum::strfmt(dry ? _("Preview complete, total: %d, cost: %.3f seconds")
                            : _("Convert complete, total: %d, cost: %.3f seconds"),
                        static_cast<int>(files_.size()), report_.convert_seconds) +
        "\r\n");
  }
  if (recorder_) finish_undo();
  for (const auto& line : summary_lines(report_)) say(line);
  return std::move(report_);
}

}  // namespace

unsigned effective_threads(unsigned requested, size_t files) {
  unsigned n = requested != 0 ? requested : std::max(1u, std::thread::hardware_concurrency());
  if (files < n) n = static_cast<unsigned>(std::max<size_t>(files, 1));
  return n;
}

JobReport ConvertJob::run(JobObserver& observer) {
  Runner runner(plan_, stop_, observer);
  return runner.run();
}
