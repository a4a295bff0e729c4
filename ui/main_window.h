// The full-size main window: title bar, "File" menu, save chooser and the panel.
#pragma once

#include <cfloat>

struct AppState;
struct WindowState;

// Where a press may drag the OS window; computed every frame, read by the window's hit test.
struct TitleDrag {
  float strip_height = 0.0f;  // title bar height in pixels
  bool enabled = false;       // main window focused and no dialog open
  // Important: a press handed to the window manager never reaches the GUI, so the close
  // button (from this x to the right edge) must stay out of the draggable strip.
  float close_button_x = FLT_MAX;
};

inline constexpr const char* kMainWindowTitle = "varnel Encoding Convert Tool v3.0";

// Returns true when the user asked to quit in this frame, after the settings were saved.
bool draw_main_window(AppState& app, WindowState& window, TitleDrag& drag);
