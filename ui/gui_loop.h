// The GUI context on the main window, the frame loop and the GUI's shutdown.
#pragma once

#include <string>

struct AppState;
struct MainWindow;
struct TitleDrag;

// Context with keyboard navigation and edge resizing, the dark colours, both back ends.
// False with `error` set, and nothing left to shut down, when the renderer cannot start.
bool start_gui(const MainWindow& win, std::string& error);
// Runs until the window system asks to quit (nothing saved) or the main window returns true.
// A quit during a job stops it and keeps the window, with a notice, until the job has ended.
void run_frame_loop(AppState& app, const MainWindow& win, TitleDrag& drag);
// Renderer back end, platform back end, then the context.
void stop_gui();
