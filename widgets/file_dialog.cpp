// The modal directory and save-file chooser.
#include "widgets/file_dialog.h"

#include <imgui_internal.h>
#include <imgui_stdlib.h>
#include <strings.h>

#include "platform/fs.h"
#include "util/i18n.h"
#include "util/strfmt.h"
#include "widgets/dialog_icons.h"
#include "widgets/glyph_demand.h"
#include "widgets/ui_probe.h"

namespace {

const ImVec4 kErrorColor(1.0f, 0.45f, 0.4f, 1.0f);

bool ends_with_nocase(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         strncasecmp(s.c_str() + s.size() - suffix.size(), suffix.c_str(), suffix.size()) == 0;
}

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// ".yml, *.yaml" -> {".yml", ".yaml"}; any "*", "*.*" or ".*" means every file.
std::vector<std::string> parse_suffixes(const char* filters) {
  std::vector<std::string> out;
  std::string list = filters ? filters : "";
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t comma = list.find(',', pos);
    if (comma == std::string::npos) comma = list.size();
    std::string f = trim(list.substr(pos, comma - pos));
    pos = comma + 1;
    if (!f.empty() && f[0] == '*') f.erase(0, 1);
    if (f.empty() || f == ".*") return {};
    out.push_back(f);
  }
  return out;
}

// The directory itself when it exists, else its nearest existing ancestor.
std::string existing_directory(std::string dir) {
  while (dir != "/" && !platform::is_directory(dir)) dir = parent_directory(dir);
  return dir;
}

void probe(const std::string& id) {
  if (ui_probe::hook) ui_probe::item(id.c_str());
}

// A button's label: its icon, a blank, the word in the user's language.
std::string icon_label(const char* icon, const char* word) {
  return std::string(icon) + " " + word;
}

}  // namespace

void FileDialog::open_modal(const std::string& key, const std::string& title, const char* filters,
                            const std::string& path, const std::string& default_file_name, int,
                            void*, int flags) {
  if (phase_ == Phase::Open) return;
  phase_ = Phase::Open;
  popup_pending_ = true;
  save_mode_ = filters != nullptr;
  flags_ = flags;
  key_ = key;
  popup_id_ = title + "##" + key;
  suffixes_ = parse_suffixes(filters);
  name_text_ = default_file_name;
  overwrite_target_.clear();
  overwrite_pending_ = false;
  ok_ = false;
  result_dir_.clear();
  result_file_.clear();
  go_to(existing_directory(resolve_path(path, working_directory())));
}

bool FileDialog::is_ok() const { return ok_; }
bool FileDialog::is_opened() const { return phase_ == Phase::Open; }

std::string FileDialog::current_path() const {
  return phase_ == Phase::Finished && ok_ ? result_dir_ : dir_;
}

std::string FileDialog::file_path_name() const { return result_file_; }

void FileDialog::close() {
  if (phase_ == Phase::Open && !popup_pending_) stale_popup_id_ = popup_id_;
  phase_ = Phase::Closed;
  popup_pending_ = false;
  overwrite_pending_ = false;
}

void FileDialog::set_extension_info(const std::string& filter, const ImVec4& color,
                                    const std::string& icon) {
  for (ExtInfo& e : ext_infos_) {
    if (e.suffix == filter) {
      e.color = color;
      e.icon = icon;
      return;
    }
  }
  ext_infos_.push_back(ExtInfo{filter, color, icon});
}

void FileDialog::go_to(const std::string& dir) {
  dir_ = dir;
  listing_ = list_directory(dir);
  ++listing_serial_;
  for (const DirEntry& e : listing_.entries) glyph_demand::note(e.name);
  path_text_ = dir;
  error_.clear();
  after_navigation_ = true;
}

void FileDialog::apply_typed_path() {
  const std::string target = resolve_path(trim(path_text_), dir_);
  if (platform::is_directory(target)) {
    go_to(target);
  } else if (save_mode_ && platform::is_directory(parent_directory(target))) {
    go_to(parent_directory(target));
    name_text_ = target.substr(target.find_last_of('/') + 1);
  } else {
    path_text_ = dir_;
    error_ = kestrum::strfmt(_("Not a directory: %s"), target.c_str());
  }
}

void FileDialog::try_accept() {
  if (!save_mode_) {
    if (!platform::is_directory(dir_)) {
      error_ = kestrum::strfmt(_("The directory no longer exists: %s"), dir_.c_str());
      return;
    }
    result_dir_ = dir_;
    result_file_ = dir_;
    finish(true);
    return;
  }
  const std::string name = trim(name_text_);
  if (name.empty()) {
    error_ = _("Enter a file name.");
    return;
  }
  const std::string target = resolve_path(name, dir_);
  if (platform::is_directory(target)) {
    go_to(target);
    name_text_.clear();
    return;
  }
  if (!platform::is_directory(parent_directory(target))) {
    error_ = kestrum::strfmt(_("No such directory: %s"), parent_directory(target).c_str());
    return;
  }
  if ((flags_ & ConfirmOverwrite) && path_exists(target)) {
    overwrite_target_ = target;
    overwrite_pending_ = true;
    return;
  }
  accept_file(target);
}

void FileDialog::accept_file(const std::string& target) {
  result_dir_ = parent_directory(target);
  result_file_ = target;
  finish(true);
}

void FileDialog::finish(bool ok) {
  ok_ = ok;
  phase_ = Phase::Finished;
  overwrite_pending_ = false;
}

bool FileDialog::shows(const DirEntry& e) const {
  if (e.is_dir) return true;
  if (!save_mode_) return false;
  if (suffixes_.empty()) return true;
  for (const std::string& s : suffixes_)
    if (ends_with_nocase(e.name, s)) return true;
  return false;
}

void FileDialog::close_stale_popup() {
  if (stale_popup_id_.empty()) return;
  if (ImGui::IsPopupOpen(stale_popup_id_.c_str()) &&
      ImGui::BeginPopupModal(stale_popup_id_.c_str())) {
    ImGui::CloseCurrentPopup();
    ImGui::EndPopup();
  }
  stale_popup_id_.clear();
}

bool FileDialog::display(const std::string& key, ImGuiWindowFlags flags, ImVec2 min_size,
                         ImVec2 max_size) {
  close_stale_popup();
  if (phase_ != Phase::Open || key != key_) return false;
  if (popup_pending_) {
    ImGui::OpenPopup(popup_id_.c_str());
    popup_pending_ = false;
  }
  // A place, size or constraint the caller set just before keeps precedence.
  const ImGuiNextWindowDataFlags caller = ImGui::GetCurrentContext()->NextWindowData.Flags;
  const ImGuiViewport* vp = ImGui::GetMainViewport();
  if (!(caller & ImGuiNextWindowDataFlags_HasPos))
    ImGui::SetNextWindowPos(vp->GetCenter(), ImGuiCond_Appearing, ImVec2(0.5f, 0.5f));
  if (!(caller & ImGuiNextWindowDataFlags_HasSize))
    ImGui::SetNextWindowSize(ImVec2(vp->Size.x * 0.8f, vp->Size.y * 0.8f), ImGuiCond_Appearing);
  if (!(caller & ImGuiNextWindowDataFlags_HasSizeConstraint))
    ImGui::SetNextWindowSizeConstraints(min_size, max_size);
  bool keep_open = true;
  if (!ImGui::BeginPopupModal(popup_id_.c_str(), &keep_open, flags)) {
    if (ImGui::IsPopupOpen(popup_id_.c_str())) return false;  // open but not drawn (collapsed)
    finish(false);  // closed by its own close button, or by the GUI library
    return true;
  }
  if (ui_probe::hook) {
    const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    ui_probe::hook("dialog.window", pos, ImVec2(pos.x + size.x, pos.y + size.y));
  }
  // An Escape that an active text field or the overwrite question received is theirs.
  const bool field_was_active = ImGui::IsAnyItemActive();
  const bool prompt_was_open = overwrite_pending_;
  for (const std::string* text : {&path_text_, &name_text_, &error_, &overwrite_target_})
    glyph_demand::note(*text);

  draw_path_bar();
  const ImGuiStyle& style = ImGui::GetStyle();
  const float rows = save_mode_ ? 2.0f : 1.0f;
  draw_entries(rows * ImGui::GetFrameHeightWithSpacing() + style.ItemSpacing.y);
  draw_footer();
  draw_overwrite_prompt();

  if (phase_ == Phase::Open && !prompt_was_open && !overwrite_pending_ && !field_was_active &&
      ImGui::IsWindowFocused(ImGuiFocusedFlags_RootAndChildWindows) &&
      ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false))
    finish(false);
  if (phase_ == Phase::Finished) ImGui::CloseCurrentPopup();
  ImGui::EndPopup();
  return phase_ == Phase::Finished;
}

void FileDialog::draw_path_bar() {
  if (ImGui::Button(ICON_OUZEL_UP)) go_to(parent_directory(dir_));
  probe("dialog.up");
  if (ImGui::IsItemHovered()) ImGui::SetTooltip("%s", _("Parent directory"));
  ImGui::SameLine();
  if (ImGui::Button(ICON_OUZEL_REFRESH)) go_to(dir_);
  probe("dialog.refresh");
  ImGui::SameLine();
  ImGui::SetNextItemWidth(-FLT_MIN);
  const ImGuiInputTextFlags f =
      ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll;
  if (ImGui::InputText("##path", &path_text_, f)) apply_typed_path();
  probe("dialog.path");
  if (!error_.empty()) ImGui::TextColored(kErrorColor, "%s", error_.c_str());
}

void FileDialog::draw_entries(float footer_height) {
  ImGui::BeginChild("##entries", ImVec2(0, -footer_height), true,
                    ImGuiWindowFlags_NavFlattened);  // arrows move between bar and list
  // A click that is not the second of a double click starts a fresh selection.
  if (ImGui::IsMouseClicked(0) && !ImGui::IsMouseDoubleClicked(0)) after_navigation_ = false;
  const bool after_navigation = after_navigation_;
  if (!listing_.readable) ImGui::TextDisabled("%s", _("This directory cannot be read."));
  // Important: an entry may navigate away, which replaces listing_ and its entries; the loop
  // stops there rather than copying the listing every frame.
  const unsigned listed = listing_serial_;
  for (size_t i = 0; i < listing_.entries.size(); ++i) {
    if (phase_ != Phase::Open || listing_serial_ != listed) break;
    if (!shows(listing_.entries[i])) continue;
    ImGui::PushID(static_cast<int>(i));
    draw_entry(listing_.entries[i], after_navigation);
    ImGui::PopID();
  }
  ImGui::EndChild();
}

void FileDialog::draw_entry(const DirEntry& e, bool after_navigation) {
  ImVec4 color = ImGui::GetStyleColorVec4(ImGuiCol_Text);
  const char* icon = e.is_dir ? ICON_OUZEL_FOLDER : ICON_OUZEL_FILE;
  for (const ExtInfo& x : ext_infos_) {
    if (!e.is_dir && ends_with_nocase(e.name, x.suffix)) {
      color = x.color;
      if (!x.icon.empty()) icon = x.icon.c_str();
      break;
    }
  }
  ImVec2 pos = ImGui::GetCursorScreenPos();
  const bool selected = !e.is_dir && e.name == name_text_;
  // The name is drawn as plain text: a "##" in a file name must not be read as an ID marker.
  const bool pressed =
      ImGui::Selectable("##entry", selected, ImGuiSelectableFlags_AllowDoubleClick);
  if (ui_probe::hook) probe("dialog.entry." + e.name);
  // Icon, a space, the name: drawn in pieces so that no label is built per entry and frame.
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ImU32 col = ImGui::GetColorU32(color);
  draw->AddText(pos, col, icon);
  ImFont* font = ImGui::GetFont();
  const float size = ImGui::GetFontSize();
  pos.x += font->CalcTextSizeA(size, FLT_MAX, 0.0f, icon).x +
           font->CalcTextSizeA(size, FLT_MAX, 0.0f, " ").x;
  draw->AddText(pos, col, e.name.data(), e.name.data() + e.name.size());
  if (!pressed) return;
  const bool double_click = ImGui::IsMouseDoubleClicked(0);
  if (double_click && after_navigation) return;  // second click of one that changed the list
  // Important: go_to (also inside try_accept) replaces the listing that `e` lives in.
  if (e.is_dir) {
    if (!double_click) go_to(join_path(dir_, e.name));
    return;
  }
  name_text_ = e.name;
  if (double_click) try_accept();
}

void FileDialog::draw_footer() {
  if (save_mode_) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted(_("File name:"));
    ImGui::SameLine();
    ImGui::SetNextItemWidth(-FLT_MIN);
    if (ImGui::IsWindowAppearing()) ImGui::SetKeyboardFocusHere();
    if (ImGui::InputText("##name", &name_text_, ImGuiInputTextFlags_EnterReturnsTrue)) try_accept();
    probe("dialog.filename");
  }
  if (ImGui::Button(icon_label(ICON_OUZEL_OK, _("OK")).c_str())) try_accept();
  probe("dialog.ok");
  ImGui::SameLine();
  if (ImGui::Button(icon_label(ICON_OUZEL_CANCEL, _("Cancel")).c_str())) finish(false);
  probe("dialog.cancel");
}

void FileDialog::draw_overwrite_prompt() {
  const std::string title = std::string(_("Overwrite?")) + "###ouzel-file-dialog";
  const char* popup = title.c_str();
  if (overwrite_pending_ && !ImGui::IsPopupOpen(popup)) ImGui::OpenPopup(popup);
  if (!ImGui::BeginPopupModal(popup, nullptr, ImGuiWindowFlags_AlwaysAutoResize)) return;
  ImGui::Text(_("%s already exists."), overwrite_target_.c_str());
  ImGui::TextUnformatted(_("Replace it?"));
  bool close = false;
  if (ImGui::Button(icon_label(ICON_OUZEL_OK, _("Yes")).c_str())) {
    close = true;
    accept_file(overwrite_target_);
  }
  probe("dialog.overwrite.yes");
  ImGui::SameLine();
  if (ImGui::Button(icon_label(ICON_OUZEL_CANCEL, _("No")).c_str()) ||
      ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape), false)) {
    close = true;
    overwrite_pending_ = false;
  }
  probe("dialog.overwrite.no");
  if (close || !overwrite_pending_) ImGui::CloseCurrentPopup();
  ImGui::EndPopup();
}
