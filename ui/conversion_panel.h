// The conversion panel: directories, filter, encodings, start, throughput, progress, log.
#pragma once

struct AppState;

void draw_conversion_panel(AppState& app);
