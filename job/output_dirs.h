// The directories of a run's targets, prepared once each: made when missing, refused when a
// link among them would lead out of the tree, swept of what a killed run left.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/change_watch.h"
#include "platform/fs.h"

// Makes every missing directory along `path` ('/' separated; doubled and trailing separators
// pass). One that another thread or program makes at the same moment counts as made. Fails at
// the first component that could not be made (nothing after it is tried). Links are followed:
// for a root the user named, never for directories below it.
platform::Status make_directories(const std::string& path);

class OutputDirs {
 public:
  using Say = std::function<void(const std::string&)>;
  // A staged target that could not be published after all, with the errno.
  using Failed = std::function<void(uint64_t token, int error)>;

  // `root_is_new`: the run has just made the output root, so nothing can be left in it.
  // `stage`: a missing directory is made under a hidden name beside it (".NAME.ouzel-new-XXXXXX")
  // and named whole by publish_staged, so its files can be written under their own names: until
  // then no one sees them, and a killed run leaves only the hidden folder, swept by the next.
  // `durable` (with `stage`): the staged files are flushed in the background while the run
  // goes on, so that little is left for the flush before they are named.
  OutputDirs(std::string root, bool root_is_new, Say say, bool stage = false, bool durable = false);
  ~OutputDirs();
  OutputDirs(const OutputDirs&) = delete;
  OutputDirs& operator=(const OutputDirs&) = delete;
  // The directories below `root`, made first when missing (a root that cannot be made fails
  // each target with its errno).
  static std::unique_ptr<OutputDirs> for_root(const std::string& root, Say say, bool stage = false,
                                              bool durable = false);

  // The directory of `relative_dir` below the root, into `dir`. 0, or ELOOP when a component
  // is a symbolic link (writing through it could leave the tree), ENOTDIR when one is not a
  // directory, or the errno of making it. Thread-safe; the work is done once per directory.
  // `made` (when given) tells whether this run made the directory, so that nothing of anyone
  // else's was in it when the run began; `staged` whether it lies in a staged folder.
  int prepare(const std::string& relative_dir, std::string& dir, bool* made = nullptr,
              bool* staged = nullptr);
  // The same, done again: the directory went away during the run.
  int prepare_again(const std::string& relative_dir, std::string& dir);

  // Records a target of `bytes` written whole into a staged folder (at its path there), made
  // from `source` as it was at `stamp`. Thread-safe.
  // `watchable`: a change to `source` is seen by the watch of its folder (watch_sources).
  void staged_file(const std::string& path, uint64_t bytes, uint64_t token,
                   const std::string& source, const std::optional<platform::FileStamp>& stamp,
                   bool watchable = false);
  // The watch of the sources' folders: at the end, a watchable source it saw no change to is
  // not looked at again. Folders are added to it by watch_source_folder. Important: set before
  // the conversion threads start, and not again: they use it without the lock.
  void watch_sources(std::unique_ptr<platform::ChangeWatch> watch);
  // Adds `dir` (spelled as the sources' paths up to their names) to the watch, if there is one.
  // Important: called before the first source in `dir` is read; thread-safe.
  void watch_source_folder(const std::string& dir);

  // Names every staged folder: flushed first and its new name made durable after when
  // `durable`. A target whose source changed since it was read is removed (platform::
  // kSourceChanged); when someone made the folder meanwhile the files move in one by one, and a
  // file of theirs already at a target's name wins (EEXIST). Each target left out is passed to
  // `failed`. Call once, after the last target was written.
  void publish_staged(bool durable, const Failed& failed);

 private:
  struct Prepared {
    int result = 0;
    bool made = false;
    std::string dir;  // where the files go: inside the staged folder when staged
    int stage = -1;   // the staged folder it lies in
  };
  struct StagedFile {
    std::string path;
    uint64_t token;
    std::string source;
    std::optional<platform::FileStamp> stamp;
    bool watchable = false;
  };
  struct Stage {
    std::string dir;                       // the hidden name
    std::string final;                     // the name it gets
    std::vector<const StagedFile*> files;  // held by the shards' lists publish_staged took
  };
  const Prepared& lookup(const std::string& relative_dir);
  Prepared make(const std::string& relative_dir);
  // `relative_dir` made in the staged folder its parent lies in, if it does, with `guard`
  // (on lock_) let go meanwhile.
  void make_in_stage(const std::string& relative_dir, std::unique_lock<std::mutex>& guard);
  Prepared make_existing(const std::string& final);
  Prepared make_staged(const std::string& parent, const std::string& name,
                       const std::string& final);
  // Takes the shards' files into `taken` and points each stage at its own.
  void sort_into(std::vector<Stage>& stages, std::vector<std::vector<StagedFile>>& taken);
  // Lets the sources' watch go (its kernel side on another thread), first reading what it
  // noticed when `read`.
  void stop_watching(bool read);
  std::vector<char> changed_sources(const std::vector<Stage>& stages);
  // Unlinks and reports the staged files whose sources changed (`changed`: one flag per file,
  // in the stages' order).
  void drop_changed(std::vector<Stage>& stages, const std::vector<char>& changed,
                    const Failed& failed);
  void move_in(Stage& stage, const Failed& failed);
  void kick_flush(const std::string& dir);
  void flush_in_background();
  void stop_flushing();

  // Staged files as the conversion threads record them, spread by token so that two threads
  // seldom share one; sorted into their stages by publish_staged.
  struct Shard {
    std::mutex lock;
    std::vector<StagedFile> files;
  };
  static constexpr size_t kShards = 16;

  const std::string root_;
  const bool root_is_new_;
  Say say_;
  const bool stage_;
  std::mutex lock_;
  std::unordered_map<std::string, Prepared> done_;  // by relative_dir
  std::vector<Stage> stages_;
  Shard shards_[kShards];
  std::mutex watch_lock_;  // watch_ while the conversion threads add folders to it
  std::unique_ptr<platform::ChangeWatch> watch_;
  // The background flush: its thread, and what the run hands it, under flush_lock_.
  const bool durable_;
  std::mutex flush_lock_;
  std::condition_variable flush_wanted_;
  std::string flush_dir_;  // a staged folder on the file system to flush; empty: nothing asked
  bool flush_stop_ = false;
  std::atomic<uint64_t> unflushed_{0};  // bytes staged since the last request
  std::thread flusher_;
};
