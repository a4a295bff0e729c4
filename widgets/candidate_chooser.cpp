// The "Detect" checkbox and the candidates' combo: every preset with its encodings, ticked or
// not, and the names the settings file lists besides.
#include "widgets/candidate_chooser.h"

#include <imgui.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "app/app_state.h"
#include "detect/detect.h"
#include "util/i18n.h"
#include "util/strfmt.h"
#include "widgets/ui_probe.h"

namespace {

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// "all", as the settings and the command line write every encoding detection knows.
constexpr const char* kEveryEncoding = "all";

bool is_preset(std::string_view name) {
  if (same_name(name, detect::kEveryEncoding)) return true;
  const auto& all = detect::presets();
  return std::any_of(all.begin(), all.end(),
                     [&](const detect::Preset& p) { return same_name(p.name, name); });
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

void probe_entry(const std::string& name) {
  if (!ui_probe::hook) return;
  char id[128];
  std::snprintf(id, sizeof id, "candidates:%s", name.c_str());
  ui_probe::item(id);
}

void probe_window(const char* id) {
  if (!ui_probe::hook) return;
  const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
  ui_probe::hook(id, pos, ImVec2(pos.x + size.x, pos.y + size.y));
}

}  // namespace

bool has_candidate(const std::vector<std::string>& candidates, std::string_view name) {
  return std::any_of(candidates.begin(), candidates.end(),
                     [&](const std::string& c) { return same_name(c, name); });
}

void set_candidate(std::vector<std::string>& candidates, const std::string& name, bool on) {
  if (on) {
    if (!has_candidate(candidates, name)) candidates.push_back(name);
    return;
  }
  std::erase_if(candidates, [&](const std::string& c) { return same_name(c, name); });
}

std::string describe_candidates(const std::vector<std::string>& candidates, std::string_view from) {
  using kestrum::strfmt;
  if (has_candidate(candidates, kEveryEncoding))
    return strfmt(_("Detection chooses among every encoding it knows (%zu) and the UTF forms."),
                  detect::every_encoding().size());
  if (!candidates.empty())
    return strfmt(_("Detection chooses among %s and the UTF forms."), joined(candidates).c_str());
  const std::string name(from);
  if (const detect::Preset* p = detect::preset_of(from))
    return strfmt(_("None ticked: the preset of the From Encoding, %s (%s), and the UTF forms."),
                  _(p->name.c_str()), joined(p->encodings).c_str());
  if (name.empty())
    return _(
        "None ticked: the From Encoding is in no preset, so only UTF and ASCII files are "
        "decided; tick the presets of the others.");
  if (detect::is_unicode_form(from))
    return strfmt(_("None ticked: %s is in no preset, so only UTF and ASCII files are decided; "
                    "tick the presets of the others."),
                  name.c_str());
  return strfmt(_("None ticked: %s alone, and the UTF forms."), name.c_str());
}

bool CandidateChooser::draw(AppState& app) {
  ImGui::SameLine();
  bool changed = ImGui::Checkbox(_("Detect"), &app.detect);
  ui_probe::item("detect");
  ImGui::SameLine();
  const EncodingEntry* from = entry_at(app.encodings, app.from_index);
  const std::string_view from_charset = from ? std::string_view(from->charset) : "";
  ImGui::BeginDisabled(!app.detect);
  // Only an arrow: at the window's size the line has no room for the names, which the
  // tooltip and the list give.
  if (ImGui::BeginCombo("##candidates", nullptr,
                        ImGuiComboFlags_NoPreview | ImGuiComboFlags_HeightLarge)) {
    probe_window("candidates_popup");
    changed |= draw_list(app.candidates, std::string(from_charset));
    ImGui::EndCombo();
  } else {
    ui_probe::item("candidates");
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
      summary_ = describe_candidates(app.candidates, from_charset);
      ImGui::SetTooltip("%s", summary_.c_str());
    }
  }
  ImGui::EndDisabled();
  return changed;
}

bool CandidateChooser::draw_list(std::vector<std::string>& candidates, const std::string& from) {
  const auto& presets = detect::presets();
  if (preset_labels_.size() != presets.size()) {
    preset_labels_.clear();
    for (const detect::Preset& p : presets) preset_labels_.push_back(joined(p.encodings));
  }
  // Names that are no preset stay listed until the list closes, so an untick can be undone.
  if (ImGui::IsWindowAppearing()) {
    others_.clear();
    for (const std::string& c : candidates)
      if (!is_preset(c)) others_.push_back(c);
  }
  bool changed = false;
  bool every = has_candidate(candidates, kEveryEncoding);
  if (ImGui::Checkbox(_("Every encoding"), &every)) {
    set_candidate(candidates, kEveryEncoding, every);
    changed = true;
  }
  probe_entry(kEveryEncoding);
  ImGui::SameLine(ImGui::GetFontSize() * 10.0f);
  ImGui::TextDisabled("%s", _("every preset below, and the EBCDIC pages"));
  for (size_t i = 0; i < presets.size(); ++i) {
    ImGui::PushID(static_cast<int>(i));
    bool on = has_candidate(candidates, presets[i].name);
    // The preset's name in the user's language; the settings keep the English one.
    if (ImGui::Checkbox(_(presets[i].name.c_str()), &on)) {
      set_candidate(candidates, presets[i].name, on);
      changed = true;
    }
    probe_entry(presets[i].name);
    ImGui::SameLine(ImGui::GetFontSize() * 10.0f);
    ImGui::TextDisabled("%s", preset_labels_[i].c_str());
    ImGui::PopID();
  }
  for (size_t i = 0; i < others_.size(); ++i) {
    const std::string& name = others_[i];
    ImGui::PushID(static_cast<int>(presets.size() + i));
    bool on = has_candidate(candidates, name);
    if (ImGui::Checkbox(name.c_str(), &on)) {
      set_candidate(candidates, name, on);
      changed = true;
    }
    probe_entry(name);
    ImGui::SameLine(ImGui::GetFontSize() * 10.0f);
    ImGui::TextDisabled("%s", _("from the settings file"));
    ImGui::PopID();
  }
  ImGui::BeginDisabled(candidates.empty());
  if (ImGui::Button(_("Untick all"))) {
    candidates.clear();
    changed = true;
  }
  ui_probe::item("candidates_clear");
  ImGui::EndDisabled();
  // Below the boxes, so that a summary growing by a line moves none of them.
  ImGui::Separator();
  summary_ = describe_candidates(candidates, from);
  ImGui::PushTextWrapPos(ImGui::GetFontSize() * 30.0f);
  ImGui::TextUnformatted(summary_.c_str());
  ImGui::PopTextWrapPos();
  return changed;
}
