// The main window: title bar and its drag strip, "File" menu, save chooser, panel, quit save.
#include "ui/main_window.h"

#include <imgui.h>

#include <string>

#include "app/app_state.h"
#include "app/open_config.h"
#include "ui/conversion_panel.h"
#include "ui/undo_dialog.h"
#include "ui/window_state.h"
#include "util/i18n.h"
#include "widgets/file_dialog.h"
#include "widgets/icons.h"
#include "widgets/ui_probe.h"

namespace {

const std::string kSaveKey = "ChooseSaveFile";  // made once: Display runs every frame
const std::string kReportKey = "ChooseReportFile";

void begin_main_window(const AppState& app, bool* open) {
  ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always, ImVec2(0.0f, 0.0f));
  ImGui::SetNextWindowSize(
      ImVec2(static_cast<float>(app.window_width), static_cast<float>(app.window_height)),
      ImGuiCond_Always);
  ImGuiWindowFlags flags =
      ImGuiWindowFlags_MenuBar | ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoResize;
#ifdef IMGUI_HAS_DOCK
  flags |= ImGuiWindowFlags_NoDocking;
#endif
  ImGui::Begin(kMainWindowTitle, open, flags);
}

// The title strip and its close button, right after Begin.
void update_title_drag(TitleDrag& drag, bool dialog_open) {
  const ImGuiStyle& style = ImGui::GetStyle();
  const float font = ImGui::GetFontSize();
  drag.strip_height = font + style.FramePadding.y * 2.0f;
  // The log view is a child of the main window; menus and dialogs are not.
  drag.enabled = ImGui::IsWindowFocused(ImGuiFocusedFlags_RootAndChildWindows |
                                        ImGuiFocusedFlags_NoPopupHierarchy) &&
                 !dialog_open;

  const ImVec2 pos = ImGui::GetWindowPos();
  const float right = pos.x + ImGui::GetWindowWidth();
  const ImVec2 close_min(right - font - style.FramePadding.x * 2.0f, pos.y);
  drag.close_button_x = close_min.x;
  if (ui_probe::hook) ui_probe::hook("close", close_min, ImVec2(right, pos.y + drag.strip_height));
}

void open_save_chooser(const AppState& app, FileDialog& dialog, const std::string& key,
                       const char* file_name) {
  const ImVec2 display = ImGui::GetIO().DisplaySize;
  ImGui::SetNextWindowPos(ImVec2(display.x * 0.5f, display.y * 0.5f), ImGuiCond_Always,
                          ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(500.0f * app.dpi_scale, 300.0f * app.dpi_scale),
                           ImGuiCond_Always);
  dialog.open_modal(key, std::string(ICON_SAVE " ") + _("Choose a File"), "*.*", ".", file_name, 1,
                    nullptr, FileDialog::ConfirmOverwrite);
}

// The "File" menu; true when "Exit" was chosen.
bool draw_file_menu(AppState& app, FileDialog& dialog) {
  bool exit = false;
  if (!ImGui::BeginMenuBar()) return false;
  const bool menu_open = ImGui::BeginMenu(_("File"));
  if (!menu_open) ui_probe::item("menu_file");  // once open, the last item is the popup's
  if (menu_open) {
    if (ImGui::MenuItem(_("Open Current Config"))) open_current_config(app.log);
    ui_probe::item("open_config");
    if (ImGui::MenuItem(_("Save Config"))) app.save_config();
    ui_probe::item("save_config");
    if (ImGui::MenuItem(_("Save Config As..."))) open_save_chooser(app, dialog, kSaveKey, "");
    ui_probe::item("save_config_as");
    // Every outcome of the last job, long after the log has moved on.
    if (ImGui::MenuItem(_("Save Report..."), nullptr, false, app.last_report() != nullptr))
      open_save_chooser(app, dialog, kReportKey, "report.csv");
    ui_probe::item("save_report");
    draw_undo_menu_item(app);
    if (ImGui::MenuItem(_("Exit"))) exit = true;
    ui_probe::item("exit");
    ImGui::EndMenu();
  }
  ImGui::EndMenuBar();
  return exit;
}

void draw_save_chooser(AppState& app, FileDialog& dialog) {
  if (!dialog.display(kSaveKey)) return;
  if (dialog.is_ok()) {
    app.path = dialog.file_path_name();
    app.save_config();
  }
  dialog.close();
}

void draw_report_chooser(AppState& app, FileDialog& dialog) {
  if (!dialog.display(kReportKey)) return;
  if (dialog.is_ok()) app.save_report(dialog.file_path_name());
  dialog.close();
}

}  // namespace

bool draw_main_window(AppState& app, WindowState& window, TitleDrag& drag) {
  bool open = true;
  begin_main_window(app, &open);
  update_title_drag(drag, window.dialog.is_opened() || window.undo.look.has_value());
  bool quit = !open;
  if (draw_file_menu(app, window.dialog)) quit = true;
  draw_save_chooser(app, window.dialog);
  draw_report_chooser(app, window.dialog);
  if (draw_undo_dialog(app, window.undo)) window.panel.next_frame = true;
  draw_conversion_panel(app, window);
  ImGui::End();
  // Important: no log lock is held here; save_config appends its outcome to the log.
  if (quit) app.save_config();
  return quit;
}
