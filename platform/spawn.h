// Starting another program without waiting for it and without leaving a zombie behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Starts the program at the path argv[0] with `argv`, in a session of its own, with our
// descriptors beyond stderr closed. Not waited for: a detached thread reaps it when it ends.
// Returns its pid, or -1 when it could not be started.
pid_t spawn_detached(const std::vector<std::string>& argv);

// The first executable regular file called `name` in the directories of $PATH, or empty.
std::string find_in_path(std::string_view name);

// A regular file we may execute.
bool is_executable_file(const std::string& path);

}  // namespace platform
