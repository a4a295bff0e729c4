// The conversion panel: directories, filter, encodings, start and stop, throughput, progress,
// and the log and report tabs.
#pragma once

struct AppState;
class ReportView;

void draw_conversion_panel(AppState& app);
// The panel's report view, kept between frames.
ReportView& main_report_view();
