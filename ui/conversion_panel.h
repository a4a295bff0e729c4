// The conversion panel: directories, filter, encodings, start and stop, throughput, progress,
// and the log, report and preview tabs.
#pragma once

struct AppState;
struct WindowState;

void draw_conversion_panel(AppState& app, WindowState& window);
