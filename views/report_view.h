// The report view: the last job's entries in a table, filtered by outcome and by text.
#pragma once

#include <memory>
#include <string>

#include "views/report_rows.h"

class ReportView {
 public:
  // Each frame, with AppState::last_report(): a report not seen before replaces the rows.
  // True when it should be brought forward: its job ran to the end and left files not
  // converted.
  bool update(const std::shared_ptr<const JobReport>& report);
  // The filters and the table, which fills the rest of the space.
  void draw();

  const ReportRows& rows() const { return rows_; }
  // Table rows submitted by the last draw (the clipper leaves out those out of sight).
  int rows_drawn() const { return rows_drawn_; }

 private:
  void draw_filters();
  void draw_outcome_combo();
  void draw_table();
  void draw_row(const ReportRow& row, bool evidence);

  ReportRows rows_;
  int outcome_ = kAllOutcomes;
  std::string text_;
  int rows_drawn_ = 0;
};
