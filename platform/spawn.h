// Starting other programs: detached without leaving a zombie behind, or waited for with their
// output.
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

// The result of a program run to its end: its standard output, or why it could not be read.
struct captured_run {
  int error = 0;        // errno of a failed start or read; 0 when it ran
  int exit_status = 0;  // when it ran: its exit status (-1 when killed by a signal)
  std::string output;
};

// Runs `name` (looked up in $PATH) with `argv` and waits for it, stdin and stderr on /dev/null.
captured_run run_captured(const char* name, const std::vector<std::string>& argv);

// The first executable regular file called `name` in the directories of $PATH, or empty.
std::string find_in_path(std::string_view name);

// A regular file we may execute.
bool is_executable_file(const std::string& path);

}  // namespace platform
