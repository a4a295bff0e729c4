// Process entry: the application object, the window, the GUI and the frame loop.
#include <cstdio>
#include <string>

#include "app/app_metrics.h"
#include "app/app_state.h"
#include "ui/fonts.h"
#include "ui/gui_loop.h"
#include "ui/main_window.h"
#include "ui/screen_dpi.h"
#include "ui/sdl_window.h"
#include "util/i18n.h"

namespace {

int fail(MainWindow& win, const std::string& error) {
  destroy_main_window(win);
  stop_sdl();
  std::fprintf(stderr, "ouzeltool: %s\n", error.c_str());
  return 1;
}

}  // namespace

int main() {
  i18n::start(i18n::Output::window);  // before the settings' first log line
  AppState app;                       // settings loaded before any window exists

  MainWindow win;
  std::string error;
  if (!start_sdl(error)) {
    std::fprintf(stderr, "ouzeltool: %s\n", error.c_str());
    return 1;
  }
  apply_metrics(app, metrics_for_scale(choose_scale(query_scale_inputs(app.scale))));
  if (!create_main_window(app, win, error)) return fail(win, error);

  TitleDrag drag;  // written by the main window each frame, read by the hit test
  install_title_drag(win.window, &drag);
  place_and_show(win.window);

  if (!start_gui(win, error)) return fail(win, error);
  setup_fonts_and_style(app);
  run_frame_loop(app, win, drag);

  stop_gui();
  destroy_main_window(win);
  stop_sdl();
  // Important: a job may still run on the worker thread; it must be finished before the
  // application object it writes to goes away.
  app.stop_worker();
  return 0;
}
