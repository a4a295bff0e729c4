// The preview tab: filters over a sortable, clipped table with a per-row encoding choice and
// "leave out" box.
#include "views/preview_view.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <unordered_map>

#include "app/app_state.h"
#include "transcode/marks.h"
#include "util/i18n.h"
#include "util/strfmt.h"
#include "views/outcome_filter.h"
#include "widgets/glyph_demand.h"
#include "widgets/icons.h"
#include "widgets/ui_probe.h"

namespace {

const ImVec4 kLookColour(1.0f, 0.7f, 0.25f, 1.0f);
const ImVec4 kFailedColour(1.0f, 0.55f, 0.4f, 1.0f);
constexpr ImU32 kLookBackground = IM_COL32(140, 90, 0, 70);
constexpr int kColumns = 10;
// The headers in the order of PreviewColumn, untranslated: tests find them under these names.
constexpr const char* kColumnNames[kColumns] = {
    N_("Leave out"), N_("Path"), N_("Encoding"),  N_("Outcome"), N_("Sample"),
    N_("Evidence"),  N_("Size"), N_("Line Ends"), N_("Mark"),    N_("Rule")};

bool repairable(Outcome outcome) {
  return outcome == Outcome::double_encoded || outcome == Outcome::mixed;
}

void text_cell(std::string_view text) {
  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted(text.data(), text.data() + text.size());
}

void evidence_cell(const FileReport& row) {
  ImGui::AlignTextToFramePadding();
  // Sure evidence (a mark, valid UTF-8, ASCII) says 100; only the statistics' figure tells.
  if (row.confidence >= 0 && row.confidence < 100)
    ImGui::Text("%s %d", row.evidence.c_str(), row.confidence);
  else
    ImGui::TextUnformatted(row.evidence.c_str());
}

}  // namespace

const char* PreviewView::probe_id(const char* prefix, uint32_t index) {
  probe_.assign(prefix).append(rows_.path(index));
  return probe_.c_str();
}

void PreviewView::follow(const AppState& app) {
  const Preview* p = app.preview ? &*app.preview : nullptr;
  const void* data = p ? static_cast<const void*>(p->rows.data()) : nullptr;
  const size_t n = p ? p->rows.size() : 0;
  if (p == rows_.preview() && data == loaded_rows_ && n == loaded_count_) {
    if (p) take_rereads(*p);
    return;
  }
  rows_.load(p);
  loaded_rows_ = data;
  loaded_count_ = n;
  rereads_seen_ = p ? p->reread_arrived.size() : 0;
  encoding_index_.assign(n, -1);
  if (p) {
    why_.clear();
    resort_ = true;
    std::unordered_map<std::string_view, int32_t> positions;
    for (size_t i = app.encodings.size(); i-- > 0;)
      positions[app.encodings[i].name] = static_cast<int32_t>(i);  // the first of equal names
    for (size_t i = 0; i < n; ++i) {
      const auto it = positions.find(shown_encoding(p->rows[i], p->files[i]));
      if (it != positions.end()) encoding_index_[i] = it->second;
    }
  }
  // A choice the new preview has no row for would hide everything.
  if (!find_choice(rows_.choices(), outcome_)) outcome_ = kAllOutcomes;
  rows_.filter(outcome_, look_only_, text_);
}

void PreviewView::take_rereads(const Preview& p) {
  if (rereads_seen_ == p.reread_arrived.size()) return;
  for (size_t i = rereads_seen_; i < p.reread_arrived.size(); ++i)
    rows_.refresh(p.reread_arrived[i]);
  rereads_seen_ = p.reread_arrived.size();
  rows_.filter(outcome_, look_only_, text_);
}

void PreviewView::draw(AppState& app) {
  rows_drawn_ = 0;
  follow(app);
  if (!app.preview) {
    ImGui::TextDisabled("%s", why_.empty() ? _("No preview: press Preview to see each file's "
                                               "encoding and what Start Convert would do with it.")
                                           : why_.c_str());
    return;
  }
  draw_filters();
  draw_table(app);
}

void PreviewView::draw_outcome_combo() {
  if (outcome_combo("##preview_outcome", "preview.outcome", rows_.choices(), outcome_))
    rows_.filter(outcome_, look_only_, text_);
}

void PreviewView::draw_filters() {
  draw_outcome_combo();
  ImGui::SameLine();
  // "###look": the box is the same one whatever its count and language.
  char look[96];
  std::snprintf(look, sizeof look, _("Needs a look (%zu)"), rows_.look_count());
  std::snprintf(look_label_, sizeof look_label_, "%s###look", look);
  if (ImGui::Checkbox(look_label_, &look_only_)) rows_.filter(outcome_, look_only_, text_);
  ui_probe::item("preview.look");
  ImGui::SameLine();
  std::snprintf(count_text_, sizeof count_text_,
                P_("%zu of %zu files", "%zu of %zu files", rows_.size()), rows_.visible().size(),
                rows_.size());
  ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - ImGui::CalcTextSize(count_text_).x -
                          ImGui::GetStyle().ItemSpacing.x);
  glyph_demand::note(text_);
  if (ImGui::InputTextWithHint("##preview_text", _("path, encoding or sample contains..."), &text_))
    rows_.filter(outcome_, look_only_, text_);
  ui_probe::item("preview.text");
  ImGui::SameLine();
  ImGui::TextDisabled("%s", count_text_);
}

void PreviewView::sort_if_asked() {
  ImGuiTableSortSpecs* specs = ImGui::TableGetSortSpecs();
  if (!specs || (!specs->SpecsDirty && !resort_)) return;
  std::vector<PreviewSortKey> keys;
  for (int i = 0; i < specs->SpecsCount; ++i) {
    const ImGuiTableColumnSortSpecs& s = specs->Specs[i];
    keys.push_back({static_cast<PreviewColumn>(s.ColumnUserID),
                    s.SortDirection == ImGuiSortDirection_Descending});
  }
  rows_.sort(keys);
  specs->SpecsDirty = false;
  resort_ = false;
}

// The library's header row, spelled out so that tests can click each header.
void PreviewView::draw_headers() {
  ImGui::TableNextRow(ImGuiTableRowFlags_Headers);
  for (int c = 0; c < kColumns; ++c) {
    if (!ImGui::TableSetColumnIndex(c)) continue;
    ImGui::PushID(c);
    ImGui::TableHeader(ImGui::TableGetColumnName(c));
    ImGui::PopID();
    if (ui_probe::hook)
      ui_probe::item(probe_.assign("preview.header:").append(kColumnNames[c]).c_str());
  }
}

void PreviewView::draw_table(AppState& app) {
  const ImGuiTableFlags flags = ImGuiTableFlags_Sortable | ImGuiTableFlags_SortTristate |
                                ImGuiTableFlags_SortMulti | ImGuiTableFlags_ScrollX |
                                ImGuiTableFlags_ScrollY | ImGuiTableFlags_RowBg |
                                ImGuiTableFlags_BordersOuter | ImGuiTableFlags_BordersV |
                                ImGuiTableFlags_Resizable | ImGuiTableFlags_SizingFixedFit;
  if (!ImGui::BeginTable("##preview", kColumns, flags)) return;
  // The short columns as wide as their usual texts; path and sample share what is left.
  const ImGuiStyle& style = ImGui::GetStyle();
  const float leave_w = ImGui::CalcTextSize(_("Leave out")).x + ImGui::GetFontSize();  // + arrow
  const float size_w = ImGui::CalcTextSize("1023.9 KB").x;
  const float encoding_w =
      ImGui::CalcTextSize("BIG5-HKSCS").x + ImGui::GetFrameHeight() + style.FramePadding.x * 2.0f;
  const float evidence_w = ImGui::CalcTextSize("file statistics 00").x;
  const float outcome_w = ImGui::CalcTextSize("cannot-convert").x;
  const float spacing = static_cast<float>(kColumns) * (style.CellPadding.x * 2.0f + 1.0f);
  // Path and sample share what the other columns before the sample leave in view; evidence
  // and size lie to the right, a scroll away, and in every row's tooltip.
  const float rest = std::max(ImGui::GetContentRegionAvail().x - leave_w - encoding_w - outcome_w -
                                  spacing - style.ScrollbarSize,
                              ImGui::GetFontSize() * 20.0f);
  // A header in another language may be wider than the column's usual text: its arrow too.
  const auto column = [](PreviewColumn id, float width) {
    const char* name = _(kColumnNames[static_cast<size_t>(id)]);
    width = std::max(width, ImGui::CalcTextSize(name).x + ImGui::GetFontSize());
    ImGui::TableSetupColumn(name, ImGuiTableColumnFlags_WidthFixed, width,
                            static_cast<ImGuiID>(id));
  };
  ImGui::TableSetupScrollFreeze(2, 1);  // the box, the path and the header stay in view
  column(PreviewColumn::leave_out, leave_w);
  column(PreviewColumn::path, rest * 0.4f);
  column(PreviewColumn::encoding, encoding_w);
  column(PreviewColumn::outcome, outcome_w);
  column(PreviewColumn::sample, rest * 0.6f);
  column(PreviewColumn::evidence, evidence_w);
  column(PreviewColumn::size, size_w);
  column(PreviewColumn::line_ends, ImGui::CalcTextSize("CRLF 00000 -> LF 00000").x);
  column(PreviewColumn::mark, ImGui::CalcTextSize(_("none")).x + ImGui::CalcTextSize(" -> BOM").x);
  column(PreviewColumn::rule, ImGui::CalcTextSize("rule 10: *.cpp;*.h;*.hpp").x);
  draw_headers();
  sort_if_asked();

  const std::vector<uint32_t>& visible = rows_.visible();
  ImGuiListClipper clipper;
  clipper.Begin(static_cast<int>(visible.size()));
  while (clipper.Step()) {
    for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i)
      draw_row(app, visible[static_cast<size_t>(i)]);
    rows_drawn_ += std::max(0, clipper.DisplayEnd - clipper.DisplayStart);
  }
  ImGui::EndTable();
  ui_probe::item("preview.table");
}

void PreviewView::draw_row(AppState& app, uint32_t index) {
  PlannedFile& file = app.preview->files[index];
  const bool look = needs_look(app.preview->rows[index], file);
  ImGui::TableNextRow(ImGuiTableRowFlags_None, ImGui::GetFrameHeight());
  if (look) ImGui::TableSetBgColor(ImGuiTableBgTarget_RowBg1, kLookBackground);
  ImGui::PushID(static_cast<int>(index));
  const bool left_out = file.excluded;
  if (left_out)
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled));

  ImGui::TableNextColumn();
  // The whole row answers the pointer (its tooltip); the widgets on it stay usable.
  ImGui::Selectable("##row", false,
                    ImGuiSelectableFlags_SpanAllColumns | ImGuiSelectableFlags_AllowItemOverlap,
                    ImVec2(0.0f, ImGui::GetFrameHeight()));
  const bool hovered = ImGui::IsItemHovered();
  draw_row_menu(app, index);
  ImGui::SameLine(0.0f, 0.0f);
  if (ImGui::Checkbox("##skip", &file.excluded)) rows_.refresh(index);
  if (ui_probe::hook) ui_probe::item(probe_id("preview.skip:", index));

  ImGui::TableNextColumn();
  if (look) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(kLookColour, "%s", ICON_WARNING);
    ImGui::SameLine();
  }
  const std::string& path = rows_.path(index);
  glyph_demand::note(path);
  text_cell(path);
  if (ui_probe::hook) {
    // What a script checks: "preview.row:<path>|<encoding>|<evidence>|<outcome>".
    const FileReport& row = app.preview->rows[index];
    probe_id("preview.row:", index);
    probe_.append(1, '|').append(shown_encoding(row, file)).append(1, '|').append(row.evidence);
    probe_.append(1, '|').append(outcome_name(shown_outcome(row, file)));
    ui_probe::item(probe_.c_str());
  }

  ImGui::TableNextColumn();
  draw_encoding(app, index);  // may read the file again: `row` is taken only after it
  const FileReport& row = app.preview->rows[index];
  ImGui::TableNextColumn();
  const Outcome outcome = shown_outcome(row, file);
  const bool failed = outcome_is_failure(outcome);
  if (repairable(outcome)) {
    // The row's own opt-in: this file is repaired whatever the run's setting.
    ImGui::Checkbox("##repair", &file.repair);
    if (ui_probe::hook) ui_probe::item(probe_id("preview.repair:", index));
    if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", _("Repair this file when converting"));
    ImGui::SameLine();
  }
  if (failed) ImGui::PushStyleColor(ImGuiCol_Text, kFailedColour);
  text_cell(outcome_name(outcome));
  if (failed) ImGui::PopStyleColor();
  ImGui::TableNextColumn();
  const std::string* shown = &row.sample;
  if (!row.repaired_sample.empty()) {
    // Before and after the repair, side by side.
    before_after_.assign(row.sample).append("  \u2192  ").append(row.repaired_sample);
    shown = &before_after_;
  }
  // Read again with the encoding just chosen, on the worker: the old sample would mislead.
  const bool reading = app.preview->rereading_row(index);
  std::string reading_text;
  if (reading) shown = &(reading_text = _("reading again..."));
  glyph_demand::note(*shown);
  if (reading)
    ImGui::PushStyleColor(ImGuiCol_Text, ImGui::GetStyleColorVec4(ImGuiCol_TextDisabled));
  text_cell(*shown);
  if (reading) ImGui::PopStyleColor();
  if (ui_probe::hook) {
    // "preview.sample:<path>|<sample>": what the row shows in its sample cell.
    probe_id("preview.sample:", index);
    ui_probe::item(probe_.append(1, '|').append(*shown).c_str());
  }
  ImGui::TableNextColumn();
  evidence_cell(row);
  ImGui::TableNextColumn();
  char size[32];
  size_text(row.bytes, size, sizeof size);
  text_cell(size);
  ImGui::TableNextColumn();
  text_cell(eol_change_text(row));
  ImGui::TableNextColumn();
  text_cell(mark_change_text(row));
  ImGui::TableNextColumn();
  text_cell(row.rule);
  if (ui_probe::hook) {
    // "preview.rule:<path>|<rule>|<target>": what decided the row, and what it is written as.
    probe_id("preview.rule:", index);
    ui_probe::item(
        probe_.append(1, '|').append(row.rule).append(1, '|').append(row.target).c_str());
  }

  if (left_out) ImGui::PopStyleColor();
  if (hovered) draw_tooltip(index);
  ImGui::PopID();
}

void PreviewView::draw_encoding(AppState& app, uint32_t index) {
  const std::string& shown = shown_encoding(app.preview->rows[index], app.preview->files[index]);
  const char* absent = shown.empty() ? "?" : shown.c_str();  // undetected, or not listed
  EncodingChooserIds ids{"##enc", "preview.enc", "preview.enc_popup", "preview.enc_filter"};
  if (ui_probe::hook) ids.probe = probe_id("preview.enc:", index);
  int32_t chosen = encoding_index_[index];
  ImGui::SetNextItemWidth(-FLT_MIN);
  if (!chooser_.draw(ids, chosen, app.encodings, absent)) return;
  const EncodingEntry* entry = entry_at(app.encodings, chosen);
  if (!entry) return;
  app.set_preview_source(index, *entry);  // reads the file again: outcome and sample anew
  encoding_index_[index] = chosen;
  rows_.refresh(index);
}

void PreviewView::draw_row_menu(AppState& app, uint32_t index) {
  // Only rows detection was unsure of, or whose encoding a person chose, have the menu.
  const FileReport& row = app.preview->rows[index];
  if (!outcome_is_unsettled(row.outcome) && row.evidence != "guess" &&
      app.preview->files[index].evidence != "override")
    return;
  if (!ImGui::BeginPopupContextItem("##row_menu")) return;
  const EncodingEntry* entry = entry_at(app.encodings, encoding_index_[index]);
  const std::string& folder = app.preview->files[index].relative_dir;
  menu_label_ =
      entry ? kestrum::strfmt(_("Read the files of %s that need a look as %s"),
                              folder.empty() ? _("the top folder") : ("\"" + folder + "\"").c_str(),
                              entry->name.c_str())
            : std::string(_("Choose this file's encoding first, then use it for its folder"));
  glyph_demand::note(menu_label_);
  if (ImGui::MenuItem(menu_label_.c_str(), nullptr, false, entry != nullptr) && entry &&
      app.set_preview_folder_source(index, *entry) > 0) {
    const std::vector<PlannedFile>& files = app.preview->files;
    for (uint32_t i = 0; i < files.size(); ++i) {
      if (i == index || files[i].relative_dir != folder || files[i].evidence != "override" ||
          files[i].source.name != entry->name)
        continue;
      encoding_index_[i] = encoding_index_[index];
      rows_.refresh(i);
    }
  }
  if (ui_probe::hook) ui_probe::item(probe_id("preview.folder:", index));
  ImGui::EndPopup();
}

void PreviewView::draw_tooltip(uint32_t index) const {
  const Preview& p = *rows_.preview();
  const FileReport& row = p.rows[index];
  const PlannedFile& file = p.files[index];
  const std::string& encoding = shown_encoding(row, file);
  ImGui::BeginTooltip();
  ImGui::PushTextWrapPos(ImGui::GetFontSize() * 40.0f);
  ImGui::TextUnformatted(rows_.path(index).c_str());
  if (row.outcome == Outcome::ambiguous && encoding.empty())
    ImGui::TextUnformatted(
        _("Not sure: candidates read it as different text (the sample shows each). Choose its "
          "encoding, or leave it out."));
  else if (encoding.empty())
    ImGui::TextUnformatted(_("No candidate encoding reads it: choose one, or leave it out."));
  else if (read_by_repair(row))
    ImGui::Text(_("Read as %s %s."), encoding.c_str(), read_by_text(row).c_str());
  else if (row.confidence >= 0 && row.confidence < kLowConfidence)
    ImGui::Text(_("Read as %s with a confidence of only %d: check the sample, or choose the "
                  "encoding."),
                encoding.c_str(), row.confidence);
  else
    ImGui::Text(_("Read as %s (%s)."), encoding.c_str(), row.evidence.c_str());
  char size[32];
  size_text(row.bytes, size, sizeof size);
  const std::string_view outcome = outcome_name(shown_outcome(row, file));
  ImGui::Text("%s, %.*s", size, static_cast<int>(outcome.size()), outcome.data());
  if (row.eol_counted) ImGui::Text(_("Line ends: %s"), eol_change_text(row).c_str());
  if (row.mark_known) ImGui::Text(_("Mark: %s"), mark_change_text(row).c_str());
  if (!row.rule.empty())
    ImGui::Text(_("Written as %s, decided by %s"), row.target.c_str(), row.rule.c_str());
  for (const std::string* text : {&row.detection_note, &row.note}) {
    if (text->empty()) continue;
    glyph_demand::note(*text);
    ImGui::TextUnformatted(text->c_str());
  }
  if (!row.repaired_sample.empty()) {
    ImGui::Separator();
    ImGui::Text(_("Now: %s"), row.sample.c_str());
    ImGui::Text(_("Repaired: %s"), row.repaired_sample.c_str());
    if (file.repair) ImGui::TextUnformatted(_("This file will be repaired."));
  } else if (!row.sample.empty()) {
    ImGui::Separator();
    ImGui::TextUnformatted(row.sample.c_str());
  }
  ImGui::PopTextWrapPos();
  ImGui::EndTooltip();
}
