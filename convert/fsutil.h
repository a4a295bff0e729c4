// File-system utilities of the conversion engine: the recursive search and the full path.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <string_view>

#include "convert/filter.h"

namespace fsutil {

// One accepted file: its directory below the search root ("a/b", empty in the root) and name.
struct search_file_info {
  std::string relative_dir;
  std::string file_name;
};

using search_callback = std::function<void(search_file_info&&)>;
// A directory that could not be listed (its path as opened, errno); the walk goes on.
using search_error_callback = std::function<void(const std::string& dir, int error)>;

// Depth-first walk of `dir` (a copy of `root` at the top level; extended in place while
// descending, restored on return). Hidden entries (names starting with '.'), anything that is
// neither a regular file nor a directory after following links, and links to directories are
// passed over. A link to a regular file is reported like a file. A set `stop` ends the walk
// early (checked before each entry).
void search_files(const std::string& root, std::string& dir, const search_callback& callback,
                  const filter_set& filters, const search_error_callback* on_error = nullptr,
                  const std::atomic<bool>* stop = nullptr);

// Absolute, lexically normalised path; the file need not exist. Empty on failure.
std::string full_path(std::string_view path);

}  // namespace fsutil
