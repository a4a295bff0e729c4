// The keeping side of undo: what an in-place run replaces is kept in its run's store first.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/fs.h"
#include "undo/content_hash.h"
#include "undo/store.h"

namespace undo {

// One file about to be replaced by a run in place.
struct KeepRequest {
  std::string path;                // the file that is replaced, as the run writes it
  std::string relative;            // its name below the root
  std::vector<std::string> links;  // its other names below the root (hard links)
  platform::FileStamp stamp;       // the file as the run read it
  uint64_t old_size = 0;
  ContentHash old_hash;  // of what the run read
  uint64_t new_size = 0;
  ContentHash new_hash;  // of what replaces it
  std::string outcome;
  uint64_t token = 0;  // the run's number for the file, for discard
};

// Shared by a run's threads. The run's store is made at the first file kept, so a run that
// replaces nothing leaves nothing. Each file is kept as the old file itself under a second name
// in the store where the file system allows it (the new content replaces the name in the tree,
// never the old file), else as a reflink, else as a copy; then its record is written.
// Important: with durability the kept content must be on the disk before the new content's
// name is: sync() is the publisher's before_publish.
class Recorder {
 public:
  // The store is kept in `input`/`prefix` (the deepest folder holding what the run names).
  // `durable`: the records wait for the next flush (flush_records, the publisher's
  // before_flush) instead of being written one by one.
  Recorder(const std::string& input, const std::string& prefix, std::string source,
           std::string target, Limits limits, bool durable);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Keeps the old content of `request.path`; `stamp` becomes the file's stamp after it (a second
  // name changes its link count and ctime). 0; platform::kSourceChanged when the file is no
  // longer what the run read; or the errno that kept it from being kept (nothing is then).
  int keep(const KeepRequest& request, platform::FileStamp& stamp);
  // A file's name below the store's folder, from its name below the input, or from its real
  // path (a link's file).
  std::string relative(const std::string& below_input) const;
  std::string relative_of_real(const std::string& real) const;
  // What keeps failed with: the store that could not be made or written, for the report.
  std::string failure_note() const;
  // The file's new content did not replace it after all: what was kept of it is let go.
  void discard(uint64_t token);
  // Writes the records waiting for a flush; 0, or the errno (then of every later call too: the
  // files whose records it held have no way back).
  int flush_records();
  // Flushes the store's file system unless `flushed` holds it; 0 or errno.
  int sync(const std::vector<dev_t>& flushed);
  // The run ended: its last record written, a store that kept nothing removed, older runs beyond
  // the limits dropped. Lines for the log.
  std::vector<std::string> finish(bool stopped);

  size_t files() const;
  uint64_t bytes() const;
  const std::string& run_dir() const { return run_dir_; }
  const std::string& id() const { return id_; }

 private:
  int open_run();
  int make_run_dir(const std::string& store);
  int keep_by_link(const KeepRequest& request, const std::string& kept, KeptFile& k,
                   platform::FileStamp& stamp);
  int keep_by_copy(const KeepRequest& request, const std::string& kept, KeptFile& k);
  int append(const std::string& records);
  // A record written now, or (durable) when the next flush comes.
  int record(const std::string& line);
  RunSummary summary() const;

  const std::string prefix_;
  const std::string root_;
  const std::string real_input_;
  const std::string source_, target_;
  const Limits limits_;
  const bool durable_;
  std::atomic<bool> ready_{false};  // the run's store is made: no lock needed to keep
  std::atomic<uint64_t> next_{0};
  mutable std::mutex lock_;  // guards everything below but dirty_ (never held over a call)
  bool tried_ = false;       // the store was made, or failed with error_
  int error_ = 0;
  std::string error_place_;  // the store that could not be made
  std::string store_, run_dir_, id_;
  bool beside_ = false;
  int manifest_fd_ = -1;  // held locked for the whole run
  dev_t dev_ = 0;         // the store's file system
  std::string pending_;   // records waiting for the next flush
  int records_error_ = 0;
  std::unordered_map<uint64_t, std::pair<uint64_t, uint64_t>> kept_;  // token: number, bytes
  size_t files_ = 0;
  uint64_t bytes_ = 0;
  std::atomic<bool> dirty_{false};  // written since its file system was last flushed
};

}  // namespace undo
