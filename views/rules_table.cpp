// The Rules tab's table: filter, To, line endings and mark per rule, with their buttons.
#include "views/rules_table.h"

#include <imgui.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <utility>

#include "util/i18n.h"
#include "widgets/glyph_demand.h"
#include "widgets/ui_probe.h"

namespace {

// Item 0 leaves the setting to the run; the rest follow EolMode and BomMode. Untranslated: the
// probes name them so; LF and CRLF are names.
constexpr const char* kEolItems[] = {N_("Run's"), N_("Keep"), "LF", "CRLF"};
constexpr const char* kBomItems[] = {N_("Run's"), N_("Keep"), N_("Add"), N_("Remove")};

// What a longer translation of `text` adds to its width: the columns keep their English widths
// and grow by it.
float extra_width(const char* text) {
  return std::max(0.0f, ImGui::CalcTextSize(_(text)).x - ImGui::CalcTextSize(text).x);
}

template <size_t N>
float extra_width(const char* const (&items)[N]) {
  float extra = 0.0f;
  for (const char* item : items) extra = std::max(extra, extra_width(item));
  return extra;
}

template <typename Mode, size_t N>
bool mode_combo(const char* id, const char* probe, std::optional<Mode>& mode,
                const char* const (&items)[N]) {
  const size_t current = mode ? static_cast<size_t>(*mode) + 1 : 0;
  bool changed = false;
  if (ImGui::BeginCombo(id, _(items[current]))) {
    if (ui_probe::hook) {
      const ImVec2 pos = ImGui::GetWindowPos();
      const ImVec2 size = ImGui::GetWindowSize();
      const std::string popup = std::string(probe) + "_popup";
      ui_probe::hook(popup.c_str(), pos, ImVec2(pos.x + size.x, pos.y + size.y));
    }
    for (size_t i = 0; i < N; ++i) {
      if (ImGui::Selectable(_(items[i]), i == current) && i != current) {
        mode = i == 0 ? std::nullopt : std::optional<Mode>(static_cast<Mode>(i - 1));
        changed = true;
      }
      if (ui_probe::hook) {
        const std::string item = std::string(probe) + ":" + items[i];
        ui_probe::item(item.c_str());
      }
    }
    ImGui::EndCombo();
  } else {
    ui_probe::item(probe);
  }
  return changed;
}

}  // namespace

const char* RulesTable::probe(const char* what, size_t index) {
  probe_.assign("rules.").append(what).append(1, ':').append(std::to_string(index + 1));
  return probe_.c_str();
}

bool RulesTable::draw_to(size_t index, FileRule& rule, const EncodingList& encodings) {
  int32_t chosen = rule.to.empty() ? -1 : index_of(encodings, rule.to.name);
  const std::string to_probe = probe("to", index);
  const std::string popup = to_probe + "_popup", filter = to_probe + "_filter";
  const EncodingChooserIds ids{"##to", to_probe.c_str(), popup.c_str(), filter.c_str()};
  // Room is left for the button that gives the setting back to the run.
  const float clear_w = ImGui::CalcTextSize("x").x + ImGui::GetStyle().FramePadding.x * 2.0f;
  ImGui::SetNextItemWidth(rule.to.empty() ? -FLT_MIN : -clear_w);
  if (!to_.draw(ids, chosen, encodings, rule.to.empty() ? _("Run's") : rule.to.c_str()))
    return false;
  const EncodingEntry* entry = entry_at(encodings, chosen);
  if (entry == nullptr || entry->name == rule.to.name) return false;
  rule.to = *entry;
  return true;
}

bool RulesTable::draw_row(size_t index, FileRule& rule, size_t count, const EncodingList& encodings,
                          Move& move) {
  bool changed = false;
  ImGui::TableNextRow();
  ImGui::TableNextColumn();
  ImGui::AlignTextToFramePadding();
  ImGui::Text("%zu", index + 1);
  ImGui::TableNextColumn();
  ImGui::SetNextItemWidth(-FLT_MIN);
  glyph_demand::note(rule.filter);
  changed |= ImGui::InputTextWithHint("##filter", "*.cpp;*.h", &rule.filter);
  ui_probe::item(probe("filter", index));
  if (rule.filter.empty() && ImGui::IsItemHovered())
    ImGui::SetTooltip("%s", _("A rule without a filter matches no file"));
  ImGui::TableNextColumn();
  changed |= draw_to(index, rule, encodings);
  if (!rule.to.empty()) {
    ImGui::SameLine(0.0f, 0.0f);
    if (ImGui::SmallButton("x##to_clear")) {
      rule.to = EncodingEntry();
      changed = true;
    }
    ui_probe::item(probe("to_clear", index));
  }
  ImGui::TableNextColumn();
  ImGui::SetNextItemWidth(-FLT_MIN);
  changed |= mode_combo("##eol", probe("eol", index), rule.eol, kEolItems);
  ImGui::TableNextColumn();
  ImGui::SetNextItemWidth(-FLT_MIN);
  changed |= mode_combo("##bom", probe("bom", index), rule.bom, kBomItems);
  ImGui::TableNextColumn();
  ImGui::BeginDisabled(index == 0);
  if (ImGui::ArrowButton("##up", ImGuiDir_Up)) move = Move::up;
  ui_probe::item(probe("up", index));
  ImGui::EndDisabled();
  ImGui::SameLine();
  ImGui::BeginDisabled(index + 1 == count);
  if (ImGui::ArrowButton("##down", ImGuiDir_Down)) move = Move::down;
  ui_probe::item(probe("down", index));
  ImGui::EndDisabled();
  ImGui::SameLine();
  if (ImGui::Button(_("Remove"))) move = Move::remove;
  ui_probe::item(probe("remove", index));
  return changed;
}

bool RulesTable::draw(std::vector<FileRule>& rules, const EncodingList& encodings) {
  ImGui::TextWrapped(
      "%s", _("The first rule whose filter matches a file decides its encoding, line endings and "
              "mark; what a rule leaves as \"Run's\" comes from the settings above. Saved with "
              "the settings."));
  bool changed = false;
  if (ImGui::Button(_("Add Rule"))) {
    rules.emplace_back();
    changed = true;
  }
  ui_probe::item("rules.add");
  size_t moved = rules.size();
  Move move = Move::none;
  const ImGuiTableFlags flags = ImGuiTableFlags_RowBg | ImGuiTableFlags_BordersOuter |
                                ImGuiTableFlags_BordersV | ImGuiTableFlags_ScrollY;
  if (ImGui::BeginTable("##rules", 6, flags)) {
    const float font = ImGui::GetFontSize();
    ImGui::TableSetupScrollFreeze(0, 1);
    ImGui::TableSetupColumn("#", ImGuiTableColumnFlags_WidthFixed, font * 1.5f);
    ImGui::TableSetupColumn(_("Filter"), ImGuiTableColumnFlags_WidthStretch, 1.0f);
    ImGui::TableSetupColumn(
        _("To"), ImGuiTableColumnFlags_WidthFixed,
        font * 10.0f + std::max(extra_width(N_("To")), extra_width(kEolItems[0])));
    ImGui::TableSetupColumn(
        _("Line Endings"), ImGuiTableColumnFlags_WidthFixed,
        font * 6.5f + std::max(extra_width(N_("Line Endings")), extra_width(kEolItems)));
    ImGui::TableSetupColumn(
        _("Marks"), ImGuiTableColumnFlags_WidthFixed,
        font * 5.5f + std::max(extra_width(N_("Marks")), extra_width(kBomItems)));
    ImGui::TableSetupColumn("##buttons", ImGuiTableColumnFlags_WidthFixed,
                            font * 7.5f + extra_width(kBomItems[3]));  // "Remove"
    ImGui::TableHeadersRow();
    for (size_t i = 0; i < rules.size(); ++i) {
      ImGui::PushID(static_cast<int>(i));
      Move asked = Move::none;
      changed |= draw_row(i, rules[i], rules.size(), encodings, asked);
      if (asked != Move::none) {
        moved = i;
        move = asked;
      }
      ImGui::PopID();
    }
    ImGui::EndTable();
  }
  // Important: applied after the table, so no row is drawn from a vector that changed.
  if (move == Move::up && moved > 0 && moved < rules.size()) {
    std::swap(rules[moved - 1], rules[moved]);
    changed = true;
  } else if (move == Move::down && moved + 1 < rules.size()) {
    std::swap(rules[moved], rules[moved + 1]);
    changed = true;
  } else if (move == Move::remove && moved < rules.size()) {
    rules.erase(rules.begin() + static_cast<std::ptrdiff_t>(moved));
    changed = true;
  }
  return changed;
}
