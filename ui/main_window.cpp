// The main window.
#include "ui/main_window.h"

#include <imgui.h>

#include "app/app_state.h"
#include "ui/conversion_panel.h"

bool draw_main_window(AppState& app, TitleDrag&) {
  draw_conversion_panel(app);
  return false;
}
