// Test hook: widgets hand their rectangles to tests, which then click them by identifier.
#pragma once

#include <imgui.h>

namespace ui_probe {

using Hook = void (*)(const char* id, const ImVec2& min, const ImVec2& max);

// Null in the tool; a headless test sets it to record where each widget was drawn.
extern Hook hook;

// Call right after a widget: reports the last item's rectangle under `id`.
inline void item(const char* id) {
  if (hook) hook(id, ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

}  // namespace ui_probe
