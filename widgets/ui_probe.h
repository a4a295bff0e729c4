// Test hook: widgets hand their rectangles to tests, which then click them by identifier.
#pragma once

#include <imgui.h>

#include <functional>

namespace ui_probe {

using Hook = std::function<void(const char* id, const ImVec2& min, const ImVec2& max)>;

// Empty in the tool; the window's ProbeFile or a headless test sets it to record where each
// widget was drawn. Process-wide like the ImGui context the widgets draw into: one window, one
// thread.
extern Hook hook;

// Call right after a widget: reports the last item's rectangle under `id`.
inline void item(const char* id) {
  if (hook) hook(id, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

}  // namespace ui_probe
