// The desktop's scale, read from the environment, the X server and SDL.
#include "ui/screen_dpi.h"

#include <SDL.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace {

// Xft.dpi and the screen's pixels per inch of its size in millimetres, from one connection.
void query_x_server(ScaleInputs& in) {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name) return;
  Display* display = XOpenDisplay(name);
  if (!display) return;
  if (const char* resources = XResourceManagerString(display))
    in.xft_dpi = parse_xft_dpi(resources);
  const int screen = DefaultScreen(display);
  const int mm = DisplayWidthMM(display, screen);
  if (mm > 0) in.server_dpi = DisplayWidth(display, screen) * 25.4 / mm;
  XCloseDisplay(display);
}

}  // namespace

ScaleInputs query_scale_inputs(double setting) {
  ScaleInputs in;
  in.setting = setting;
  in.gdk_scale = parse_gdk_scale(std::getenv("GDK_SCALE"));
  in.gdk_dpi_scale = parse_gdk_dpi_scale(std::getenv("GDK_DPI_SCALE"));
  query_x_server(in);
  // Important: on X11 SDL derives its DPI from the same screen size; it is asked only where
  // there is no X server to ask (Wayland).
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!in.server_dpi && driver && SDL_strcmp(driver, "x11") != 0) {
    float ddpi = 0.0f;
    if (SDL_GetDisplayDPI(0, &ddpi, nullptr, nullptr) == 0 && ddpi > 0.0f) in.display_dpi = ddpi;
  }
  return in;
}
