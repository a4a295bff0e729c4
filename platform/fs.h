// Small file-system queries of the Linux layer.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace platform {

// One entry of a directory: its name and type as the listing says (DT_UNKNOWN where the file
// system does not say).
struct DirName {
  std::string name;
  unsigned char type = 0;
};
// Calls `each` with every entry of the open directory `fd` but "." and ".."; takes `fd` over
// and closes it. Fails with the errno that cut the listing short (no context: the caller's).
Status each_entry(int fd, const std::function<void(const dirent&)>& each);

// The entries of `dir` but "." and "..", opened through the SysIo seam. `follow`: `dir` itself
// may be a link to a directory.
Result<std::vector<DirName>> list_names(const std::string& dir, bool follow = true);

// What a path names, links followed; the error of stat when it names nothing.
enum class PathKind { directory, file, other };
Result<PathKind> path_kind(const std::string& path);

// A question, not an error channel: stat succeeds and names a directory (links followed).
bool is_directory(const std::string& path);

// Size of an open regular file in 64 bits; EISDIR or EINVAL for anything else.
Result<int64_t> file_size(int fd);

// What tells a file's content changed: identity, size, and both times to the nanosecond.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  int64_t size = -1;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;
  uint64_t links = 0;  // names it has (a new one changes ctime too)
  bool operator==(const FileStamp&) const = default;
};

// The stamp of `path` (links followed unless `follow` is false: then a link's own).
Result<FileStamp> stamp_file(const std::string& path, bool follow = true);

// Reads a whole regular file into `content`, whose capacity is reused. Fails with the errno:
// EINVAL for a FIFO or device (never blocks), EFBIG beyond `max_bytes`, ENOMEM when it does
// not fit in memory. `content` is empty on failure. `stamp`, when given, is the file's stamp
// taken before the first byte was read. `direct`, when given, tells whether `path` names the
// file itself rather than a link to it (also when the read fails).
Status read_file(const std::string& path, std::string& content, uint64_t max_bytes = UINT64_MAX,
                 FileStamp* stamp = nullptr, bool* direct = nullptr);
// At most the first `bytes` bytes of a regular file, as read_file reads it (never EFBIG).
Status read_file_head(const std::string& path, std::string& content, uint64_t bytes);
// The same, `name` opened in the directory `dir_fd` (platform::DirCache; -1: `path` opened);
// `path` is its whole path, for the error's context. `follow` false: a link there is ELOOP.
Status read_file_at(int dir_fd, const std::string& name, const std::string& path,
                    std::string& content, uint64_t max_bytes, FileStamp* stamp = nullptr,
                    bool* direct = nullptr, bool follow = true);

// Writes `data` to `path` so that no half-written file is ever left: the content goes to a
// temporary file and is published whole (TargetFile, links written through); an existing target
// keeps its permission bits; a read-only one is left unchanged (EACCES). Not flushed.
Status write_file_safely(const std::string& path, std::string_view data);

// Bytes [begin, end) of `from` into the same place of `to`: in the kernel where it can (shared
// extents on a file system that shares them), else read and written. 0, or an errno value.
int copy_bytes(int from, int to, off_t begin, off_t end);

}  // namespace platform
