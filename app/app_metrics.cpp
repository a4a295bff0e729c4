// Screen-derived sizes and window placement.
#include "app/app_metrics.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "app/app_state.h"

WindowMetrics metrics_for_dpi(int dpi) {
  WindowMetrics m;
  m.dpi_scale = static_cast<float>(dpi / 96.0);
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

IntPoint centred_position(const IntRect& work, int w, int h) {
  IntPoint p{work.x + (work.w - w) / 2, work.y + (work.h - h) / 2};
  if (p.x <= 0) p.x = work.x;
  if (p.y <= 0) p.y = work.y;
  return p;
}
