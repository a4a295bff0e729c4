// The conversion panel: directories, filter, encodings, start, throughput, progress, log.
#include "ui/conversion_panel.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <cfloat>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "app/app_state.h"
#include "ui/file_dialog.h"
#include "ui/icons.h"
#include "ui/throughput.h"
#include "ui/ui_probe.h"

namespace {

struct DirectoryRow {
  const char* field_id;            // hidden label of the text field
  const char* button;              // label of the chooser button
  const std::string& dialog_key;   // a string made once: Display runs every frame
  const char* probe_field;         // probe names for tests
  const char* probe_button;
};

const std::string kInputKey = "ChooseInputDir";
const std::string kOutputKey = "ChooseOutputDir";
const DirectoryRow kInputRow{"##1", "Choose Input Directory", kInputKey, "input_dir",
                             "choose_input"};
const DirectoryRow kOutputRow{"##2", "Choose Output Directory", kOutputKey, "output_dir",
                              "choose_output"};

void open_directory_chooser(const AppState& app, const std::string& key) {
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Always,
                          ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(500.0f * app.dpi_scale, 300.0f * app.dpi_scale),
                           ImGuiCond_Always);
  // No filter list: a directory chooser.
  FileDialog::Instance().OpenModal(key, ICON_FOLDER_OPEN "Choose a Directory", nullptr, ".", "",
                                   1, nullptr, FileDialog::None);
}

void draw_directory_row(const AppState& app, const DirectoryRow& row, std::string& field) {
  ImGui::InputText(row.field_id, &field);
  ui_probe::item(row.probe_field);
  ImGui::SameLine();
  if (ImGui::Button(row.button)) open_directory_chooser(app, row.dialog_key);
  ui_probe::item(row.probe_button);

  FileDialog& dialog = FileDialog::Instance();
  if (dialog.Display(row.dialog_key)) {
    // A cancelled chooser leaves the field as it was.
    if (dialog.IsOk()) field = dialog.GetCurrentPath();
    dialog.Close();
  }
}

struct ComboWidget {
  const char* label;
  const char* probe;        // the closed combo; its items as "<probe>:<item>"
  const char* popup_probe;  // the open list's window
};

constexpr ComboWidget kFilterCombo{"Filter", "filter", "filter_popup"};
constexpr ComboWidget kFromCombo{"From Encoding", "from", "from_popup"};
constexpr ComboWidget kToCombo{"To Encoding", "to", "to_popup"};

// Item `index` of a zero-separated list, or "" when there is none.
const char* combo_item(const char* items, int32_t index) {
  if (index < 0) return "";
  for (const char* p = items; *p != '\0'; p += std::strlen(p) + 1)
    if (index-- == 0) return p;
  return "";
}

void probe_combo_item(const ComboWidget& combo, const char* item) {
  if (!ui_probe::hook) return;
  char id[256];
  std::snprintf(id, sizeof id, "%s:%s", combo.probe, item);
  ui_probe::hook(id, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

// ImGui::Combo over zero-separated items, spelled out so tests can find each item.
void draw_combo(const ComboWidget& combo, int32_t& index, const char* items) {
  if (!ImGui::BeginCombo(combo.label, combo_item(items, index))) {
    ui_probe::item(combo.probe);  // once open, the last item is the list's
    return;
  }
  if (ui_probe::hook) {
    const ImVec2 pos = ImGui::GetWindowPos();
    const ImVec2 size = ImGui::GetWindowSize();
    ui_probe::hook(combo.popup_probe, pos, ImVec2(pos.x + size.x, pos.y + size.y));
  }
  int32_t i = 0;
  for (const char* p = items; *p != '\0'; p += std::strlen(p) + 1, ++i) {
    ImGui::PushID(i);
    const bool selected = i == index;
    if (ImGui::Selectable(p, selected)) index = i;
    if (selected) ImGui::SetItemDefaultFocus();  // the list opens scrolled to it
    probe_combo_item(combo, p);
    ImGui::PopID();
  }
  ImGui::EndCombo();
}

void draw_choices(AppState& app) {
  draw_combo(kFilterCombo, app.filter_index, app.filter_items.c_str());
  draw_combo(kFromCombo, app.from_index, app.encoding_items.c_str());
  draw_combo(kToCombo, app.to_index, app.encoding_items.c_str());
}

void draw_start_row(AppState& app) {
  if (ImGui::Button("Start Convert")) app.request_convert();
  ui_probe::item("start");
  ImGui::SameLine();
  format_speed(app.speed.load(std::memory_order_relaxed), app.speed_text,
               sizeof app.speed_text);
  ImGui::LabelText("##3", "%s/s", app.speed_text);
  ui_probe::item("speed");
  ImGui::ProgressBar(app.progress.load(std::memory_order_relaxed), ImVec2(-FLT_MIN, 0.0f));
  ui_probe::item("progress");
}

void draw_log_view(LogBuffer& log) {
  ImGui::BeginChild("##4", ImVec2(0.0f, 0.0f), false, 0);
  ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0.0f, 1.0f));
  {
    // Important: drawn in place under text_lock, and nothing here may append to the log,
    // since append takes lines_lock before text_lock.
    std::lock_guard guard(log.text_lock);
    ImGui::TextUnformatted(log.text.data(), log.text.data() + log.text.size());
    if (log.scroll_to_end) ImGui::SetScrollHereY(1.0f);
    log.scroll_to_end = false;
  }
  ImGui::PopStyleVar();
  ImGui::EndChild();
  ui_probe::item("log");
}

}  // namespace

void draw_conversion_panel(AppState& app) {
  draw_directory_row(app, kInputRow, app.input);
  draw_directory_row(app, kOutputRow, app.output);
  ImGui::Separator();
  draw_choices(app);
  draw_start_row(app);
  ImGui::Separator();
  if (ImGui::Button("Clear Log")) app.log.clear();
  ui_probe::item("clear_log");
  draw_log_view(app.log);
}
