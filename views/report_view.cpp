// The report view: filters over a clipped, scrolling table of the last job's entries.
#include "views/report_view.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>

#include "transcode/marks.h"
#include "util/i18n.h"
#include "views/outcome_filter.h"
#include "widgets/glyph_demand.h"
#include "widgets/ui_probe.h"

namespace {

void text_cell(const std::string& text) {
  ImGui::TextUnformatted(text.data(), text.data() + text.size());
}

}  // namespace

bool ReportView::update(const std::shared_ptr<const JobReport>& report) {
  if (report == rows_.report()) return false;
  rows_.load(report);
  // A choice the new report has no entry for would hide everything.
  if (!find_choice(rows_.choices(), outcome_)) outcome_ = kAllOutcomes;
  rows_.apply(outcome_, text_);
  return report && !report->stopped && report->failures() > 0;
}

void ReportView::draw() {
  rows_drawn_ = 0;
  if (!rows_.report()) {
    ImGui::TextDisabled("%s", _("No job has run yet."));
    return;
  }
  if (!rows_.report()->ran) {  // its log line said why
    ImGui::TextDisabled("%s", _("The last job ended before its search: nothing to report."));
    return;
  }
  draw_filters();
  draw_table();
}

void ReportView::draw_outcome_combo() {
  if (outcome_combo("##report_outcome", "report.outcome", rows_.choices(), outcome_))
    rows_.apply(outcome_, text_);
}

void ReportView::draw_filters() {
  draw_outcome_combo();
  ImGui::SameLine();
  ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x * 0.5f);
  glyph_demand::note(text_);
  if (ImGui::InputTextWithHint("##report_text", _("path or detail contains..."), &text_))
    rows_.apply(outcome_, text_);
  ui_probe::item("report.text");
  ImGui::SameLine();
  ImGui::TextDisabled(P_("%zu of %zu entries", "%zu of %zu entries", rows_.size()),
                      rows_.visible().size(), rows_.size());
}

void ReportView::draw_row(const ReportRow& row, bool evidence) {
  const FileReport& entry = *row.entry;
  ImGui::TableNextRow();
  ImGui::TableNextColumn();
  glyph_demand::note(row.path);
  text_cell(row.path);
  if (ui_probe::hook) ui_probe::item(("report.row:" + row.path).c_str());
  ImGui::TableNextColumn();
  const bool failed = outcome_is_failure(entry.outcome);
  if (failed) ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(1.0f, 0.55f, 0.4f, 1.0f));
  const std::string_view outcome = outcome_name(entry.outcome);
  ImGui::TextUnformatted(outcome.data(), outcome.data() + outcome.size());
  if (failed) ImGui::PopStyleColor();
  ImGui::TableNextColumn();
  glyph_demand::note(row.detail);
  text_cell(row.detail);
  if (evidence) {
    ImGui::TableNextColumn();
    text_cell(entry.evidence);
    ImGui::TableNextColumn();
    text_cell(row.confidence);
  }
  ImGui::TableNextColumn();
  text_cell(entry.source);
  ImGui::TableNextColumn();
  text_cell(entry.target);
  ImGui::TableNextColumn();
  text_cell(eol_change_text(entry));
  ImGui::TableNextColumn();
  text_cell(mark_change_text(entry));
}

void ReportView::draw_table() {
  const bool evidence = rows_.has_evidence();
  const int columns = evidence ? 9 : 7;
  const ImGuiTableFlags flags = ImGuiTableFlags_ScrollX | ImGuiTableFlags_ScrollY |
                                ImGuiTableFlags_RowBg | ImGuiTableFlags_BordersOuter |
                                ImGuiTableFlags_BordersV | ImGuiTableFlags_Resizable |
                                ImGuiTableFlags_SizingFixedFit;
  if (!ImGui::BeginTable("##report", columns, flags)) return;
  // The short columns as wide as their usual texts; path and detail share what is left, so
  // the whole table starts in view. Every column can be widened.
  const float outcome_width = ImGui::CalcTextSize("cannot-convert").x;
  const float name_width = ImGui::CalcTextSize("SHIFT_JIS").x;
  const float evidence_width = evidence ? ImGui::CalcTextSize(_("Confidence")).x * 2.0f : 0.0f;
  const ImGuiStyle& style = ImGui::GetStyle();
  const float spacing = static_cast<float>(columns) * (style.CellPadding.x * 2.0f + 1.0f);
  const float rest = std::max(ImGui::GetContentRegionAvail().x - outcome_width - 2.0f * name_width -
                                  evidence_width - spacing - style.ScrollbarSize,
                              ImGui::GetFontSize() * 20.0f);
  // A header in another language may be wider than the column's usual text.
  const auto column = [](const char* name, float width) {
    ImGui::TableSetupColumn(name, ImGuiTableColumnFlags_WidthFixed,
                            std::max(width, ImGui::CalcTextSize(name).x));
  };
  ImGui::TableSetupScrollFreeze(1, 1);  // the path and the header stay in view
  column(_("Path"), rest * 0.55f);
  column(_("Outcome"), outcome_width);
  column(_("Detail"), rest * 0.45f);
  if (evidence) {
    column(_("Evidence"), evidence_width * 0.5f);
    column(_("Confidence"), evidence_width * 0.5f);
  }
  column(_("Source"), name_width);
  column(_("Target"), name_width);
  column(_("Line Ends"), ImGui::CalcTextSize("CRLF 00000 -> LF 00000").x);
  column(_("Mark"), ImGui::CalcTextSize(_("none")).x + ImGui::CalcTextSize(" -> BOM").x);
  ImGui::TableHeadersRow();

  const std::vector<uint32_t>& visible = rows_.visible();
  ImGuiListClipper clipper;
  clipper.Begin(static_cast<int>(visible.size()));
  while (clipper.Step()) {
    for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i)
      draw_row(rows_.row(visible[static_cast<size_t>(i)]), evidence);
    rows_drawn_ += std::max(0, clipper.DisplayEnd - clipper.DisplayStart);
  }
  ImGui::EndTable();
  ui_probe::item("report.table");
}
