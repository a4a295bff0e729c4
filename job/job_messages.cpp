// Log wording of file outcomes and of the summary.
#include "job/job_messages.h"

#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

std::string outcome_line(const JobFile& file, const FileReport& r, bool in_place) {
  const char* path = r.path.c_str();
  const char* kept = in_place ? _("left unchanged") : _("copied unchanged");
  const char* note = r.note.c_str();
  using kestrum::strfmt;
  switch (r.outcome) {
    case Outcome::converted:
      return {};
    case Outcome::ascii:
      return strfmt(_("ASCII only: %s, %s"), path,
                    in_place && r.unchanged ? _("left as it is") : _("written without converting"));
    case Outcome::already_utf8:
      return strfmt(in_place && r.unchanged
                        ? _("Already UTF-8: %s, not converted again, left as it is")
                        : _("Already UTF-8: %s, not converted again"),
                    path);
    case Outcome::marked:
      return strfmt(_("Not converted: %s is %s, %s"), path, note, kept);
    case Outcome::binary:
      return strfmt(_("Not converted: %s is binary (%s), %s"), path, note, kept);
    case Outcome::same_file:
      return strfmt(_("Not converted again: %s is the %s"), path, note);
    case Outcome::outside:
      return strfmt(_("Not converted: %s %s, left alone"), path, note);
    case Outcome::cannot_read:
      return strfmt(_("Cannot read file: %s, error: %s"), path, errno_text(r.error).c_str());
    case Outcome::cannot_convert:
      return strfmt(_("Cannot convert file: %s, %s-->%s %s, %s"), path, r.source.c_str(),
                    r.target.c_str(), detail_text(r).c_str(), kept);
    case Outcome::not_supported:
      return strfmt(_("Cannot convert file: %s, %s, %s"), path, note, kept);
    case Outcome::cannot_write:
      return strfmt(_("Cannot write file: %s, error: %s"), path, errno_text(r.error).c_str());
    case Outcome::skipped:
      return strfmt(_("Skipped: %s %s, left alone"), path, note);
    case Outcome::changed:
      return strfmt(_("Not converted: %s %s"), path, note);
    case Outcome::undetected:
      return strfmt(_("Not converted: %s, %s, %s"), path, note, kept);
    case Outcome::ambiguous:
      return strfmt(_("Not converted: %s, not sure which encoding: %s; %s (choose one)"), path,
                    note, kept);
    case Outcome::double_encoded:
      return strfmt(_("Not converted: %s is double-encoded (%s), %s; repair to fix it"), path, note,
                    kept);
    case Outcome::mixed:
      return strfmt(_("Not converted: %s holds two encodings (%s), %s; repair to fix it"), path,
                    note, kept);
    default:
      break;
  }
  (void)file;
  return {};
}

}  // namespace

std::vector<std::string> file_log_lines(const JobFile& file, const FileReport& report,
                                        bool in_place) {
  std::vector<std::string> lines;
  if (report.outcome == Outcome::excluded || report.outcome == Outcome::not_reached) return lines;
  lines.push_back(kestrum::strfmt(_("Processing file: %s"), file.file_name.c_str()));
  std::string line = outcome_line(file, report, in_place);
  if (!line.empty()) lines.push_back(std::move(line));
  if (outcome_is_done(report.outcome) && !report.note.empty() &&
      report.outcome != Outcome::same_file)
    lines.push_back(kestrum::strfmt(_("Note: %s, %s"), report.path.c_str(), report.note.c_str()));
  return lines;
}

std::string search_failure_line(const FileReport& failure) {
  return kestrum::strfmt(_("Cannot search directory: %s, error: %s"), failure.path.c_str(),
                         errno_text(failure.error).c_str());
}

std::vector<std::string> summary_lines(const JobReport& report) {
  std::vector<std::string> lines;
  const OutcomeCounts counts = report.counts();
  std::string list;
  bool only_converted = true;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    if (static_cast<Outcome>(i) != Outcome::converted) only_converted = false;
    if (!list.empty()) list += ", ";
    list += kestrum::strfmt("%s: %zu", std::string(outcome_name(static_cast<Outcome>(i))).c_str(),
                            counts[i]);
  }
  if (!only_converted) lines.push_back(list);
  if (const size_t failed = report.failures(); failed > 0)
    lines.push_back(kestrum::strfmt(
        report.undone.empty()
            ? P_("%zu of %zu files were not converted, see the report",
                 "%zu of %zu files were not converted, see the report", report.entries())
            : P_("%zu of %zu files were not put back, see the report",
                 "%zu of %zu files were not put back, see the report", report.entries()),
        failed, report.entries()));
  return lines;
}
