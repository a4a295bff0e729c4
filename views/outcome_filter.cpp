// The outcome filter's list, shared by the report and the preview.
#include "views/outcome_filter.h"

#include <imgui.h>

#include <algorithm>
#include <string>

#include "widgets/ui_probe.h"

const OutcomeChoice* find_choice(const std::vector<OutcomeChoice>& choices, int value) {
  for (const OutcomeChoice& c : choices)
    if (c.value == value) return &c;
  return nullptr;
}

bool outcome_combo(const char* id, const char* probe, const std::vector<OutcomeChoice>& choices,
                   int& outcome) {
  const OutcomeChoice* current = find_choice(choices, outcome);
  float widest = ImGui::CalcTextSize("cannot-convert (000000)").x;
  for (const OutcomeChoice& choice : choices)  // a translation may be longer
    widest = std::max(widest, ImGui::CalcTextSize(choice.label.c_str()).x);
  ImGui::SetNextItemWidth(widest + ImGui::GetFrameHeight() +
                          ImGui::GetStyle().FramePadding.x * 2.0f);
  if (!ImGui::BeginCombo(id, current ? current->label.c_str() : "")) {
    ui_probe::item(probe);
    return false;
  }
  bool changed = false;
  for (const OutcomeChoice& choice : choices) {
    const bool selected = choice.value == outcome;
    if (ImGui::Selectable(choice.label.c_str(), selected) && !selected) {
      outcome = choice.value;
      changed = true;
    }
    if (ui_probe::hook) ui_probe::item((std::string(probe) + ":" + choice.label).c_str());
  }
  ImGui::EndCombo();
  return changed;
}
