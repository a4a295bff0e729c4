// The directory walk and the full path: the file-system side of finding the files to convert.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace fsutil {

// One accepted file: its directory below the search root ("a/b", empty in the root) and name.
struct search_file_info {
  std::string relative_dir;
  std::string file_name;
  bool link = false;  // a link to a regular file, not the file itself
};

using search_callback = std::function<void(search_file_info&&)>;
// Whether a file with this match path ("/dir/sub/name") is kept; empty keeps every file.
using search_accept = std::function<bool(std::string_view match_path)>;
// A directory that could not be listed (its path as opened, errno); the walk goes on.
using search_error_callback = std::function<void(const std::string& dir, int error)>;

// What a search may be told besides its root and which files to keep.
struct search_options {
  const search_error_callback* on_error = nullptr;
  const std::atomic<bool>* stop = nullptr;  // set: the walk ends early
  // A directory below the root that is left out (an output directory inside the input), by
  // its device and inode, so that any path to it is recognised.
  bool exclude = false;
  dev_t exclude_dev = 0;
  ino_t exclude_ino = 0;
  std::function<void(const std::string& dir)> on_excluded;
  // Set: an entry the filter accepts but that is no file to convert (a dangling link, a link
  // loop, a FIFO, a socket, a device) is handed here with why, instead of passed over silently.
  std::function<void(search_file_info&& entry, const char* why)> on_skipped;
  // Directories are listed on this many threads; the callbacks still run on the caller's
  // thread, in the same order as with one.
  unsigned threads = 1;
  // Set: told, before the first file is reported, how many entries at most will be.
  std::function<void(size_t entries)> on_listed;
};

// Depth-first walk of `dir` (`root` itself or a folder below it; left as it is): the whole
// tree is listed first, then reported in walk order. Hidden entries (names starting with '.'),
// anything that is neither a regular file nor a directory after following links (see
// on_skipped), and links to directories are passed over. A link to a regular file is reported
// like a file. A set `stop` ends the walk early (checked before each directory is listed and
// before each entry is reported).
void search_files(const std::string& root, std::string& dir, const search_callback& callback,
                  const search_accept& accept, const search_error_callback* on_error = nullptr,
                  const std::atomic<bool>* stop = nullptr);
void search_files(const std::string& root, std::string& dir, const search_callback& callback,
                  const search_accept& accept, const search_options& options);

// Absolute, lexically normalised path; the file need not exist. EINVAL for an empty path or
// one holding a NUL; getcwd's errno for a relative path when the working directory is gone.
platform::Result<std::string> full_path(std::string_view path);

}  // namespace fsutil
