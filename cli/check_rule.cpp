// The --check rule and the exit status of a finished run.
#include "cli/check_rule.h"

bool check_fails(const FileReport& entry) {
  if (outcome_is_failure(entry.outcome)) return true;
  if (entry.outcome == Outcome::same_file) return false;
  return outcome_is_done(entry.outcome) && !entry.unchanged;
}

size_t check_failures(const JobReport& report) {
  size_t n = report.search_failures.size();
  for (const FileReport& f : report.files) n += check_fails(f) ? 1 : 0;
  return n;
}

ExitStatus run_status(const JobReport& report, bool check) {
  if (report.stopped) return kExitStopped;
  if (!report.ran) return kExitUsage;
  const size_t failed = check ? check_failures(report) : report.failures();
  return failed > 0 ? kExitFailed : kExitOk;
}
