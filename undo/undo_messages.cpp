// Every undo text a person reads, in one place.
#include "undo/undo_messages.h"

#include <ctime>

#include "util/i18n.h"
#include "util/local_time.h"
#include "util/strfmt.h"

namespace undo {

std::string size_text(uint64_t bytes) {
  if (bytes < 1000)
    return kestrum::strfmt(P_("%llu bytes", "%llu bytes", bytes),
                           static_cast<unsigned long long>(bytes));
  const double b = static_cast<double>(bytes);
  if (bytes < 1000000) return kestrum::strfmt("%.1f kB", b / 1e3);
  if (bytes < 1000000000) return kestrum::strfmt("%.1f MB", b / 1e6);
  return kestrum::strfmt("%.2f GB", b / 1e9);
}

std::string date_text(int64_t ns) { return local_time_text(ns, "%Y-%m-%d %H:%M:%S"); }

std::string kept_line(const RunSummary& run, size_t files, uint64_t bytes) {
  return kestrum::strfmt(
      run.beside
          ? P_("The old content of %zu files (%s) is kept in %s, beside the input directory, "
               "which cannot be written: undoing run %s puts it back",
               "The old content of %zu files (%s) is kept in %s, beside the input directory, "
               "which cannot be written: undoing run %s puts it back",
               files)
          : P_("The old content of %zu files (%s) is kept in %s: undoing run %s puts it back",
               "The old content of %zu files (%s) is kept in %s: undoing run %s puts it back",
               files),
      files, size_text(bytes).c_str(), run.dir.c_str(), run.id.c_str());
}

std::string keep_failure_note(const std::string& place) {
  return kestrum::strfmt(_("left as it was: its old content cannot be kept for undo in %s, and "
                           "without it the conversion would have no way back"),
                         place.c_str());
}

std::string dropped_for_count_line(const RunSummary& run, const Limits& limits) {
  return kestrum::strfmt(
      P_("Dropped the undo store of run %s (%s, %s): only the last %zu runs are kept",
         "Dropped the undo store of run %s (%s, %s): only the last %zu runs are kept", limits.runs),
      run.id.c_str(), date_text(run.manifest.header.started_ns).c_str(),
      size_text(run.manifest.kept_bytes()).c_str(), limits.runs);
}

std::string dropped_for_size_line(const RunSummary& run, const Limits& limits) {
  return kestrum::strfmt(
      _("Dropped the undo store of run %s (%s, %s): the undo store keeps at most %s"),
      run.id.c_str(), date_text(run.manifest.header.started_ns).c_str(),
      size_text(run.manifest.kept_bytes()).c_str(), size_text(limits.bytes).c_str());
}

std::string cannot_drop_line(const RunSummary& run, const platform::Error& error) {
  return kestrum::strfmt(_("Cannot drop the undo store of run %s: %s"), run.id.c_str(),
                         error.message().c_str());
}

std::string tidied_line(const RunSummary& run, size_t files) {
  return kestrum::strfmt(P_("Run %s was interrupted: %zu files it kept but never replaced are let "
                            "go from its undo store",
                            "Run %s was interrupted: %zu files it kept but never replaced are let "
                            "go from its undo store",
                            files),
                         run.id.c_str(), files);
}

}  // namespace undo

namespace undo {

std::string no_run_line(const std::string& root) {
  return kestrum::strfmt(_("No conversion in place of %s is kept to undo"), root.c_str());
}

std::string no_such_run_line(const std::string& root, const std::string& id) {
  return kestrum::strfmt(_("No run %s of %s is kept to undo"), id.c_str(), root.c_str());
}

std::string unreadable_run_line(const RunSummary& run) {
  return kestrum::strfmt(_("The undo store of run %s cannot be read: %s"), run.id.c_str(),
                         run.error.c_str());
}

std::string busy_run_line(const RunSummary& run) {
  return kestrum::strfmt(_("Run %s is still in progress (or being undone) in another process"),
                         run.id.c_str());
}

std::string undo_start_line(const RunSummary& run, const std::string& root, bool look_only) {
  const Manifest& m = run.manifest;
  const size_t files = m.kept_count();
  return kestrum::strfmt(look_only
                             ? P_("Looking at what undoing run %s of %s (%s-->%s, %zu files) "
                                  "in %s would put back...",
                                  "Looking at what undoing run %s of %s (%s-->%s, %zu files) "
                                  "in %s would put back...",
                                  files)
                             : P_("Undoing run %s of %s (%s-->%s, %zu files) in %s...",
                                  "Undoing run %s of %s (%s-->%s, %zu files) in %s...", files),
                         run.id.c_str(), date_text(m.header.started_ns).c_str(),
                         m.header.source.c_str(), m.header.target.c_str(), files, root.c_str());
}

std::string already_back_note() { return _("as it was before the run already"); }
std::string goes_back_note() { return _("goes back to what it was before the run"); }
std::string changed_since_note() { return _("changed since the run, left as it is"); }

std::string deleted_since_note(bool forced) {
  return forced ? _("deleted since the run, put back as it was before it")
                : _("deleted since the run, left deleted (forced, it is put back)");
}

std::string damaged_kept_note() {
  return _(
      "what the undo store kept of it is missing or no longer whole; the file is left as it "
      "is");
}

std::string other_name_note(const std::string& name, bool changed) {
  return kestrum::strfmt(changed ? _("its other name %s changed since the run, left as it is")
                                 : _("its other name %s was deleted since the run"),
                         name.c_str());
}

std::string put_back_line(const std::string& path, const std::string& note) {
  return note.empty() ? kestrum::strfmt(_("Put back: %s"), path.c_str())
                      : kestrum::strfmt(_("Put back: %s, %s"), path.c_str(), note.c_str());
}

std::string not_put_back_line(const std::string& path, const std::string& detail) {
  return kestrum::strfmt(_("Not put back: %s, %s"), path.c_str(), detail.c_str());
}

std::string undo_complete_line(size_t back, size_t total, double seconds, bool look_only) {
  return kestrum::strfmt(
      look_only ? P_("%zu of %zu files would go back (looked at in %.3f seconds)",
                     "%zu of %zu files would go back (looked at in %.3f seconds)", total)
                : P_("Undo complete: %zu of %zu files are as they were before "
                     "the run, cost: %.3f seconds",
                     "Undo complete: %zu of %zu files are as they were before "
                     "the run, cost: %.3f seconds",
                     total),
      back, total, seconds);
}

std::string store_removed_line(const RunSummary& run) {
  return kestrum::strfmt(_("Every file of run %s is back: its undo store is removed"),
                         run.id.c_str());
}

std::string store_kept_line(const RunSummary& run, size_t left) {
  return kestrum::strfmt(P_("%zu files of run %s are not back: its undo store is kept in %s (undo "
                            "it again once they can go back, or forget the run)",
                            "%zu files of run %s are not back: its undo store is kept in %s (undo "
                            "it again once they can go back, or forget the run)",
                            left),
                         left, run.id.c_str(), run.dir.c_str());
}

}  // namespace undo
