// The conversion panel.
#include "ui/conversion_panel.h"

#include <imgui.h>

#include "app/app_state.h"

void draw_conversion_panel(AppState&) {}
