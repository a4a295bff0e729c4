// The job plan of a command-line run: the options over a settings file and the defaults.
#pragma once

#include <string>

#include "cli/cli_args.h"
#include "convert/job.h"

// `error` is one line for the user (an unknown encoding, an unreadable settings file, a
// missing path); empty when `plan` is ready to run.
struct CliPlan {
  JobPlan plan;
  std::string error;
};

// Options win over the settings file (--config), which wins over the defaults: filter "*.*",
// GBK to UTF-8, one thread per core. Reads the settings file, never writes it.
CliPlan make_cli_plan(const CliOptions& options, const EncodingList& encodings);
