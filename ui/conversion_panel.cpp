// The conversion panel: directories, filter, encodings, start and stop, throughput, progress,
// and the log, report and preview tabs.
#include "ui/conversion_panel.h"

#include <imgui.h>
#include <imgui_internal.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "app/app_state.h"
#include "ui/window_state.h"
#include "util/i18n.h"
#include "views/progress_text.h"
#include "views/throughput.h"
#include "widgets/glyph_demand.h"
#include "widgets/icons.h"
#include "widgets/ui_probe.h"

namespace {

struct DirectoryRow {
  const char* field_id;           // hidden label of the text field
  const char* button;             // label of the chooser button
  const std::string& dialog_key;  // a string made once: Display runs every frame
  const char* probe_field;        // probe names for tests
  const char* probe_button;
};

const std::string kInputKey = "ChooseInputDir";
const std::string kOutputKey = "ChooseOutputDir";
const DirectoryRow kInputRow{"##1", N_("Choose Input Directory"), kInputKey, "input_dir",
                             "choose_input"};
const DirectoryRow kOutputRow{"##2", N_("Choose Output Directory"), kOutputKey, "output_dir",
                              "choose_output"};

void open_directory_chooser(const AppState& app, FileDialog& dialog, const std::string& key) {
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Always,
                          ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(500.0f * app.dpi_scale, 300.0f * app.dpi_scale),
                           ImGuiCond_Always);
  // No filter list: a directory chooser.
  dialog.open_modal(key, std::string(ICON_FOLDER_OPEN) + _("Choose a Directory"), nullptr, ".", "",
                    1, nullptr, FileDialog::None);
}

// Draws one row; returns its rectangle (field and button).
ImRect draw_directory_row(const AppState& app, FileDialog& dialog, const DirectoryRow& row,
                          std::string& field) {
  glyph_demand::note(field);
  ImGui::InputText(row.field_id, &field);
  ui_probe::item(row.probe_field);
  const ImVec2 min = ImGui::GetItemRectMin();
  ImGui::SameLine();
  if (ImGui::Button(_(row.button))) open_directory_chooser(app, dialog, row.dialog_key);
  ui_probe::item(row.probe_button);
  const ImRect rect(min, ImGui::GetItemRectMax());

  if (dialog.display(row.dialog_key)) {
    // A cancelled chooser leaves the field as it was.
    if (dialog.is_ok()) field = dialog.current_path();
    dialog.close();
  }
  return rect;
}

struct ComboWidget {
  const char* label;        // untranslated
  const char* probe;        // the closed combo; its items as "<probe>:<item>", untranslated
  const char* popup_probe;  // the open list's window
  bool translated;          // its items are words, shown in the user's language
};

constexpr ComboWidget kFilterCombo{N_("Filter"), "filter", "filter_popup", false};
constexpr EncodingChooserIds kFromCombo{N_("From Encoding"), "from", "from_popup", "from_filter"};
constexpr EncodingChooserIds kToCombo{N_("To Encoding"), "to", "to_popup", "to_filter"};
constexpr ComboWidget kEolCombo{N_("Line Endings"), "eol", "eol_popup", true};
// In the order of EolMode; LF and CRLF are names.
constexpr const char* kEolItems[] = {N_("Keep"), "LF", "CRLF"};
constexpr ComboWidget kBomCombo{N_("Marks"), "bom", "bom_popup", true};
// In the order of BomMode.
constexpr const char* kBomItems[] = {N_("Keep"), N_("Add"), N_("Remove")};

const char* shown_item(const ComboWidget& combo, const char* item) {
  return combo.translated ? _(item) : item;
}

// The chooser with its label in the user's language.
EncodingChooserIds translated(EncodingChooserIds ids) {
  ids.label = _(ids.label);
  return ids;
}

// As wide as `fixed`, or wider when an item would not show whole (a longer translation).
float combo_width(const ComboWidget& combo, std::span<const char* const> items, float fixed) {
  float longest = 0.0f;
  for (const char* item : items)
    longest = std::max(longest, ImGui::CalcTextSize(shown_item(combo, item)).x);
  const float needed = longest + ImGui::GetFrameHeight() + ImGui::GetStyle().FramePadding.x * 2.0f;
  return std::max(fixed, needed);
}

float eol_width() { return combo_width(kEolCombo, kEolItems, ImGui::GetFontSize() * 4.25f); }
float bom_width() { return combo_width(kBomCombo, kBomItems, ImGui::GetFontSize() * 5.5f); }

// A widget of frame width `frame` with its label on the right, after a SameLine.
float labelled(float frame, const char* label) {
  const ImGuiStyle& style = ImGui::GetStyle();
  return style.ItemSpacing.x + frame + style.ItemInnerSpacing.x + ImGui::CalcTextSize(label).x;
}

// The room a combo has before its label and what follows it on the line (`after`).
float room_before(const char* label, float after) {
  return ImGui::GetContentRegionAvail().x - ImGui::GetStyle().ItemInnerSpacing.x -
         ImGui::CalcTextSize(label).x - after;
}

void probe_combo_item(const ComboWidget& combo, const char* item) {
  if (!ui_probe::hook) return;
  char id[256];
  std::snprintf(id, sizeof id, "%s:%s", combo.probe, item);
  ui_probe::hook(id, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

// ImGui::Combo, spelled out so tests can find each item.
void draw_combo(const ComboWidget& combo, int32_t& index, std::span<const char* const> items) {
  const bool valid = index >= 0 && static_cast<size_t>(index) < items.size();
  const char* current = valid ? shown_item(combo, items[static_cast<size_t>(index)]) : "";
  if (!ImGui::BeginCombo(_(combo.label), current)) {
    ui_probe::item(combo.probe);  // once open, the last item is the list's
    return;
  }
  if (ui_probe::hook) {
    const ImVec2 pos = ImGui::GetWindowPos();
    const ImVec2 size = ImGui::GetWindowSize();
    ui_probe::hook(combo.popup_probe, pos, ImVec2(pos.x + size.x, pos.y + size.y));
  }
  int32_t i = 0;
  for (const char* p : items) {
    ImGui::PushID(i);
    const bool selected = i == index;
    if (ImGui::Selectable(shown_item(combo, p), selected)) index = i;
    if (selected) ImGui::SetItemDefaultFocus();  // the list opens scrolled to it
    probe_combo_item(combo, p);
    ImGui::PopID();
    ++i;
  }
  ImGui::EndCombo();
}

// Beside To Encoding, narrow: its longest item is "CRLF".
void draw_line_endings(EolMode& mode) {
  ImGui::SameLine();
  ImGui::SetNextItemWidth(eol_width());
  auto index = static_cast<int32_t>(mode);
  draw_combo(kEolCombo, index, kEolItems);
  mode = static_cast<EolMode>(index);
}

// Beside Filter, the one line with room for it in an 800-pixel window; "UTF-8 with BOM" in To
// Encoding adds a mark whatever it says.
void draw_marks(BomMode& mode) {
  ImGui::SameLine();
  ImGui::SetNextItemWidth(bom_width());
  auto index = static_cast<int32_t>(mode);
  draw_combo(kBomCombo, index, kBomItems);
  if (ImGui::IsItemHovered())
    ImGui::SetTooltip("%s",
                      _("Byte-order mark of UTF targets: the source's own, added, or removed"));
  mode = static_cast<BomMode>(index);
}

void draw_choices(AppState& app, PanelState& panel) {
  const std::string& filters = panel.filters.of(app.filters);
  glyph_demand::note(filters);  // the filters come from the settings file
  // The three combos as wide as items usually are, all narrower when a line would otherwise run
  // out of the window: labels in other languages are longer.
  const float frame = ImGui::GetFrameHeight();
  const float width =
      std::min({ImGui::CalcItemWidth(),
                room_before(_(kFilterCombo.label), labelled(bom_width(), _(kBomCombo.label))),
                room_before(_(kFromCombo.label),  // then "Detect" and the candidates' arrow
                            labelled(frame, _("Detect")) + ImGui::GetStyle().ItemSpacing.x + frame),
                room_before(_(kToCombo.label), labelled(eol_width(), _(kEolCombo.label)))});
  ImGui::SetNextItemWidth(width);
  draw_combo(kFilterCombo, app.filter_index, panel.filters.list());
  draw_marks(app.bom);
  ImGui::SetNextItemWidth(width);
  panel.from.draw(translated(kFromCombo), app.from_index, app.encodings);
  panel.candidates.draw(app);  // on the From Encoding's line
  ImGui::SetNextItemWidth(width);
  panel.to.draw(translated(kToCombo), app.to_index, app.encodings);
  draw_line_endings(app.eol);
}

void draw_progress(const ProgressSnapshot& progress, PanelState& panel, bool busy) {
  const uint64_t total = progress.files_total;
  const double now = ImGui::GetTime();
  panel.timer.update(busy, total, now);
  panel.progress_text = progress_text(progress.files_done, total, busy, panel.timer.elapsed(now));
  ImGui::ProgressBar(progress.fraction, ImVec2(-FLT_MIN, 0.0f),
                     panel.progress_text.empty() ? nullptr : panel.progress_text.c_str());
  ui_probe::item("progress");
}

void start_convert(AppState& app, PanelState& panel) {
  const bool had_preview = app.preview.has_value();
  app.request_convert();
  if (had_preview && !app.preview) {
    panel.preview.dropped(
        _("The conversion started from the preview, so its files have changed: "
          "press Preview to see them as they are now."));
    panel.bring_log = true;
  }
}

void draw_start_row(AppState& app, PanelState& panel) {
  if (ImGui::Button(_("Start Convert"))) start_convert(app, panel);
  ui_probe::item("start");
  ImGui::SameLine();
  // Read after the start: a job started in this frame can be stopped at once. Once asked,
  // the job is finishing its files in progress and the button has done its part.
  const bool busy = !app.worker_idle.load();
  ImGui::BeginDisabled(busy);
  if (ImGui::Button(_("Preview"))) app.request_preview();
  ui_probe::item("preview");
  ImGui::EndDisabled();
  ImGui::SameLine();
  const bool stopping = busy && app.jobs.stop_requested();
  ImGui::BeginDisabled(!busy || stopping);
  if (ImGui::Button(_("Stop"))) app.request_stop();
  ui_probe::item("stop");
  ImGui::EndDisabled();
  ImGui::SameLine();
  ImGui::Checkbox(_("Repair double-encoded files"), &app.repair);
  ui_probe::item("repair");
  if (ImGui::IsItemHovered())
    ImGui::SetTooltip(
        "%s",
        _("Also repair files that were UTF-8 misread through a legacy encoding and saved again, "
          "and files with lines in two encodings. Unticked, they are reported and left alone; "
          "the preview shows them before and after, and each row can be repaired on its own."));
  ImGui::SameLine();
  const ProgressSnapshot progress = app.jobs.progress();
  format_speed(progress.speed, panel.speed_text, sizeof panel.speed_text);
  ImGui::LabelText("##3", "%s/s", panel.speed_text);
  ui_probe::item("speed");
  draw_progress(progress, panel, busy);
}

// On the Rules tab: .editorconfig comes after the rules and before the settings above.
void draw_editorconfig_box(bool& follow) {
  ImGui::Checkbox(_("Follow .editorconfig"), &follow);
  ui_probe::item("editorconfig");
  if (ImGui::IsItemHovered())
    ImGui::SetTooltip(
        "%s",
        _("Each file's charset and end_of_line from the .editorconfig files above it: what the "
          "first matching rule leaves open, before the To Encoding, Line Endings and Marks above. "
          "A file whose .editorconfig cannot be read is left as it is."));
}

void draw_log_tab(AppState& app, LogView& view) {
  if (ImGui::Button(_("Clear Log"))) app.log.clear();
  ui_probe::item("clear_log");
  view.draw(app.log);
}

// Takes over a finished preview and drops one whose settings changed; true when one arrived.
bool follow_preview(AppState& app, PanelState& panel) {
  const bool arrived = app.adopt_preview();
  const bool had_preview = app.preview.has_value();
  app.discard_stale_preview();
  if (had_preview && !app.preview)
    panel.preview.dropped(
        _("The preview was dropped: a setting it was made from has changed. "
          "Press Preview again."));
  panel.preview.follow(app);
  return arrived && app.preview;
}

// The log, the last job's report and the preview. A job that leaves files not converted
// brings the report forward (the log line "see the report" points to it), a new preview
// itself.
void draw_tabs(AppState& app, WindowState& window) {
  PanelState& panel = window.panel;
  const bool bring_report = panel.report.update(app.last_report());
  const bool bring_preview = follow_preview(app, panel);
  // A tab brought forward is drawn from the next frame on, which must come.
  if (bring_report || bring_preview || panel.bring_log) panel.next_frame = true;
  if (!ImGui::BeginTabBar("##views")) return;
  // What a tab holds is identified under its name: "###" keeps that the same in every language.
  const auto tab = [](const char* name, const char* id) { return std::string(name) + "###" + id; };
  const bool log_open =
      ImGui::BeginTabItem(tab(_("Log"), "log").c_str(), nullptr,
                          panel.bring_log ? ImGuiTabItemFlags_SetSelected : ImGuiTabItemFlags_None);
  panel.bring_log = false;
  ui_probe::item("tab.log");
  if (log_open) {
    draw_log_tab(app, window.log_view);
    ImGui::EndTabItem();
  } else {
    window.log_view.hidden(app.log);
  }
  const bool report_open =
      ImGui::BeginTabItem(tab(_("Report"), "report").c_str(), nullptr,
                          bring_report ? ImGuiTabItemFlags_SetSelected : ImGuiTabItemFlags_None);
  ui_probe::item("tab.report");
  if (report_open) {
    panel.report.draw();
    ImGui::EndTabItem();
  }
  const bool preview_open =
      ImGui::BeginTabItem(tab(_("Preview"), "preview").c_str(), nullptr,
                          bring_preview ? ImGuiTabItemFlags_SetSelected : ImGuiTabItemFlags_None);
  ui_probe::item("tab.preview");
  if (preview_open) {
    panel.preview.draw(app);
    ImGui::EndTabItem();
  }
  const bool rules_open = ImGui::BeginTabItem(tab(_("Rules"), "rules").c_str());
  ui_probe::item("tab.rules");
  if (rules_open) {
    draw_editorconfig_box(app.editorconfig);
    panel.rules.draw(app.rules, app.encodings);
    ImGui::EndTabItem();
  }
  ImGui::EndTabBar();
}

}  // namespace

void draw_conversion_panel(AppState& app, WindowState& window) {
  PanelState& panel = window.panel;
  apply_dropped_paths(app, window.drops, panel.zones, window.dialog.is_opened());
  draw_directory_row(app, window.dialog, kInputRow, app.input);
  const ImRect output = draw_directory_row(app, window.dialog, kOutputRow, app.output);
  panel.zones = DropZones{output.Min, output.Max};
  ImGui::Separator();
  draw_choices(app, panel);
  draw_start_row(app, panel);
  ImGui::Separator();
  draw_tabs(app, window);
}
