// Where a tree's undo store is and what it holds: its runs, listed, dropped, bounded, tidied.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"
#include "undo/manifest.h"

namespace undo {

// The store's folder inside the root; the search passes over it, as over every hidden name.
inline constexpr const char* kStoreName = ".ouzel-undo";
// In the store, so that version control passes over it as the search does.
inline constexpr const char* kIgnoreName = ".gitignore";

// How many runs, and how many bytes of old content, a store keeps at most.
struct Limits {
  size_t runs = 10;
  uint64_t bytes = uint64_t{1} << 30;
};

// The store inside `root`, and beside it (".NAME.ouzel-undo" in its parent) for a root that
// cannot be written; empty when the root has no parent.
std::string inside_store(const std::string& root);
std::string beside_store(const std::string& root);
// The run folder a kept file lives in, and a kept file's name.
std::string kept_path(const std::string& run_dir, uint64_t number);
std::string manifest_path(const std::string& run_dir);

// One run as the listing shows it.
struct RunSummary {
  std::string id;
  std::string dir;    // its folder
  std::string store;  // the store holding it
  bool beside = false;
  bool readable = false;  // its manifest was read; else `error` says why
  std::string error;
  Manifest manifest;  // header and end; the files too of a run that did not end
  bool busy = false;  // a live process holds it (a run still writing it, an undo)
};

// Every run kept for `root` in either place, oldest first; an unreadable run is listed too.
std::vector<RunSummary> list_runs(const std::string& root);
// Whether `root` keeps any run, without reading one.
bool has_runs(const std::string& root);

// A held run: its manifest locked against every other process's run, undo, drop or tidy.
class RunLock {
 public:
  RunLock() = default;
  ~RunLock();
  RunLock(RunLock&& other) noexcept;
  RunLock& operator=(RunLock&& other) noexcept;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  // EWOULDBLOCK when another process holds it. `patient`: a holder that only looks (a listing
  // elsewhere) is waited for a moment.
  platform::Status take(const std::string& run_dir, bool patient = true);
  void release();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Removes a run's folder (renamed to a hidden name first, so a kill leaves no half run), and
// the store once it holds no run. EBUSY while another process holds the run.
platform::Status drop_run(const RunSummary& run);

// Removes what a kill left half made or half dropped in either store, and a store left empty.
void clear_leftovers(const std::string& root);

// Drops the oldest runs beyond `limits` (never `keep_id`); one line for the log per run.
std::vector<std::string> bound_store(const std::string& root, const Limits& limits,
                                     const std::string& keep_id);

// Runs that ended without their last record and that no process holds (after the leftovers): a file
// kept under a second name whose new content never replaced it is let go (it is the file in the
// tree), and a kept file the manifest does not name is removed. Before a run in place resolves the
// files' names: such a second name would make a file look linked from outside the tree.
std::vector<std::string> tidy_interrupted(const std::string& root);

}  // namespace undo
