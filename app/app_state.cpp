// AppState construction in its fixed order, settings, and the last report.
#include "app/app_state.h"

#include <sys/stat.h>

#include "job/run_checks.h"
#include "platform/fs.h"
#include "platform/sys_io.h"
#include "util/i18n.h"

AppState::AppState(no_config_t)
    : jobs(log, [this](const JobPlan& plan,
                       JobReport report) { publish_preview(plan, std::move(report)); }),
      worker_idle(jobs.idle_flag()) {
  build_encoding_catalogue(encodings, log);
  jobs.on_undo_look([this](JobReport report) {
    std::lock_guard guard(preview_lock_);
    undo_look_ = std::move(report);
  });
}

AppState::AppState() : AppState(no_config) { load_config("ouzel.yml"); }

AppState::~AppState() { stop_worker(); }

void AppState::load_config(const std::string& config_path) {
  const ConfigProblem problem = ::load_config(*this, encodings, config_path);
  if (!problem.empty())
    log.append(_("load config %s failed, error: %s"), config_path.c_str(), problem.why.c_str());
  for (const std::string& d : problem.diagnostics)
    log.append(_("load config %s: %s"), config_path.c_str(), d.c_str());
  for (const std::string& f : problem.fallbacks)
    log.append(_("load config %s: %s"), config_path.c_str(), f.c_str());
}

void AppState::save_config() {
  for (const std::string& line : save_config_lines(::save_config(*this, encodings), path))
    log.append("%s", line.c_str());
}

namespace {

// Why the report may not go to `file`: the settings file, one of the last run's files, or
// something other than a regular file; empty when it may.
std::string report_place_refusal(const std::string& file, const JobReport& report,
                                 const std::string& settings) {
  struct stat st, own;
  const bool exists = platform::sysio().stat(file.c_str(), &st) == 0;
  using kestrum::strfmt;
  if (exists && !S_ISREG(st.st_mode)) return strfmt(_("%s is not a regular file"), file.c_str());
  if (exists && platform::sysio().stat(settings.c_str(), &own) == 0 && st.st_dev == own.st_dev &&
      st.st_ino == own.st_ino)
    return strfmt(_("%s is the settings file"), file.c_str());
  ReportPlace place(file, report.input, report.output);
  for (const FileReport& f : report.files) {
    const size_t slash = f.path.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : f.path.substr(0, slash);
    if (place.holds(dir, f.path.substr(slash + 1), /*may_be_link=*/true))
      return strfmt(_("%s would be written over %s, a file of the last run"), file.c_str(),
                    f.path.c_str());
  }
  return {};
}

}  // namespace

void AppState::save_report(const std::string& file) {
  const std::shared_ptr<const JobReport> report = last_report();
  if (!report) {
    log.append("%s", _("save report failed: no job has run yet"));
    return;
  }
  if (const std::string refusal = report_place_refusal(file, *report, path); !refusal.empty()) {
    log.append(_("save report failed: %s"), refusal.c_str());
    return;
  }
  if (const platform::Status written = platform::write_file_safely(file, report_csv(*report));
      !written) {
    log.append(_("save report failed, error: %s"), errno_text(written.err()).c_str());
    return;
  }
  log.append(P_("save report to file %s success, %zu entries",
                "save report to file %s success, %zu entries", report->entries()),
             fsutil::full_path(file).value_or(file).c_str(), report->entries());
}
