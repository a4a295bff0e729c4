// Publishes committed targets of a job, flushed to the disk in batches before their rename.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/target_file.h"

namespace platform {

// Gives the file at `from` the name `name` too, replacing what was there in one rename (through
// a hard link named `name` + ".ouzel-link"), through the I/O seam; `name` is unchanged on
// failure.
Status relink(const std::string& from, const std::string& name);

struct PublisherOptions {
  bool durable = true;  // flush before publishing; off: publish at once
  // A batch is flushed once it holds this many bytes or files. The files are capped at a quarter
  // of the descriptor limit, as two batches of open files are held.
  uint64_t batch_bytes = uint64_t{64} << 20;
  size_t batch_files = 1024;
  // Durable only: called before a batch's data is flushed (and before publish_linked flushes),
  // to write what that flush must cover (the records of what an undo keeps). 0, or the errno
  // that keeps the batch unpublished.
  std::function<int()> before_flush;
  // Durable only: called once a batch's data is flushed and before its names are published (and
  // before publish_linked publishes), with the devices that flush covered, so that what must be
  // on the disk before the new names (the old content an undo keeps) is flushed too. 0, or the
  // errno that keeps the batch unpublished.
  std::function<int(const std::vector<dev_t>& flushed)> before_publish;
};

// The final result of one target: 0 once it is under its name, or the errno that kept it out.
using PublishCallback = std::function<void(uint64_t token, const std::string& path, int error)>;

// Shared by the job's threads. Without durability submit publishes at once. With it, written
// targets collect in a batch; a background thread calls syncfs once per file system of the
// batch and then publishes it, while the job converts the next files. A batch whose syncfs
// fails is flushed file by file, and only the files whose data reached the disk are published.
// Important: the callback runs on the background thread (durable) or in submit (not durable),
// so it must be safe to call from any thread, and neither submit nor finish may be called while
// holding a lock the callback takes (submit can wait for the background thread). A submit blocks
// while one full batch waits for the previous one to be flushed, so at most two batches of
// descriptors are held.
class Publisher {
 public:
  Publisher(PublisherOptions options, PublishCallback on_result);
  ~Publisher();  // finish()
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  // Takes a fully written target; `token` is handed back to the callback with its result.
  void submit(TargetFile&& target, uint64_t token);
  // Publishes `target` now, then gives its file the other names `links` too (relink); durable,
  // its data is flushed first and the names are made durable by finish like the batches' names.
  // 0 or the errno that kept the target out; a name that could not be linked is added to
  // `unlinked` with its errno, the target staying published.
  int publish_linked(TargetFile&& target, const std::vector<std::string>& links,
                     std::vector<std::pair<std::string, int>>& unlinked);
  // Publishes everything pending and makes the new names durable too; every callback has run
  // when it returns. For a stop request and the normal end of a job; submit may follow.
  void finish();

 private:
  struct Item {
    TargetFile file;
    uint64_t token;
  };
  using Batch = std::vector<Item>;

  bool batch_full() const;
  void hand_over(std::unique_lock<std::mutex>& lock);
  void run();
  void process(Batch& batch);
  void refuse(Batch& batch, int err);
  void flush_group(std::vector<Item*>& group);
  void sync_renamed();

  PublisherOptions options_;
  PublishCallback on_result_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Batch filling_;
  uint64_t filling_bytes_ = 0;
  std::optional<Batch> handed_;  // waiting for the background thread
  bool busy_ = false;            // the background thread is flushing or publishing a batch
  bool stop_ = false;
  // File systems with names published since their last syncfs: a directory on each. Only the
  // background thread, and finish while that thread is idle, use it.
  std::map<dev_t, std::string> renamed_;
  // The same for names publish_linked gave, kept apart under mutex_ while the thread runs.
  std::map<dev_t, std::string> linked_;
  std::thread worker_;
};

}  // namespace platform
