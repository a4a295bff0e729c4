// Console output of a command-line run.
#include "cli/cli_observer.h"

#include "cli/check_rule.h"
#include "cli/name_quote.h"
#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr const char* kEraseLine = "\r\x1b[K";

std::string counts_text(const JobReport& report) {
  const OutcomeCounts counts = report.counts();
  std::string text;
  for (size_t i = 0; i < counts.size(); ++i) {
    if (counts[i] == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::string(outcome_name(static_cast<Outcome>(i))) + " " + std::to_string(counts[i]);
  }
  return text.empty() ? _("no files") : text;
}

// Important: a file detection was unsure of is converted all the same; the window flags it, so
// the terminal names it too, or a wrong guess would pass unseen.
constexpr int kUnsureConfidence = 60;  // the window's preview flags the same

bool is_unsure(const FileReport& r) {
  return outcome_is_done(r.outcome) && r.confidence >= 0 && r.confidence < kUnsureConfidence;
}

}  // namespace

std::string file_line(const FileReport& r, bool check) {
  // Checked against its policy: "path:line: what is wrong", as compilers name a place.
  if (r.offence) {
    std::string line = quote_name(r.path);
    if (r.offence->line != 0) line += ":" + std::to_string(r.offence->line);
    line += ": " + r.offence->what;
    if (!r.rule.empty()) line += "; " + kestrum::strfmt(_("decided by %s"), r.rule.c_str());
    return line;
  }
  std::string line = quote_name(r.path) + ": " + std::string(outcome_name(r.outcome));
  std::string detail = detail_text(r);
  if (check && !outcome_is_failure(r.outcome) && check_fails(r))
    detail = detail.empty() ? _("would change") : detail + "; " + _("would change");
  if (is_unsure(r))
    detail += (detail.empty() ? "" : "; ") +
              kestrum::strfmt(_("read as %s, confidence %d: unsure, look at it"), r.source.c_str(),
                              r.confidence);
  if (!detail.empty()) line += ": " + detail;
  return line;
}

bool file_is_listed(const FileReport& r, const ConsoleStyle& style) {
  if (r.outcome == Outcome::not_reached) return style.verbosity == Verbosity::verbose;
  if (style.check && check_fails(r)) return true;
  if (is_unsure(r) && style.verbosity != Verbosity::quiet) return true;
  switch (style.verbosity) {
    case Verbosity::verbose:
      return true;
    case Verbosity::normal:
      return !outcome_is_done(r.outcome);
    default:
      return outcome_is_failure(r.outcome);
  }
}

std::vector<std::string> summary_text(const JobReport& report, const ConsoleStyle& style) {
  std::vector<std::string> lines;
  const size_t total = report.files.size();
  const double seconds = report.search_seconds + report.convert_seconds;
  const double speed = report.convert_seconds > 0
                           ? static_cast<double>(report.bytes) / 1e6 / report.convert_seconds
                           : 0.0;
  std::string line = kestrum::strfmt(
      P_("%zu files in %.2f s, %.1f MB/s: %s", "%zu files in %.2f s, %.1f MB/s: %s", total), total,
      seconds, speed, counts_text(report).c_str());
  if (style.dry_run) line = kestrum::strfmt(_("nothing written: %s"), line.c_str());
  if (report.stopped) line = kestrum::strfmt(_("stopped: %s"), line.c_str());
  lines.push_back(line);
  if (style.check) {
    const size_t failed = check_failures(report);
    lines.push_back(failed == 0 ? _("check passed: no file would change")
                                : kestrum::strfmt(P_("check failed: %zu of %zu entries would "
                                                     "change or cannot be converted",
                                                     "check failed: %zu of %zu entries would "
                                                     "change or cannot be converted",
                                                     report.entries()),
                                                  failed, report.entries()));
  } else if (const size_t failed = report.failures(); failed > 0) {
    lines.push_back(kestrum::strfmt(
        report.undone.empty() ? P_("%zu of %zu files were not converted",
                                   "%zu of %zu files were not converted", report.entries())
                              : P_("%zu of %zu files were not put back",
                                   "%zu of %zu files were not put back", report.entries()),
        failed, report.entries()));
  }
  return lines;
}

void CliObserver::print_line(const std::string& line) {
  if (progress_shown_) std::fputs(kEraseLine, out_);
  // Important: a name holding a newline or an escape sequence must not make a second line or
  // drive the terminal.
  std::fputs(visible_text(line).c_str(), out_);
  std::fputc('\n', out_);
  if (progress_shown_) draw_progress();
  std::fflush(out_);
}

void CliObserver::message(const std::string& text) {
  if (style_.verbosity != Verbosity::verbose) return;
  // The engine's lines may end in the window log's CR LF.
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  print_line(line);
}

void CliObserver::search_done(size_t total) {
  last_.files_total = total;
  if (!style_.terminal || style_.verbosity == Verbosity::quiet) return;
  progress_shown_ = true;
  draw_progress();
  throttle_.due(RedrawThrottle::Clock::now());
  std::fflush(out_);
}

void CliObserver::file_done(size_t, const FileReport&, const std::vector<std::string>&,
                            const JobProgress& progress) {
  last_ = progress;
}

// Important: a file's line waits for its final outcome, so that it is printed once.
void CliObserver::file_revised(size_t, const FileReport&, const std::string&) {}

void CliObserver::file_settled(size_t, const FileReport& report) {
  const bool listed = file_is_listed(report, style_);
  // A printed line redraws the progress line below it already.
  if (listed) print_line(file_line(report, style_.check));
  if (!progress_shown_ || listed) return;
  if (throttle_.due(RedrawThrottle::Clock::now()) || last_.files_done == last_.files_total) {
    draw_progress();
    std::fflush(out_);
  }
}

void CliObserver::draw_progress() {
  std::fputs(kEraseLine, out_);
  std::fputs(progress_text(last_).c_str(), out_);
}

void CliObserver::clear_progress() {
  if (!progress_shown_) return;
  std::fputs(kEraseLine, out_);
  progress_shown_ = false;
}

void CliObserver::finish(const JobReport& report) {
  for (const FileReport& f : report.search_failures)
    if (style_.verbosity != Verbosity::verbose) print_line(file_line(f, style_.check));
  clear_progress();
  if (style_.verbosity != Verbosity::quiet)
    for (const std::string& line : summary_text(report, style_)) print_line(line);
  std::fflush(out_);
}
