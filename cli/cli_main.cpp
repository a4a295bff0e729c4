// ouzel-convert: options, plan, the job with its console observer and stop signals, report.
#include "cli/cli_main.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "cli/check_rule.h"
#include "cli/cli_args.h"
#include "cli/cli_observer.h"
#include "cli/cli_plan.h"
#include "cli/name_quote.h"
#include "cli/report_target.h"
#include "cli/stop_signals.h"
#include "cli/undo_commands.h"
#include "detect/detect.h"
#include "job/undo_job.h"
#include "platform/fs.h"
#include "util/encoding_catalogue.h"
#include "util/i18n.h"
#include "util/log_buffer.h"
#include "util/strfmt.h"

namespace {

int usage_error(const std::string& line) {
  std::fprintf(stderr, "ouzel-convert: %s\n", visible_text(line).c_str());
  return kExitUsage;
}

// What the catalogue logged (a converter that lists no names, say), without the time stamps.
void print_log(LogBuffer& log) {
  std::lock_guard guard(log.lines_lock);
  for (const std::string& line : log.lines) {
    const size_t text = line.find("] ");
    std::fprintf(stderr, "ouzel-convert: %s\n",
                 line.c_str() + (text == std::string::npos ? 0 : text + 2));
  }
}

bool ends_with(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool stderr_is_terminal() {
  const char* term = std::getenv("TERM");
  return ::isatty(STDERR_FILENO) == 1 && (term == nullptr || std::strcmp(term, "dumb") != 0);
}

ConsoleStyle console_style(const CliOptions& o) {
  ConsoleStyle style;
  style.terminal = stderr_is_terminal();
  style.verbosity =
      o.quiet ? Verbosity::quiet : (o.verbose ? Verbosity::verbose : Verbosity::normal);
  style.check = o.check;
  style.dry_run = o.dry_run || o.check;
  return style;
}

// Runs a task (a conversion, an undo) to its end or to a stop signal; writes the report; the
// exit status.
template <typename Task>
int run_task(const CliOptions& o, Task& task, const std::string& input, ReportTarget& out) {
  CliObserver observer(stderr, console_style(o));
  JobReport report;
  {
    StopSignals signals;  // before the job's threads, which inherit its mask
    signals.watch([&task] { task.request_stop(); });
    report = task.run(observer);
  }
  if (!report.ran)
    return usage_error(report.refusal.empty()
                           ? kestrum::strfmt(_("the job did not start: %s"), input.c_str())
                           : report.refusal);
  observer.finish(report);
  int status = run_status(report, o.check);
  if (!o.report.empty()) {
    const std::string text =
        ends_with(o.report, ".json") ? report_json(report) : report_csv(report);
    if (const int err = out.write(text)) {
      observer.print_line("ouzel-convert: " + kestrum::strfmt(_("cannot write the report %s: %s"),
                                                              o.report.c_str(),
                                                              errno_text(err).c_str()));
      if (status == kExitOk) status = kExitFailed;
    }
  }
  return status;
}

int run_job(const CliOptions& o, const JobPlan& plan, ReportTarget& out) {
  ConvertJob job(plan);
  return run_task(o, job, plan.input, out);
}

// --undo, --list-runs, --forget over the one folder named.
int run_undo_command(const CliOptions& o, ReportTarget& out) {
  const UndoFolder folder = undo_folder(o);
  if (!folder.error.empty()) return usage_error(folder.error);
  if (o.list_runs) return list_runs_command(folder.dir, stdout);
  if (o.forget) return forget_command(folder.dir, *o.forget, stdout);
  UndoPlan plan;
  plan.root = folder.dir;
  plan.run = o.undo_run;
  plan.force = o.force;
  plan.durable = !o.no_sync;
  if (o.report != "-") plan.report = o.report;  // never one of the run's files
  UndoJob job(plan);
  return run_task(o, job, folder.dir, out);
}

}  // namespace

int run_cli(const std::vector<std::string>& args) {
  const ParsedArgs parsed = parse_arguments(args);
  if (!parsed.error.empty())
    return usage_error(kestrum::strfmt(_("%s (see --help)"), parsed.error.c_str()));
  const CliOptions& o = parsed.options;
  if (o.help) {
    std::fputs(help_text().c_str(), stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("%s\n", version_text().c_str());
    return kExitOk;
  }
  if (o.quiet && o.verbose) return usage_error(_("--quiet and --verbose exclude each other"));
  EncodingList encodings;
  LogBuffer log;
  build_encoding_catalogue(encodings, log);
  if (!o.quiet) print_log(log);
  if (o.list_encodings) {
    for (const EncodingEntry& e : encodings) std::printf("%s\n", e.c_str());
    return kExitOk;
  }
  if (o.list_presets) {
    for (const detect::Preset& p : detect::presets()) std::printf("%s\n", p.name.c_str());
    return kExitOk;
  }
  if (o.undo || o.list_runs || o.forget) {
    ReportTarget report;
    if (const std::string e = report.open(o.report, o.config); !e.empty()) return usage_error(e);
    return run_undo_command(o, report);
  }
  const platform::Result<JobPlan> plan = make_cli_plan(o, encodings);
  if (!plan) return usage_error(plan.error().context);
  // A report that could not be written is found out before the job, not after it.
  ReportTarget report;
  if (const std::string e = report.open(o.report, o.config); !e.empty()) return usage_error(e);
  return run_job(o, *plan, report);
}
