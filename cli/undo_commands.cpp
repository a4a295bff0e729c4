// --list-runs and --forget, and every word they print.
#include "cli/undo_commands.h"

#include <cstdio>

#include "cli/check_rule.h"
#include "cli/name_quote.h"
#include "platform/fs.h"
#include "undo/store.h"
#include "undo/undo_messages.h"
#include "util/strfmt.h"

namespace {

std::string state_text(const undo::RunSummary& run) {
  if (!run.readable) return "unreadable: " + run.error;
  if (run.busy) return "in progress";
  if (!run.manifest.finished) return "interrupted";
  if (run.manifest.stopped) return "stopped";
  return "complete";
}

void print(std::FILE* out, const std::string& line) {
  std::fputs(visible_text(line).c_str(), out);
  std::fputc('\n', out);
}

}  // namespace

UndoFolder undo_folder(const CliOptions& o) {
  UndoFolder folder;
  if (o.paths.size() > 1) {
    folder.error = "the undo commands take one folder (and --undo a run before it)";
    return folder;
  }
  folder.dir = o.paths.empty() ? "." : o.paths.front();
  if (!platform::is_directory(folder.dir)) folder.error = "no folder " + folder.dir;
  return folder;
}

int list_runs_command(const std::string& dir, std::FILE* out) {
  const std::vector<undo::RunSummary> runs = undo::list_runs(dir);
  if (runs.empty()) {
    print(out, kestrum::strfmt("No runs in place of %s are kept to undo", dir.c_str()));
    return kExitOk;
  }
  print(out, kestrum::strfmt("%-18s %-19s %7s %10s  %-24s %s", "run", "date", "files", "kept",
                             "encodings", "state"));
  for (const undo::RunSummary& r : runs) {
    const undo::Manifest& m = r.manifest;
    const std::string encodings = m.header.source + "-->" + m.header.target;
    print(out, kestrum::strfmt("%-18s %-19s %7zu %10s  %-24s %s", r.id.c_str(),
                               undo::date_text(m.header.started_ns).c_str(), m.kept_count(),
                               undo::size_text(m.kept_bytes()).c_str(), encodings.c_str(),
                               state_text(r).c_str()));
  }
  print(out, kestrum::strfmt("Kept in %s", runs.back().store.c_str()));
  return kExitOk;
}

int forget_command(const std::string& dir, const std::string& which, std::FILE* out) {
  const std::vector<undo::RunSummary> runs = undo::list_runs(dir);
  int status = kExitOk;
  bool found = false;
  for (const undo::RunSummary& r : runs) {
    if (which != "all" && which != r.id) continue;
    found = true;
    if (const platform::Status dropped = undo::drop_run(r); !dropped) {
      print(out, kestrum::strfmt("Cannot forget run %s: %s", r.id.c_str(),
                                 dropped.err() == EBUSY ? "it is in progress"
                                                        : dropped.error().message().c_str()));
      status = kExitFailed;
      continue;
    }
    print(out, kestrum::strfmt("Forgot run %s (%zu files, %s): it can no longer be undone",
                               r.id.c_str(), r.manifest.kept_count(),
                               undo::size_text(r.manifest.kept_bytes()).c_str()));
  }
  if (!found && which != "all") {
    print(out, kestrum::strfmt("No run %s of %s is kept", which.c_str(), dir.c_str()));
    return kExitUsage;
  }
  return status;
}
