// When the next frame is due: soon after input, at a bounded rate while a job runs, and not
// at all while nothing changes. Plain arithmetic on a millisecond clock; no window system.
#pragma once

#include <cstdint>

class FramePacer {
 public:
  static constexpr int kSettleFrames = 4;  // after input: popups, hover and layout settle
  static constexpr int64_t kInputIntervalMs = 16;
  static constexpr int64_t kBusyIntervalMs = 34;     // under 30 frames a second during a job
  static constexpr int64_t kCursorIntervalMs = 200;  // a text field's cursor blinks
  static constexpr int64_t kIdleCheckMs = 250;       // an idle loop still looks for changes

  // The next frames must show something new: input arrived (kSettleFrames), glyphs were
  // added or the log changed (one frame).
  void owe(int frames);
  // How long to wait for an event before looking again: until the next frame is due, or
  // kIdleCheckMs when none is.
  int64_t wait_ms(int64_t now_ms, bool busy, bool typing) const;
  bool due(int64_t now_ms, bool busy, bool typing) const;
  // A frame was drawn at `now_ms`; `busy` says whether a job ran when it began.
  void drew(int64_t now_ms, bool busy);

 private:
  // Milliseconds from the last frame to the next, or -1 when no frame is wanted.
  int64_t interval_ms(bool busy, bool typing) const;

  int owed_ = 1;                     // the first frame
  int64_t last_ms_ = INT64_MIN / 2;  // long ago: the first frame is due at once
  bool was_busy_ = false;  // a job ended after the last frame began: its end is still unseen
};
