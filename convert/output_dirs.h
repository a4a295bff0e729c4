// The directories of a run's targets, prepared once each: made when missing, refused when a
// link among them would lead out of the tree, swept of what a killed run left.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

class OutputDirs {
 public:
  using Say = std::function<void(const std::string&)>;

  // `root_is_new`: the run has just made the output root, so nothing can be left in it.
  OutputDirs(std::string root, bool root_is_new, Say say);

  // The directory of `relative_dir` below the root, into `dir`. 0, or ELOOP when a component
  // is a symbolic link (writing through it could leave the tree), ENOTDIR when one is not a
  // directory, or the errno of making it. Thread-safe; the work is done once per directory.
  // `made` (when given) tells whether this run made the directory, so that nothing of anyone
  // else's was in it when the run began.
  int prepare(const std::string& relative_dir, std::string& dir, bool* made = nullptr);

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
