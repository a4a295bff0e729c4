// Small file-system queries of the Linux layer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// stat succeeds and names a directory (links followed).
bool is_directory(const std::string& path);

// Size of an open regular file in 64 bits; -1 with errno set for anything else.
int64_t file_size(int fd);

// Reads a whole regular file into `content`, whose capacity is reused. Returns 0 or an errno:
// EINVAL for a FIFO or device (never blocks), EFBIG beyond `max_bytes`, ENOMEM when it does
// not fit in memory. `content` is empty on failure.
int read_file(const std::string& path, std::string& content, uint64_t max_bytes = UINT64_MAX);

// Writes `data` to `path` so that no half-written file is ever left: the content goes to a
// temporary file and is published whole (TargetFile, links written through); an existing target
// keeps its permission bits; a read-only one is left unchanged (EACCES). Not flushed.
// Returns 0 or the errno of the failure.
int write_file_safely(const std::string& path, std::string_view data);

}  // namespace platform
