// Frame pacing: when frames are drawn on a simulated millisecond clock. Expected values are
// written out, not taken from the pacer's own constants, so a changed constant is seen.
#include <gtest/gtest.h>

#include "ui/frame_pacer.h"

namespace {

struct Clock {
  FramePacer pacer;
  int64_t now = 1000;
  int frames = 0;
  // Advances time in 1 ms steps for `ms`, drawing whenever a frame is due.
  void run(int64_t ms, bool busy = false, bool typing = false) {
    for (int64_t end = now + ms; now < end; ++now) {
      if (!pacer.due(now, busy, typing)) continue;
      pacer.drew(now, busy);
      ++frames;
    }
  }
};

}  // namespace

// With nothing to do no frame is drawn, and the loop only looks for changes now and then.
TEST(FramePacer, IdleDrawsNothing) {
  Clock c;
  c.run(10);  // the first frame
  EXPECT_EQ(c.frames, 1);
  c.run(10000);
  EXPECT_EQ(c.frames, 1);
  EXPECT_EQ(c.pacer.wait_ms(c.now, false, false), 250);  // an idle loop looks 4 times a second
}

// Input earns a few frames to settle, at most one per 16 ms, then the loop rests again.
TEST(FramePacer, InputSettlesInAFewFrames) {
  Clock c;
  c.run(10);
  c.pacer.owe_input();
  EXPECT_EQ(c.pacer.wait_ms(c.now, false, false), 16 - 10);  // about 60 frames a second
  c.run(1000);
  EXPECT_EQ(c.frames, 1 + 4);  // four more frames let popups and layout settle
}

// While a job runs, 10 frames a second however much the log changes; with input all the
// time at most 30; the frame after the job ended shows its end.
TEST(FramePacer, BusyTenPerSecondThirtyWithInput) {
  Clock c;
  c.run(10);
  int before = c.frames;
  for (int ms = 0; ms < 1000; ++ms) {
    c.pacer.owe(1);  // new log lines
    c.run(1, true);
  }
  EXPECT_LE(c.frames - before, 10);
  EXPECT_GE(c.frames - before, 9);
  before = c.frames;
  for (int ms = 0; ms < 1000; ++ms) {
    c.pacer.owe_input();
    c.run(1, true);
  }
  EXPECT_LE(c.frames - before, 30);
  EXPECT_GE(c.frames - before, 25);

  Clock d;
  d.run(10);
  d.run(100, true);
  const int busy_frames = d.frames;
  d.run(1000, false);
  EXPECT_EQ(d.frames, busy_frames + 1);
}

// An active text field keeps its cursor blinking with a few frames a second.
TEST(FramePacer, TypingBlinksSlowly) {
  Clock c;
  c.run(10);
  const int before = c.frames;
  c.run(1000, false, true);
  EXPECT_EQ(c.frames - before, 5);  // a blinking cursor: a frame every 200 ms
}
