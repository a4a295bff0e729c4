// File > Undo Last Conversion and its confirmation: how many files go back, which cannot.
#pragma once

#include <optional>

#include "report/report.h"

struct AppState;

struct UndoDialog {
  std::optional<JobReport> look;  // what undoing would do, while the confirmation is open
};

// The File menu's item: enabled while the input directory keeps a run in place and no job
// runs; it has the run looked at on the worker first.
void draw_undo_menu_item(AppState& app);

// Takes over the look once it arrives and draws the confirmation (at the main window's level);
// Undo starts the undo of that run. True when one more frame is wanted.
bool draw_undo_dialog(AppState& app, UndoDialog& dialog);
