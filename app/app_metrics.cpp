// Screen-derived sizes and window placement.
#include "app/app_metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "app/app_state.h"

WindowMetrics metrics_for_dpi(int dpi) { return metrics_for_scale(static_cast<float>(dpi / 96.0)); }

WindowMetrics metrics_for_scale(float scale) {
  WindowMetrics m;
  m.dpi_scale = scale;
  m.window_width = static_cast<int32_t>(m.dpi_scale * 800.0);
  m.window_height = static_cast<int32_t>(m.dpi_scale * 500.0);
  m.font_size = m.dpi_scale * 15.0f;
  return m;
}

void apply_metrics(AppState& app, const WindowMetrics& m) {
  app.dpi_scale = m.dpi_scale;
  app.window_width = m.window_width;
  app.window_height = m.window_height;
  app.font_size = m.font_size;
}

std::optional<int> parse_xft_dpi(std::string_view resources) {
  constexpr std::string_view kKey = "Xft.dpi:";
  size_t pos = 0;
  while (pos < resources.size()) {
    size_t eol = resources.find('\n', pos);
    if (eol == std::string_view::npos) eol = resources.size();
    std::string_view line = resources.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.substr(0, kKey.size()) != kKey) continue;
    std::string value(line.substr(kKey.size()));
    char* end = nullptr;
    double dpi = std::strtod(value.c_str(), &end);
    if (end == value.c_str() || !std::isfinite(dpi)) return std::nullopt;
    for (; *end; ++end)
      if (*end != ' ' && *end != '\t' && *end != '\r') return std::nullopt;
    if (dpi < 1.0 || dpi > 100000.0) return std::nullopt;
    return static_cast<int>(std::lround(dpi));
  }
  return std::nullopt;
}

int sane_dpi(std::optional<int> dpi) {
  // Below half or above five times the base the window would not fit any real screen.
  if (!dpi || *dpi < kBaseDpi / 2 || *dpi > kBaseDpi * 5) return kBaseDpi;
  return *dpi;
}

namespace {

// A measured DPI as a scale: to the nearest quarter, never below 1.
double measured_scale(double dpi) {
  if (!std::isfinite(dpi) || dpi <= 0.0) return 1.0;
  return std::max(1.0, std::round(dpi / kBaseDpi * 4.0) / 4.0);
}

std::optional<double> parse_number(const char* text, double low, double high) {
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || !std::isfinite(value) || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

float choose_scale(const ScaleInputs& in) {
  double scale = 1.0;
  if (in.setting > 0.0) {
    scale = in.setting;
  } else {
    if (in.gdk_scale)
      scale = *in.gdk_scale;
    else if (in.xft_dpi)
      scale = sane_dpi(in.xft_dpi) / static_cast<double>(kBaseDpi);
    else if (in.server_dpi)
      scale = measured_scale(*in.server_dpi);
    else if (in.display_dpi)
      scale = measured_scale(*in.display_dpi);
    if (in.gdk_dpi_scale) scale *= *in.gdk_dpi_scale;
  }
  return static_cast<float>(std::clamp(scale, 0.5, 5.0));
}

std::optional<int> parse_gdk_scale(const char* text) {
  const std::optional<double> v = parse_number(text, 1.0, 8.0);
  if (!v || *v != std::floor(*v)) return std::nullopt;
  return static_cast<int>(*v);
}

std::optional<double> parse_gdk_dpi_scale(const char* text) {
  return parse_number(text, 0.25, 8.0);
}

IntPoint fitted_size(const IntRect& work, int w, int h) {
  return {work.w > 0 ? std::min(w, work.w) : w, work.h > 0 ? std::min(h, work.h) : h};
}

IntPoint centred_position(const IntRect& work, int w, int h) {
  IntPoint p{work.x + (work.w - w) / 2, work.y + (work.h - h) / 2};
  if (p.x <= 0) p.x = work.x;
  if (p.y <= 0) p.y = work.y;
  return p;
}
