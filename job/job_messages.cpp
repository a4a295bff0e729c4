// Log wording of file outcomes and of the summary.
#include "job/job_messages.h"

#include "util/strfmt.h"

namespace {

std::string outcome_line(const JobFile& file, const FileReport& r, bool in_place) {
  const char* path = r.path.c_str();
  const char* kept = in_place ? "left unchanged" : "copied unchanged";
  switch (r.outcome) {
    case Outcome::converted:
      return {};
    case Outcome::ascii:
      return kestrum::strfmt(
          "ASCII only: %s, %s", path,
          in_place && r.unchanged ? "left as it is" : "written without converting");
    case Outcome::already_utf8:
      return kestrum::strfmt("Already UTF-8: %s, not converted again%s", path,
                             in_place && r.unchanged ? ", left as it is" : "");
    case Outcome::marked:
      return kestrum::strfmt("Not converted: %s is %s, %s", path, r.note.c_str(), kept);
    case Outcome::binary:
      return kestrum::strfmt("Not converted: %s is binary (%s), %s", path, r.note.c_str(), kept);
    case Outcome::same_file:
      return kestrum::strfmt("Not converted again: %s is the %s", path, r.note.c_str());
    case Outcome::outside:
      return kestrum::strfmt("Not converted: %s %s, left alone", path, r.note.c_str());
    case Outcome::cannot_read:
      return kestrum::strfmt("Cannot read file: %s, error: %s", path, errno_text(r.error).c_str());
    case Outcome::cannot_convert:
      return kestrum::strfmt("Cannot convert file: %s, %s-->%s %s, %s", path, r.source.c_str(),
                             r.target.c_str(), detail_text(r).c_str(), kept);
    case Outcome::not_supported:
      return kestrum::strfmt("Cannot convert file: %s, %s, %s", path, r.note.c_str(), kept);
    case Outcome::cannot_write:
      return kestrum::strfmt("Cannot write file: %s, error: %s", path, errno_text(r.error).c_str());
    case Outcome::skipped:
      return kestrum::strfmt("Skipped: %s %s, left alone", path, r.note.c_str());
    case Outcome::changed:
      return kestrum::strfmt("Not converted: %s %s", path, r.note.c_str());
    case Outcome::undetected:
      return kestrum::strfmt("Not converted: %s, %s, %s", path, r.note.c_str(), kept);
    case Outcome::ambiguous:
      return kestrum::strfmt("Not converted: %s, not sure which encoding: %s; %s (choose one)",
                             path, r.note.c_str(), kept);
    case Outcome::double_encoded:
      return kestrum::strfmt("Not converted: %s is double-encoded (%s), %s; repair to fix it", path,
                             r.note.c_str(), kept);
    case Outcome::mixed:
      return kestrum::strfmt("Not converted: %s holds two encodings (%s), %s; repair to fix it",
                             path, r.note.c_str(), kept);
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
  lines.push_back(kestrum::strfmt("Processing file: %s", file.file_name.c_str()));
  std::string line = outcome_line(file, report, in_place);
  if (!line.empty()) lines.push_back(std::move(line));
  if (outcome_is_done(report.outcome) && !report.note.empty() &&
      report.outcome != Outcome::same_file)
    lines.push_back(kestrum::strfmt("Note: %s, %s", report.path.c_str(), report.note.c_str()));
  return lines;
}

std::string search_failure_line(const FileReport& failure) {
  return kestrum::strfmt("Cannot search directory: %s, error: %s", failure.path.c_str(),
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
    lines.push_back(kestrum::strfmt(report.undone.empty()
                                        ? "%zu of %zu files were not converted, see the report"
                                        : "%zu of %zu files were not put back, see the report",
                                    failed, report.entries()));
  return lines;
}
