// Screen-derived sizes and window placement: plain arithmetic, no window system.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct AppState;

constexpr int kBaseDpi = 96;

struct WindowMetrics {
  float dpi_scale = 1.0f;
  int32_t window_width = 800;
  int32_t window_height = 500;
  float font_size = 15.0f;
};

// 96 -> 800 x 500 and 15 px; sizes truncated toward zero, the font size not rounded.
WindowMetrics metrics_for_dpi(int dpi);
void apply_metrics(AppState& app, const WindowMetrics& m);

// The "Xft.dpi" value of an X resource-manager string ("Xft.dpi:\t120\n..."), rounded.
std::optional<int> parse_xft_dpi(std::string_view resources);
// A DPI that would make an unusable window (absent, zero, absurd) becomes 96.
int sane_dpi(std::optional<int> dpi);

struct IntRect {
  int x = 0, y = 0, w = 0, h = 0;
};
struct IntPoint {
  int x = 0, y = 0;
};

// Centre of `work` for a w x h window, integer division toward zero; a coordinate that is
// not greater than 0 becomes the work area's own edge.
IntPoint centred_position(const IntRect& work, int w, int h);
