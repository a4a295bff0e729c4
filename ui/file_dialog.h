// The modal directory and save-file chooser: one process-wide instance, drawn with ImGui.
#pragma once

#include <imgui.h>

#include <cfloat>
#include <string>

class FileDialog {
 public:
  enum Flags { None = 0, ConfirmOverwrite = 1 };

  static FileDialog& Instance();

  // `filters` null: a directory chooser; otherwise a file chooser ("*.*" shows every file).
  // Does nothing while a dialog is already open.
  void OpenModal(const std::string& key, const std::string& title, const char* filters,
                 const std::string& path, const std::string& default_file_name = "",
                 int max_selection = 1, void* user_data = nullptr, int flags = None);

  // Draws the dialog of `key` if it is the open one; true in the frame the user closed it.
  bool Display(const std::string& key, ImGuiWindowFlags flags = ImGuiWindowFlags_NoCollapse,
               ImVec2 min_size = ImVec2(0, 0), ImVec2 max_size = ImVec2(FLT_MAX, FLT_MAX));

  bool IsOk() const;
  std::string GetCurrentPath() const;   // the directory shown when the dialog closed
  std::string GetFilePathName() const;  // directory + "/" + file name (save chooser)
  void Close();
  bool IsOpened() const;

  // Entries whose name ends in `filter` (e.g. ".cpp") are drawn in `color` with `icon` before.
  void SetExtentionInfos(const std::string& filter, const ImVec4& color,
                         const std::string& icon = "");
};
