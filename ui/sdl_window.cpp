// The borderless main window, its OpenGL context and the title-bar drag.
#include "ui/sdl_window.h"

#include <SDL.h>

#include <cstdlib>

#include "app/app_metrics.h"
#include "app/app_state.h"
#include "ui/main_window.h"
#include "util/i18n.h"

namespace {

constexpr const char* kTitle = "varnel Encoding Convert Tool v3.0";

std::string sdl_error(const char* what) {
  std::string msg = std::string(what) + ": " + SDL_GetError();
  for (char& c : msg)
    if (c == '\n' || c == '\r') c = ' ';
  return msg;
}

SDL_HitTestResult title_hit_test(SDL_Window*, const SDL_Point* point, void* data) {
  const auto* drag = static_cast<const TitleDrag*>(data);
  if (drag && drag->enabled && point->y >= 0 && static_cast<float>(point->y) < drag->strip_height &&
      static_cast<float>(point->x) < drag->close_button_x)
    return SDL_HITTEST_DRAGGABLE;
  return SDL_HITTEST_NORMAL;
}

bool env_set(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// Without a display SDL would fall back to its off-screen driver and run an invisible window
// nobody can close; only a real display is accepted unless the user names a driver.
bool choose_video_drivers(std::string& error) {
  if (env_set("SDL_VIDEODRIVER")) return true;
  std::string drivers;
  if (env_set("DISPLAY")) drivers = "x11";
  if (env_set("WAYLAND_DISPLAY")) drivers += drivers.empty() ? "wayland" : ",wayland";
  if (drivers.empty()) {
    error = _("cannot start SDL video: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)");
    return false;
  }
  SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
  return true;
}

}  // namespace

bool start_sdl(std::string& error) {
  // The X11 WM_CLASS of the window, unless the user chose one.
  setenv("SDL_VIDEO_X11_WMCLASS", "ouzeltool", 0);
  if (!choose_video_drivers(error)) return false;
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
    error = sdl_error(_("cannot start SDL video"));
    return false;
  }
  return true;
}

const char* glsl_version() { return "#version 130"; }

bool create_main_window(const AppState& app, MainWindow& win, std::string& error) {
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, 0);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);

  const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN;
  win.window = SDL_CreateWindow(kTitle, 100, 100, app.window_width, app.window_height, flags);
  if (!win.window) {
    error = sdl_error(_("cannot create the window"));
    return false;
  }
  win.gl_context = SDL_GL_CreateContext(win.window);
  if (!win.gl_context) {
    // Some drivers offer core profiles only from 3.2 on; 3.0 without a profile does as well.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, 0);
    win.gl_context = SDL_GL_CreateContext(win.window);
  }
  if (!win.gl_context) {
    error = sdl_error(_("cannot create the OpenGL context"));
    return false;
  }
  SDL_GL_MakeCurrent(win.window, win.gl_context);
  // Folders dropped from a file manager name the input or output directory.
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  SDL_GL_SetSwapInterval(1);  // paced by the vertical blank; not every driver honours it
  return true;
}

void place_and_show(SDL_Window* window) {
  SDL_Rect bounds{};
  if (SDL_GetDisplayUsableBounds(0, &bounds) != 0) SDL_GetDisplayBounds(0, &bounds);
  int w = 0, h = 0;
  SDL_GetWindowSize(window, &w, &h);
  const IntRect work{bounds.x, bounds.y, bounds.w, bounds.h};
  // A scaled window larger than the screen is cut to it rather than left overhanging.
  const IntPoint size = fitted_size(work, w, h);
  if (size.x != w || size.y != h) SDL_SetWindowSize(window, w = size.x, h = size.y);
  const IntPoint p = centred_position(work, w, h);
  SDL_SetWindowPosition(window, p.x, p.y);
  SDL_ShowWindow(window);
}

void install_title_drag(SDL_Window* window, const TitleDrag* drag) {
  // Important: SDL hands the left-button press of a draggable point to the window manager
  // and never reports it to the GUI, so the GUI is not left with a button held down.
  SDL_SetWindowHitTest(window, &title_hit_test, const_cast<TitleDrag*>(drag));
}

void destroy_main_window(MainWindow& win) {
  if (win.gl_context) SDL_GL_DeleteContext(win.gl_context);
  if (win.window) SDL_DestroyWindow(win.window);
  win = MainWindow{};
}

void stop_sdl() { SDL_Quit(); }
