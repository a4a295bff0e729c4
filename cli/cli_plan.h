// The job plan of a command-line run: the options over a settings file and the defaults.
#pragma once

#include <string>

#include "cli/cli_args.h"
#include "job/job.h"

// Options win over the settings file (--config), which wins over the defaults: filter "*.*",
// GBK to UTF-8, one thread per core. Reads the settings file, never writes it. The error's
// context is one line for the user (an unknown encoding, an unreadable settings file, a
// missing path).
platform::Result<JobPlan> make_cli_plan(const CliOptions& options, const EncodingList& encodings);
