// The undo store from the command line: --list-runs and --forget, and the folder they name.
#pragma once

#include <string>

#include "cli/cli_args.h"

// The one folder an undo command names (the current one when none), or an error line.
struct UndoFolder {
  std::string dir;
  std::string error;
};
UndoFolder undo_folder(const CliOptions& options);

// --list-runs: one line per run kept for `dir` on `out`, oldest first; the exit status.
int list_runs_command(const std::string& dir, std::FILE* out);

// --forget RUN|all: drops the run (every run) kept for `dir`; the exit status.
int forget_command(const std::string& dir, const std::string& which, std::FILE* out);
