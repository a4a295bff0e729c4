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
#include "cli/stop_signals.h"
#include "cli/undo_commands.h"
#include "job/undo_job.h"
#include "platform/fs.h"
#include "util/encoding_catalogue.h"
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

// A report that could not be written is found out before the job, not after it.
std::string report_place_error(const std::string& path) {
  if (path.empty()) return {};
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (!platform::is_directory(dir))
    return "cannot write the report " + path + ": no directory " + dir;
  if (platform::is_directory(path)) return "cannot write the report " + path + ": a directory";
  return {};
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
int run_task(const CliOptions& o, Task& task, const std::string& input) {
  CliObserver observer(stderr, console_style(o));
  JobReport report;
  {
    StopSignals signals;  // before the job's threads, which inherit its mask
    signals.watch([&task] { task.request_stop(); });
    report = task.run(observer);
  }
  if (!report.ran)
    return usage_error(report.refusal.empty() ? "the job did not start: " + input : report.refusal);
  observer.finish(report);
  int status = run_status(report, o.check);
  if (!o.report.empty()) {
    const std::string text =
        ends_with(o.report, ".json") ? report_json(report) : report_csv(report);
    if (const platform::Status written = platform::write_file_safely(o.report, text); !written) {
      observer.print_line("ouzel-convert: cannot write the report " + o.report + ": " +
                          errno_text(written.err()));
      if (status == kExitOk) status = kExitFailed;
    }
  }
  return status;
}

int run_job(const CliOptions& o, const JobPlan& plan) {
  ConvertJob job(plan);
  return run_task(o, job, plan.input);
}

// --undo, --list-runs, --forget over the one folder named.
int run_undo_command(const CliOptions& o) {
  const UndoFolder folder = undo_folder(o);
  if (!folder.error.empty()) return usage_error(folder.error);
  if (o.list_runs) return list_runs_command(folder.dir, stdout);
  if (o.forget) return forget_command(folder.dir, *o.forget, stdout);
  UndoPlan plan;
  plan.root = folder.dir;
  plan.run = o.undo_run;
  plan.force = o.force;
  plan.durable = !o.no_sync;
  UndoJob job(plan);
  return run_task(o, job, folder.dir);
}

}  // namespace

int run_cli(const std::vector<std::string>& args) {
  const ParsedArgs parsed = parse_arguments(args);
  if (!parsed.error.empty()) return usage_error(parsed.error + " (see --help)");
  const CliOptions& o = parsed.options;
  if (o.help) {
    std::fputs(help_text().c_str(), stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("%s\n", version_text().c_str());
    return kExitOk;
  }
  if (o.quiet && o.verbose) return usage_error("--quiet and --verbose exclude each other");
  EncodingList encodings;
  LogBuffer log;
  build_encoding_catalogue(encodings, log);
  if (!o.quiet) print_log(log);
  if (o.list_encodings) {
    for (const EncodingEntry& e : encodings) std::printf("%s\n", e.c_str());
    return kExitOk;
  }
  if (o.undo || o.list_runs || o.forget) {
    if (const std::string e = report_place_error(o.report); !e.empty()) return usage_error(e);
    return run_undo_command(o);
  }
  const platform::Result<JobPlan> plan = make_cli_plan(o, encodings);
  if (!plan) return usage_error(plan.error().context);
  if (const std::string e = report_place_error(o.report); !e.empty()) return usage_error(e);
  return run_job(o, *plan);
}
