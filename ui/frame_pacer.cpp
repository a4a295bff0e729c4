// Frame pacing arithmetic.
#include "ui/frame_pacer.h"

#include <algorithm>

void FramePacer::owe(int frames) { owed_ = std::max(owed_, frames); }

void FramePacer::owe_input() {
  owe(kSettleFrames);
  owed_input_ = kSettleFrames;
}

int64_t FramePacer::interval_ms(bool busy, bool typing) const {
  if (busy || was_busy_) return owed_input_ > 0 ? kBusyInputIntervalMs : kBusyIntervalMs;
  if (owed_ > 0) return kInputIntervalMs;
  if (typing) return kCursorIntervalMs;
  return -1;
}

int64_t FramePacer::wait_ms(int64_t now_ms, bool busy, bool typing) const {
  const int64_t interval = interval_ms(busy, typing);
  if (interval < 0) return kIdleCheckMs;
  return std::clamp<int64_t>(last_ms_ + interval - now_ms, 0, kIdleCheckMs);
}

bool FramePacer::due(int64_t now_ms, bool busy, bool typing) const {
  const int64_t interval = interval_ms(busy, typing);
  return interval >= 0 && now_ms - last_ms_ >= interval;
}

void FramePacer::drew(int64_t now_ms, bool busy) {
  last_ms_ = now_ms;
  if (owed_ > 0) --owed_;
  if (owed_input_ > 0) --owed_input_;
  was_busy_ = busy;
}
