// The undo confirmation, and every word of undo the window shows.
#include "ui/undo_dialog.h"

#include <imgui.h>

#include <string>

#include "app/app_state.h"
#include "util/i18n.h"
#include "widgets/ui_probe.h"

namespace {

// Its title in the user's language; "###" keeps the popup's identifier the same in every one.
std::string popup_title() { return std::string(_("Undo Last Conversion")) + "###ouzel-undo"; }

// "2026-12-10 05:28:57" from the run's ID "20261210-052857".
std::string run_date(const std::string& id) {
  if (id.size() < 15) return id;
  return id.substr(0, 4) + "-" + id.substr(4, 2) + "-" + id.substr(6, 2) + " " + id.substr(9, 2) +
         ":" + id.substr(11, 2) + ":" + id.substr(13, 2);
}

void probe_window(const char* id) {
  if (!ui_probe::hook) return;
  const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
  ui_probe::hook(id, pos, ImVec2(pos.x + size.x, pos.y + size.y));
}

// The files that cannot go back, one line each with why.
void draw_cannot(const JobReport& look, size_t cannot) {
  ImGui::TextWrapped(P_("%zu cannot go back and stay as they are:",
                        "%zu cannot go back and stay as they are:", cannot),
                     cannot);
  const ImGuiStyle& style = ImGui::GetStyle();
  const float rows = static_cast<float>(cannot < 8 ? cannot : 8);
  // Room for the rows, the frame and a horizontal scroll bar under a long name.
  const float height = rows * ImGui::GetTextLineHeightWithSpacing() + style.WindowPadding.y * 2.0f +
                       style.ScrollbarSize;
  ImGui::BeginChild("##undo.cannot", ImVec2(0.0f, height), true,
                    ImGuiWindowFlags_HorizontalScrollbar);
  for (const FileReport& f : look.files) {
    if (f.outcome == Outcome::restored) continue;
    const std::string detail = detail_text(f);
    ImGui::Text("%s: %s", f.path.c_str(), detail.c_str());
    const std::string probe = "undo.row:" + f.path;
    ui_probe::item(probe.c_str());
  }
  ImGui::EndChild();
}

}  // namespace

void draw_undo_menu_item(AppState& app) {
  if (ImGui::MenuItem(_("Undo Last Conversion"), nullptr, false, app.undo_available()))
    app.request_undo_look();
  ui_probe::item("undo_last");
}

bool draw_undo_dialog(AppState& app, UndoDialog& dialog) {
  bool more = false;
  if (std::optional<JobReport> look = app.take_undo_look()) {
    // A run that could not be looked at says why in the log; nothing to confirm.
    if (look->ran) {
      dialog.look = std::move(look);
      ImGui::OpenPopup(popup_title().c_str());
      more = true;
    }
  }
  if (!dialog.look) return more;
  const JobReport& look = *dialog.look;
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(vp->GetCenter(), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
  ImGui::SetNextWindowSize(ImVec2(vp->Size.x * 0.8f, 0.0f), ImGuiCond_Always);
  const ImGuiWindowFlags flags =
      ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoResize;
  if (!ImGui::BeginPopupModal(popup_title().c_str(), nullptr, flags)) {
    dialog.look.reset();
    return more;
  }
  probe_window("undo.dialog");
  size_t back = 0;
  for (const FileReport& f : look.files) back += f.outcome == Outcome::restored ? 1 : 0;
  const size_t cannot = look.files.size() - back;
  // The undo's report reads the run backwards: its source is what the run wrote.
  ImGui::TextWrapped(_("Undo the conversion %s-->%s of %s in %s?"), look.target.c_str(),
                     look.source.c_str(), run_date(look.undone).c_str(), look.input.c_str());
  ImGui::Spacing();
  if (back > 0)
    ImGui::TextWrapped(P_("%zu files go back to what they were before it.",
                          "%zu files go back to what they were before it.", back),
                       back);
  else
    ImGui::TextWrapped("%s", _("No file can go back."));
  if (cannot > 0) draw_cannot(look, cannot);
  ImGui::Spacing();
  ImGui::BeginDisabled(back == 0);
  const bool confirmed = ImGui::Button(_("Undo"));
  ImGui::EndDisabled();
  ui_probe::item("undo.confirm");
  ImGui::SameLine();
  const bool cancelled = ImGui::Button(_("Cancel"));
  ui_probe::item("undo.cancel");
  if (confirmed) app.request_undo(look.input, look.undone);
  if (confirmed || cancelled) {
    ImGui::CloseCurrentPopup();
    dialog.look.reset();
    more = true;
  }
  ImGui::EndPopup();
  return more;
}
