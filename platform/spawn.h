// Starting other programs: detached without leaving a zombie behind, or waited for with their
// output.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace platform {

// Starts the program at the path argv[0] with `argv`, in a session of its own, with our
// descriptors beyond stderr closed. Not waited for: a detached thread reaps it when it ends.
// Returns its pid.
Result<pid_t> spawn_detached(const std::vector<std::string>& argv);

// A program run to its end.
struct captured_run {
  int exit_status = 0;  // its exit status (-1 when killed by a signal)
  std::string output;   // its standard output
};

// Runs `name` (looked up in $PATH) with `argv` and waits for it, stdin and stderr on /dev/null.
// Fails when it could not be started or its output read.
Result<captured_run> run_captured(const char* name, const std::vector<std::string>& argv);

// The first executable regular file called `name` in the directories of $PATH (ENOENT: none).
Result<std::string> find_in_path(std::string_view name);

// A regular file we may execute.
bool is_executable_file(const std::string& path);

}  // namespace platform
