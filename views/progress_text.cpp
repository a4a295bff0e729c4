// Progress overlay text and the time-left estimate.
#include "views/progress_text.h"

#include <algorithm>
#include <cmath>

#include "util/i18n.h"
#include "util/strfmt.h"

namespace {

constexpr double kMinSeconds = 1.0;    // before this, the rate is mostly start-up
constexpr double kMinFraction = 0.03;  // or this much done: enough files to go by

}  // namespace

std::string format_time_left(double seconds) {
  const auto total = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
  const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
  if (h > 0) return kestrum::strfmt("%lld:%02lld:%02lld", h, m, s);
  return kestrum::strfmt("%lld:%02lld", m, s);
}

void JobTimer::update(bool busy, uint64_t total, double now_seconds) {
  if (!busy || total == 0) {
    converting_ = false;
    return;
  }
  if (!converting_) start_ = now_seconds;
  converting_ = true;
}

double JobTimer::elapsed(double now_seconds) const {
  return converting_ ? now_seconds - start_ : 0.0;
}

std::string progress_text(uint64_t done, uint64_t total, bool busy, double elapsed_seconds) {
  if (total == 0) return {};
  const auto done_n = static_cast<unsigned long long>(done);
  const auto total_n = static_cast<unsigned long long>(total);
  const double fraction = static_cast<double>(done) / static_cast<double>(total);
  const bool known = elapsed_seconds >= kMinSeconds || fraction >= kMinFraction;
  if (busy && done > 0 && done < total && known && elapsed_seconds > 0.0) {
    const double left =
        elapsed_seconds * static_cast<double>(total - done) / static_cast<double>(done);
    return kestrum::strfmt(P_("%llu / %llu files, %s left", "%llu / %llu files, %s left", total),
                           done_n, total_n, format_time_left(left).c_str());
  }
  return kestrum::strfmt(P_("%llu / %llu files", "%llu / %llu files", total), done_n, total_n);
}
