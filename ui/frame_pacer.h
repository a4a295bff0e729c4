// When the next frame is due: soon after input, at a bounded rate while a job runs, and not
// at all while nothing changes. Plain arithmetic on a millisecond clock; no window system.
#pragma once

#include <cstdint>

class FramePacer {
 public:
  static constexpr int kSettleFrames = 4;  // after input: popups, hover and layout settle
  static constexpr int64_t kInputIntervalMs = 16;
  // During a job: 10 frames a second show the progress; every frame drawn takes processor
  // time from the job (under a software renderer, several times the GUI's own). Input still
  // gets up to 30 a second.
  static constexpr int64_t kBusyIntervalMs = 100;
  static constexpr int64_t kBusyInputIntervalMs = 34;
  static constexpr int64_t kCursorIntervalMs = 200;  // a text field's cursor blinks
  static constexpr int64_t kIdleCheckMs = 250;       // an idle loop still looks for changes

  // The next frames must show something new: glyphs were added or the log changed (one
  // frame).
  void owe(int frames);
  // Input arrived: kSettleFrames frames, drawn sooner than a job's own.
  void owe_input();
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
  int owed_input_ = 0;               // of owed_, frames that answer input
  int64_t last_ms_ = INT64_MIN / 2;  // long ago: the first frame is due at once
  bool was_busy_ = false;  // a job ended after the last frame began: its end is still unseen
};
