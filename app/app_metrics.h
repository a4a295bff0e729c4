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
// The same for a scale of the 96-DPI size (2 -> 1600 x 1000 and 30 px).
WindowMetrics metrics_for_scale(float scale);

// What the desktop says of its scale, each absent when not said.
struct ScaleInputs {
  double setting = 0.0;                 // `scale:` of the settings; 0: not set
  std::optional<int> gdk_scale;         // GDK_SCALE: the whole-number window scale
  std::optional<double> gdk_dpi_scale;  // GDK_DPI_SCALE: the text scale on top of it
  std::optional<int> xft_dpi;           // the X resource Xft.dpi
  std::optional<double> server_dpi;     // the X server's screen: pixels per inch of its size
  std::optional<double> display_dpi;    // SDL's display DPI, where there is no X server
};

// The window's scale: the setting, else GDK_SCALE, else Xft.dpi, else the screen's own DPI
// (rounded to a quarter, never below 1: servers that know no size say 96 or 100), times
// GDK_DPI_SCALE; kept between 0.5 and 5.
float choose_scale(const ScaleInputs& in);
// GDK_SCALE's value: a whole number from 1 to 8; GDK_DPI_SCALE's: a number from 0.25 to 8.
std::optional<int> parse_gdk_scale(const char* text);
std::optional<double> parse_gdk_dpi_scale(const char* text);
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

// The size of a w x h window cut to the work area (x: width, y: height).
IntPoint fitted_size(const IntRect& work, int w, int h);
// Centre of `work` for a w x h window, integer division toward zero; a coordinate that is
// not greater than 0 becomes the work area's own edge.
IntPoint centred_position(const IntRect& work, int w, int h);
