// The logical DPI from the X server's resource database.
#include "ui/screen_dpi.h"

#include <X11/Xlib.h>

#include <cstdlib>

#include "app/app_metrics.h"

std::optional<int> query_xft_dpi() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return std::nullopt;
  Display* display = XOpenDisplay(name);
  if (!display) return std::nullopt;
  std::optional<int> dpi;
  if (const char* resources = XResourceManagerString(display)) dpi = parse_xft_dpi(resources);
  XCloseDisplay(display);
  return dpi;
}
