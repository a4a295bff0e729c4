// The log view: a private copy of the log's text, read-only text field in a scrolling child.
#include "views/log_view.h"

#include <imgui.h>

#include <algorithm>
#include <mutex>

#include "util/i18n.h"
#include "util/log_buffer.h"
#include "widgets/glyph_demand.h"
#include "widgets/ui_probe.h"

namespace {

// The text as shown: "\n" line ends, and none after the last line, which would add an empty
// line to the field.
std::string shown_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != '\r') out += c;
  if (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

}  // namespace

bool LogView::sync(LogBuffer& log, bool& scroll_to_end) {
  // Important: the worker appends under this lock, so it is held only for a comparison and,
  // when the text changed, one copy into a kept buffer. Nothing here may append to the log.
  std::lock_guard guard(log.text_lock);
  scroll_to_end = log.scroll_to_end;
  log.scroll_to_end = false;
  if (log.text == copy_) return false;
  copy_ = log.text;
  return true;
}

void LogView::hidden(LogBuffer& log) {
  std::unique_lock guard(log.text_lock, std::try_to_lock);  // a busy log is seen next frame
  if (!guard.owns_lock() || !log.scroll_to_end) return;
  log.scroll_to_end = false;
  scroll_pending_ = true;
}

void LogView::draw(LogBuffer& log) {
  bool scroll_to_end = false;
  if (sync(log, scroll_to_end)) {
    shown_ = shown_text(copy_);
    glyph_demand::note(shown_);
    measured_font_ = nullptr;
  }
  ImGui::BeginChild("##4", ImVec2(0.0f, 0.0f), false, ImGuiWindowFlags_HorizontalScrollbar);
  draw_text();
  if (scroll_to_end || scroll_pending_) ImGui::SetScrollHereY(1.0f);
  scroll_pending_ = false;
  ImGui::EndChild();
  ui_probe::item("log");
}

void LogView::draw_text() {
  // The field is as large as its text, so the child scrolls it and long lines stay readable.
  ImFont* font = ImGui::GetFont();
  if (measured_font_ != font || measured_glyphs_ != font->Glyphs.Size) {
    const ImVec2 size = ImGui::CalcTextSize(shown_.data(), shown_.data() + shown_.size());
    text_width_ = size.x;
    text_height_ = size.y;
    measured_font_ = font;
    measured_glyphs_ = font->Glyphs.Size;
  }
  const ImVec2 avail = ImGui::GetContentRegionAvail();
  ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0.0f, 0.0f));
  ImGui::PushStyleColor(ImGuiCol_FrameBg, ImVec4(0.0f, 0.0f, 0.0f, 0.0f));
  // A little room to the right for the cursor at a line's end.
  const float cursor = 2.0f * ImGui::GetStyle().ItemInnerSpacing.x;
  const ImVec2 size(std::max(avail.x, text_width_ + cursor), std::max(avail.y, text_height_));
  const ImVec2 top_left = ImGui::GetCursorScreenPos();
  ImGui::InputTextMultiline("##log_text", shown_.data(), shown_.size() + 1, size,
                            ImGuiInputTextFlags_ReadOnly);
  ImGui::PopStyleColor();
  ImGui::PopStyleVar();
  draw_context_menu();
  if (ui_probe::hook) probe_lines(top_left.y, top_left.x);
}

void LogView::draw_context_menu() {
  if (!ImGui::BeginPopupContextItem("##log_menu")) return;
  if (ImGui::MenuItem(_("Copy Log")))
    ImGui::SetClipboardText(shown_.empty() ? "" : (shown_ + '\n').c_str());
  ui_probe::item("copy_log");
  ImGui::EndPopup();
}

// Each visible line as "log.line:<text>", so scripts can find a name's pixels.
void LogView::probe_lines(float top, float left) const {
  const float line = ImGui::GetTextLineHeight();
  const ImVec2 clip_min = ImGui::GetWindowPos();
  const float clip_max = clip_min.y + ImGui::GetWindowHeight();
  std::string id;
  size_t start = 0;
  for (int row = 0; start < shown_.size(); ++row) {
    size_t end = shown_.find('\n', start);
    if (end == std::string::npos) end = shown_.size();
    const float y = top + static_cast<float>(row) * line;
    if (y >= clip_min.y && y + line <= clip_max) {
      id.assign("log.line:").append(shown_, start, end - start);
      std::replace(id.begin(), id.end(), '\t', ' ');
      const float w = ImGui::CalcTextSize(shown_.data() + start, shown_.data() + end).x;
      ui_probe::hook(id.c_str(), ImVec2(left, y), ImVec2(left + w, y + line));
    }
    start = end + 1;
  }
}
