// Small file-system queries of the Linux layer.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// stat succeeds and names a directory (links followed).
bool is_directory(const std::string& path);

// What a path names, links followed; `error` is the errno when it names nothing.
enum class PathKind { missing, directory, file, other };
PathKind path_kind(const std::string& path, int* error = nullptr);

// Size of an open regular file in 64 bits; -1 with errno set for anything else.
int64_t file_size(int fd);

// What tells a file's content changed: identity, size, and both times to the nanosecond.
struct FileStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  int64_t size = -1;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of `path` (links followed); 0 or errno.
int stamp_file(const std::string& path, FileStamp& stamp);

// Reads a whole regular file into `content`, whose capacity is reused. Returns 0 or an errno:
// EINVAL for a FIFO or device (never blocks), EFBIG beyond `max_bytes`, ENOMEM when it does
// not fit in memory. `content` is empty on failure. `stamp`, when given, is the file's stamp
// taken before the first byte was read.
int read_file(const std::string& path, std::string& content, uint64_t max_bytes = UINT64_MAX,
              FileStamp* stamp = nullptr);

// Writes `data` to `path` so that no half-written file is ever left: the content goes to a
// temporary file and is published whole (TargetFile, links written through); an existing target
// keeps its permission bits; a read-only one is left unchanged (EACCES). Not flushed.
// Returns 0 or the errno of the failure.
int write_file_safely(const std::string& path, std::string_view data);

}  // namespace platform
