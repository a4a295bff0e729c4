// --list-runs and --forget, and every word they print.
#include "cli/undo_commands.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cli/check_rule.h"
#include "cli/cli_args.h"
#include "cli/name_quote.h"
#include "platform/fs.h"
#include "undo/store.h"
#include "undo/undo_messages.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

std::string state_text(const undo::RunSummary& run) {
  if (!run.readable) return kestrum::strfmt(_("unreadable: %s"), run.error.c_str());
  if (run.busy) return _("in progress");
  if (!run.manifest.finished) return _("interrupted");
  if (run.manifest.stopped) return _("stopped");
  return _("complete");
}

// `text` and blanks up to `columns` terminal columns: before it (`right`) or after it.
std::string padded(const std::string& text, size_t columns, bool right = false) {
  const size_t has = display_columns(text);
  const std::string blanks(has < columns ? columns - has : 0, ' ');
  return right ? blanks + text : text + blanks;
}

// The listing's columns: run, date, files, size kept, encodings, state (the last unpadded).
constexpr size_t kColumns = 6;
using Row = std::array<std::string, kColumns>;

Row headings() {
  // Translators: the headings of the columns of --list-runs.
  return {_("run"), _("date"), _("files"), _("kept"), _("encodings"), _("state")};
}

// One line of the listing; each column as wide as its heading at least.
std::string run_row(const Row& cells, const Row& heads) {
  constexpr size_t kWidth[kColumns] = {18, 19, 7, 10, 24, 0};
  constexpr bool kRight[kColumns] = {false, false, true, true, false, false};
  constexpr const char* kGap[kColumns - 1] = {" ", " ", " ", "  ", " "};
  std::string line;
  for (size_t i = 0; i + 1 < kColumns; ++i)
    line += padded(cells[i], std::max(kWidth[i], display_columns(heads[i])), kRight[i]) + kGap[i];
  return line + cells[kColumns - 1];
}

void print(std::FILE* out, const std::string& line) {
  std::fputs(visible_text(line).c_str(), out);
  std::fputc('\n', out);
}

}  // namespace

UndoFolder undo_folder(const CliOptions& o) {
  UndoFolder folder;
  if (o.paths.size() > 1) {
    folder.error = _("the undo commands take one folder (and --undo a run before it)");
    return folder;
  }
  folder.dir = o.paths.empty() ? "." : o.paths.front();
  if (!platform::is_directory(folder.dir))
    folder.error = kestrum::strfmt(_("no folder %s"), folder.dir.c_str());
  return folder;
}

int list_runs_command(const std::string& dir, std::FILE* out) {
  const std::vector<undo::RunSummary> runs = undo::list_runs(dir);
  if (runs.empty()) {
    print(out, kestrum::strfmt(_("No runs in place of %s are kept to undo"), dir.c_str()));
    return kExitOk;
  }
  const Row heads = headings();
  print(out, run_row(heads, heads));
  for (const undo::RunSummary& r : runs) {
    const undo::Manifest& m = r.manifest;
    const std::string encodings = m.header.source + "-->" + m.header.target;
    print(out, run_row({r.id, undo::date_text(m.header.started_ns), std::to_string(m.kept_count()),
                        undo::size_text(m.kept_bytes()), encodings, state_text(r)},
                       heads));
  }
  print(out, kestrum::strfmt(_("Kept in %s"), runs.back().store.c_str()));
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
      print(out, kestrum::strfmt(_("Cannot forget run %s: %s"), r.id.c_str(),
                                 dropped.err() == EBUSY ? _("it is in progress")
                                                        : dropped.error().message().c_str()));
      status = kExitFailed;
      continue;
    }
    print(out, kestrum::strfmt(P_("Forgot run %s (%zu files, %s): it can no longer be undone",
                                  "Forgot run %s (%zu files, %s): it can no longer be undone",
                                  r.manifest.kept_count()),
                               r.id.c_str(), r.manifest.kept_count(),
                               undo::size_text(r.manifest.kept_bytes()).c_str()));
  }
  if (!found && which != "all") {
    print(out, kestrum::strfmt(_("No run %s of %s is kept"), which.c_str(), dir.c_str()));
    return kExitUsage;
  }
  return status;
}
