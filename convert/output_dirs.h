// The directories of a run's targets, prepared once each: made when missing, refused when a
// link among them would lead out of the tree, swept of what a killed run left.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Makes every missing directory along `path` ('/' separated; doubled and trailing separators
// pass). One that another thread or program makes at the same moment counts as made. 0, or the
// errno of the first component that could not be made (nothing after it is tried). Links
// along the way are followed: for a root the user named, not for directories below it.
int make_directories(const std::string& path);

class OutputDirs {
 public:
  using Say = std::function<void(const std::string&)>;

  // `root_is_new`: the run has just made the output root, so nothing can be left in it.
  OutputDirs(std::string root, bool root_is_new, Say say);
  // The directories below `root`, made first when missing (a root that cannot be made fails
  // each target with its errno).
  static std::unique_ptr<OutputDirs> for_root(const std::string& root, Say say);

  // The directory of `relative_dir` below the root, into `dir`. 0, or ELOOP when a component
  // is a symbolic link (writing through it could leave the tree), ENOTDIR when one is not a
  // directory, or the errno of making it. Thread-safe; the work is done once per directory.
  // `made` (when given) tells whether this run made the directory, so that nothing of anyone
  // else's was in it when the run began.
  int prepare(const std::string& relative_dir, std::string& dir, bool* made = nullptr);
  // The same, done again: the directory went away during the run.
  int prepare_again(const std::string& relative_dir, std::string& dir);

 private:
  struct Prepared {
    int result;
    bool made;
  };
  Prepared make(const std::string& relative_dir);

  const std::string root_;
  const bool root_is_new_;
  Say say_;
  std::mutex lock_;
  std::unordered_map<std::string, Prepared> done_;  // by relative_dir
};
