// The encoding combo: a filter field that has the keyboard, and a clipped, ordered list.
#include "widgets/encoding_chooser.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <cstdio>

#include "util/i18n.h"
#include "widgets/glyph_demand.h"
#include "widgets/ui_probe.h"

namespace {

constexpr int kVisibleRows = 12;

void probe_entry(const EncodingChooserIds& ids, const std::string& name) {
  if (!ui_probe::hook) return;
  char id[256];
  std::snprintf(id, sizeof id, "%s:%s", ids.probe, name.c_str());
  ui_probe::item(id);
}

bool key_pressed(ImGuiKey key) { return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key)); }

}  // namespace

void EncodingChooser::open(int32_t index, const EncodingList& names) {
  // The order is made once per catalogue; 1,200 names take well under a millisecond.
  if (!sorter_ || sorted_names_ != &names || sorted_count_ != names.size()) {
    sorter_ = std::make_unique<EncodingSorter>(names);
    sorted_names_ = &names;
    sorted_count_ = names.size();
  }
  filter_.clear();
  refilter();
  const auto it = std::find(order_.items.begin(), order_.items.end(), index);
  highlight_ = it == order_.items.end() ? 0 : static_cast<int>(it - order_.items.begin());
  reveal_frames_ = 2;  // a new list knows its height only after its first frame
  centre_ = true;
}

void EncodingChooser::refilter() {
  order_ = sorter_->order(filter_);
  filtered_for_ = filter_;
  highlight_ = 0;
  reveal_frames_ = 1;
  centre_ = false;
}

void EncodingChooser::move_highlight(int delta) {
  const int count = static_cast<int>(order_.items.size());
  if (count == 0) return;
  highlight_ = std::clamp(highlight_ + delta, 0, count - 1);
  reveal_frames_ = 1;
  centre_ = false;
}

int EncodingChooser::on_filter_key(ImGuiInputTextCallbackData* data) {
  auto* self = static_cast<EncodingChooser*>(data->UserData);
  if (data->EventFlag == ImGuiInputTextFlags_CallbackHistory)
    self->move_highlight(data->EventKey == ImGuiKey_UpArrow ? -1 : 1);
  return 0;
}

bool EncodingChooser::draw(const EncodingChooserIds& ids, int32_t& index, const EncodingList& names,
                           const char* absent) {
  const bool valid = index >= 0 && static_cast<size_t>(index) < names.size();
  if (!ImGui::BeginCombo(ids.label, valid ? names[static_cast<size_t>(index)].c_str() : absent,
                         ImGuiComboFlags_HeightLargest)) {
    ui_probe::item(ids.probe);  // once open, the last item is the list's
    return false;
  }
  const bool appearing = ImGui::IsWindowAppearing();
  if (appearing) open(index, names);
  // The field keeps the keyboard while the list is open, except while the mouse works it.
  if (appearing || (!ImGui::IsAnyItemActive() && !ImGui::IsMouseDown(0)))
    ImGui::SetKeyboardFocusHere();
  ImGui::SetNextItemWidth(-FLT_MIN);
  const ImGuiInputTextFlags flags =
      ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_CallbackHistory;
  const bool enter = ImGui::InputTextWithHint("##filter", _("type to filter"), &filter_, flags,
                                              &EncodingChooser::on_filter_key, this);
  ui_probe::item(ids.filter_probe);
  glyph_demand::note(filter_);
  if (filter_ != filtered_for_) refilter();
  if (key_pressed(ImGuiKey_PageUp)) move_highlight(-kVisibleRows);
  if (key_pressed(ImGuiKey_PageDown)) move_highlight(kVisibleRows);

  bool picked = draw_list(ids, index, names);
  if (enter && !picked && !order_.items.empty()) {
    index = order_.items[static_cast<size_t>(highlight_)];
    picked = true;
  }
  if (picked || key_pressed(ImGuiKey_Escape)) ImGui::CloseCurrentPopup();
  ImGui::EndCombo();
  return picked;
}

bool EncodingChooser::draw_list(const EncodingChooserIds& ids, int32_t& index,
                                const EncodingList& names) {
  const float row = ImGui::GetTextLineHeightWithSpacing();
  const int count = static_cast<int>(order_.items.size());
  const int rows = std::clamp(count, 1, kVisibleRows);
  ImGui::BeginChild("##list", ImVec2(0.0f, static_cast<float>(rows) * row), false,
                    ImGuiWindowFlags_NoNavInputs);
  if (ui_probe::hook) {
    const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    ui_probe::hook(ids.popup_probe, pos, ImVec2(pos.x + size.x, pos.y + size.y));
  }
  if (reveal_frames_ > 0) {
    --reveal_frames_;
    const float y = static_cast<float>(highlight_) * row;
    const float view = ImGui::GetWindowHeight();
    if (centre_)
      ImGui::SetScrollY(y - (view - row) * 0.5f);
    else if (y < ImGui::GetScrollY())
      ImGui::SetScrollY(y);
    else if (y + row > ImGui::GetScrollY() + view)
      ImGui::SetScrollY(y + row - view);
  }
  bool picked = false;
  ImGuiListClipper clipper;
  clipper.Begin(count, row);
  while (clipper.Step()) {
    for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
      const int32_t pos = order_.items[static_cast<size_t>(i)];
      const std::string& name = names[static_cast<size_t>(pos)];
      ImGui::PushID(i);
      if (ImGui::Selectable(name.c_str(), i == highlight_)) {
        index = pos;
        picked = true;
      }
      probe_entry(ids, name);
      if (static_cast<size_t>(i) + 1 == order_.common && i + 1 < count) {
        // The common group ends here: a line, not a row, so every row keeps one height.
        const float y = ImGui::GetItemRectMax().y + ImGui::GetStyle().ItemSpacing.y * 0.5f;
        ImGui::GetWindowDrawList()->AddLine(ImVec2(ImGui::GetItemRectMin().x, y),
                                            ImVec2(ImGui::GetItemRectMax().x, y),
                                            ImGui::GetColorU32(ImGuiCol_Separator));
      }
      ImGui::PopID();
    }
  }
  ImGui::EndChild();
  return picked;
}
