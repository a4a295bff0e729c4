// The modal directory and save-file chooser, drawn with ImGui.
#pragma once

#include <imgui.h>

#include <cfloat>
#include <string>
#include <vector>

#include "widgets/dir_listing.h"

class FileDialog {
 public:
  enum Flags { None = 0, ConfirmOverwrite = 1 };

  // `filters` null: a directory chooser; otherwise a save-file chooser showing the files that
  // end in one of the comma-separated suffixes (".yml,.yaml"; "*.*" shows every file).
  // `path` empty or "." is the working directory, a missing one its nearest existing parent.
  // One entry is chosen: `max_selection` and `user_data` are accepted for the callers' sake.
  // Does nothing while a dialog is open.
  void open_modal(const std::string& key, const std::string& title, const char* filters,
                  const std::string& path, const std::string& default_file_name = "",
                  int max_selection = 1, void* user_data = nullptr, int flags = None);

  // Draws the dialog of `key` if it is the open one; true in the frame the user closed it.
  bool display(const std::string& key, ImGuiWindowFlags flags = ImGuiWindowFlags_NoCollapse,
               ImVec2 min_size = ImVec2(0, 0), ImVec2 max_size = ImVec2(FLT_MAX, FLT_MAX));

  bool is_ok() const;
  // The chosen directory (directory chooser), the chosen file's directory (save chooser),
  // or the directory shown.
  std::string current_path() const;
  std::string file_path_name() const;  // the chosen file; the chosen directory for a chooser
  void close();
  bool is_opened() const;

  // Entries whose name ends in `filter` (e.g. ".cpp") are drawn in `color` with `icon` before.
  void set_extension_info(const std::string& filter, const ImVec4& color,
                          const std::string& icon = "");

 private:
  enum class Phase { Closed, Open, Finished };
  struct ExtInfo {
    std::string suffix;
    ImVec4 color;
    std::string icon;
  };

  void go_to(const std::string& dir);
  void apply_typed_path();
  void try_accept();
  void accept_file(const std::string& target);
  void finish(bool ok);
  bool shows(const DirEntry& e) const;
  void close_stale_popup();

  void draw_path_bar();
  void draw_entries(float footer_height);
  void draw_entry(const DirEntry& e, bool after_navigation);
  void draw_footer();
  void draw_overwrite_prompt();

  Phase phase_ = Phase::Closed;
  bool popup_pending_ = false;  // OpenPopup at the next Display
  bool save_mode_ = false;
  int flags_ = None;
  std::string key_, popup_id_, stale_popup_id_;
  std::vector<std::string> suffixes_;  // empty: every file
  std::string dir_;
  DirListing listing_;
  unsigned listing_serial_ = 0;  // changes whenever listing_ is replaced
  std::string path_text_, name_text_, error_;
  bool after_navigation_ = false;  // the listing changed since the last single click
  std::string overwrite_target_;   // non-empty while the overwrite question is pending
  bool overwrite_pending_ = false;
  bool ok_ = false;
  std::string result_dir_, result_file_;
  std::vector<ExtInfo> ext_infos_;
};
