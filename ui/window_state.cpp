// The window's own state: what it starts with.
#include "ui/window_state.h"

WindowState::WindowState() {
  dialog.set_extension_info(".cpp", ImVec4(1.0f, 1.0f, 0.0f, 0.9f), "");
}
