// The notice shown while a closing window waits for the job's files in progress.
#include "widgets/closing_notice.h"

#include <imgui.h>

#include <string>

#include "app/app_state.h"
#include "util/i18n.h"
#include "widgets/ui_probe.h"

bool begin_close(AppState& app, WindowClosing& closing) {
  if (app.worker_idle.load()) return true;
  // Important: the job is only asked; the files in progress are finished, never cut, and
  // the worker publishes the report and sets worker_idle as its last act.
  app.request_stop();
  closing.waiting = true;
  return false;
}

bool draw_closing_notice(const AppState& app) {
  if (app.worker_idle.load()) return true;
  // The identifier after "###" stays the same in every language.
  const std::string title = std::string(_("Closing")) + "###ouzel-closing";
  const char* notice = title.c_str();
  // Opened at the top level, it also ends any dialog that was open: nothing more is chosen.
  if (!ImGui::IsPopupOpen(notice)) ImGui::OpenPopup(notice);
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  ImGui::SetNextWindowPos(vp->GetCenter(), ImGuiCond_Always, ImVec2(0.5f, 0.5f));
  const ImGuiWindowFlags flags = ImGuiWindowFlags_AlwaysAutoResize | ImGuiWindowFlags_NoMove |
                                 ImGuiWindowFlags_NoSavedSettings;
  if (ImGui::BeginPopupModal(notice, nullptr, flags)) {
    ImGui::TextUnformatted(_("Finishing the file in progress..."));
    const ProgressSnapshot progress = app.jobs.progress();
    if (progress.files_total > 0)
      ImGui::TextDisabled(
          P_("%llu of %llu files done", "%llu of %llu files done", progress.files_total),
          static_cast<unsigned long long>(progress.files_done),
          static_cast<unsigned long long>(progress.files_total));
    ImGui::TextDisabled("%s", _("The window closes when it is written."));
    if (ui_probe::hook) {
      const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
      ui_probe::hook("closing", pos, ImVec2(pos.x + size.x, pos.y + size.y));
    }
    ImGui::EndPopup();
  }
  return false;
}
