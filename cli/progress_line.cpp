// Progress text: files, throughput and an estimate of the time left from the files done.
#include "cli/progress_line.h"

#include "util/i18n.h"
#include "util/strfmt.h"

std::string clock_text(int64_t seconds) {
  if (seconds < 0) seconds = 0;
  const auto h = static_cast<long long>(seconds / 3600);
  const auto m = static_cast<long long>(seconds / 60 % 60);
  const auto s = static_cast<long long>(seconds % 60);
  return h > 0 ? kestrum::strfmt("%lld:%02lld:%02lld", h, m, s)
               : kestrum::strfmt("%lld:%02lld", m, s);
}

std::string progress_text(const JobProgress& p) {
  std::string text = kestrum::strfmt(P_("%zu/%zu files", "%zu/%zu files", p.files_total),
                                     p.files_done, p.files_total);
  if (p.micros <= 0 || p.files_done == 0) return text;
  const double seconds = static_cast<double>(p.micros) / 1e6;
  text += kestrum::strfmt(", %.1f MB/s", static_cast<double>(p.bytes_done) / 1e6 / seconds);
  if (p.files_done < p.files_total) {
    const double left = seconds * static_cast<double>(p.files_total - p.files_done) /
                        static_cast<double>(p.files_done);
    text +=
        ", " + kestrum::strfmt(_("%s left"), clock_text(static_cast<int64_t>(left + 0.5)).c_str());
  }
  return text;
}

bool RedrawThrottle::due(Clock::time_point now) {
  if (drawn_ && now - last_ < interval_) return false;
  drawn_ = true;
  last_ = now;
  return true;
}
