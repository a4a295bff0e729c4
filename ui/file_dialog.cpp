// The modal directory and save-file chooser.
#include "ui/file_dialog.h"

FileDialog& FileDialog::Instance() {
  static FileDialog instance;
  return instance;
}
void FileDialog::OpenModal(const std::string&, const std::string&, const char*,
                           const std::string&, const std::string&, int, void*, int) {}
bool FileDialog::Display(const std::string&, ImGuiWindowFlags, ImVec2, ImVec2) { return false; }
bool FileDialog::IsOk() const { return false; }
std::string FileDialog::GetCurrentPath() const { return {}; }
std::string FileDialog::GetFilePathName() const { return {}; }
void FileDialog::Close() {}
bool FileDialog::IsOpened() const { return false; }
void FileDialog::SetExtentionInfos(const std::string&, const ImVec4&, const std::string&) {}
