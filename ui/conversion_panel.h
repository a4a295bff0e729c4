// The conversion panel: directories, filter, encodings, start and stop, throughput, progress,
// and the log, report and preview tabs.
#pragma once

struct AppState;
class PreviewView;
class ReportView;

void draw_conversion_panel(AppState& app);
// The panel's report view, kept between frames.
ReportView& main_report_view();
// The panel's preview view, kept between frames.
PreviewView& main_preview_view();
