// The log view: selectable, copyable text that scrolls both ways, drawn from a private copy.
#pragma once

#include <string>

struct LogBuffer;

class LogView {
 public:
  // Child "##4" filling the rest of the window. Takes a copy of the log's text only when it
  // differs from the one shown, and draws it outside the log's locks.
  void draw(LogBuffer& log);
  // In a frame the view is not drawn (another tab is shown): takes the log's "new lines"
  // flag, so the frame loop does not keep drawing for them, and scrolls to the end once
  // drawn again.
  void hidden(LogBuffer& log);
  // The text shown, lines separated by "\n".
  const std::string& text() const { return shown_; }

 private:
  // Under text_lock: refreshes the copy when the log's text changed. True when it did.
  bool sync(LogBuffer& log, bool& scroll_to_end);
  void draw_text();
  void draw_context_menu();
  void probe_lines(float top, float left) const;

  std::string copy_;   // the log's text as last copied ("\r\n" line ends)
  std::string shown_;  // the same with "\n" between lines
  float text_width_ = 0.0f;
  float text_height_ = 0.0f;
  const void* measured_font_ = nullptr;  // the font and glyph count the sizes were measured with
  int measured_glyphs_ = -1;
  bool scroll_pending_ = false;  // new lines came while hidden
};
