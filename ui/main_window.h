// The full-size main window: title bar, "File" menu, save chooser and the panel.
#pragma once

struct AppState;

// Where a press may drag the OS window; computed every frame, read by the window's hit test.
struct TitleDrag {
  float strip_height = 0.0f;  // title bar height in pixels
  bool enabled = false;       // main window focused and no dialog open
};

// Returns true when the user asked to quit in this frame, after the settings were saved.
bool draw_main_window(AppState& app, TitleDrag& drag);
