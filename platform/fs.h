// Small file-system queries of the Linux layer.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// stat succeeds and names a directory (links followed).
bool is_directory(const std::string& path);

// Writes `data` to `path` so that no half-written file is ever left: an existing target is
// replaced through a temporary file and a rename and keeps its permission bits; a read-only
// one is left unchanged (EACCES); a new target that fails to write is removed again.
// Returns 0 or the errno of the failure.
int write_file_safely(const std::string& path, std::string_view data);

}  // namespace platform
