// The window's own state, kept between frames and handed to the widgets that draw it.
#pragma once

#include <string>

#include "ui/undo_dialog.h"
#include "views/log_view.h"
#include "views/preview_view.h"
#include "views/progress_text.h"
#include "views/report_view.h"
#include "views/rules_table.h"
#include "widgets/candidate_chooser.h"
#include "widgets/drop_target.h"
#include "widgets/encoding_chooser.h"
#include "widgets/file_dialog.h"
#include "widgets/filter_items.h"

// The conversion panel's: where drops land, the encoding lists, the candidates, the job's
// clock, the report and the preview.
struct PanelState {
  DropZones zones;
  FilterItems filters;
  EncodingChooser from, to;
  CandidateChooser candidates;
  JobTimer timer;
  std::string progress_text;
  char speed_text[128] = {};
  ReportView report;
  PreviewView preview;
  RulesTable rules;
  bool bring_log = false;  // a conversion started from the preview: its progress is in the log
  // Set while drawing when one more frame is wanted (what this one set up shows only then);
  // the frame loop takes it after the frame.
  bool next_frame = false;
};

struct WindowState {
  WindowState();  // the dialog's colours

  FileDialog dialog;  // one chooser open at a time: directories, settings, report
  DroppedPaths drops;
  LogView log_view;
  PanelState panel;
  UndoDialog undo;  // File > Undo Last Conversion's confirmation
};
