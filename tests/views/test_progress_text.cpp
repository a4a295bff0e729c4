// The progress bar's words: file counts, and the time left once it can be told.
#include <gtest/gtest.h>

#include "views/progress_text.h"

// Whole seconds rounded up; minutes and seconds, hours when there are any.
TEST(ProgressText, TimeLeftFormat) {
  EXPECT_EQ(format_time_left(0.0), "0:00");
  EXPECT_EQ(format_time_left(0.2), "0:01");
  EXPECT_EQ(format_time_left(42.0), "0:42");
  EXPECT_EQ(format_time_left(725.0), "12:05");
  EXPECT_EQ(format_time_left(3723.0), "1:02:03");
  EXPECT_EQ(format_time_left(-5.0), "0:00");
}

// Nothing before the file count is known; the counts alone until a second or 3 % have passed,
// and once the job is over.
TEST(ProgressText, CountsAndTimeLeft) {
  EXPECT_EQ(progress_text(0, 0, true, 5.0), "");
  EXPECT_EQ(progress_text(0, 10925, true, 5.0), "0 / 10925 files");
  EXPECT_EQ(progress_text(100, 10925, true, 0.5), "100 / 10925 files");
  // 1234 files in 5 s: 9691 more take 39.3 s.
  EXPECT_EQ(progress_text(1234, 10925, true, 5.0), "1234 / 10925 files, 0:40 left");
  EXPECT_EQ(progress_text(500, 10000, true, 0.5), "500 / 10000 files, 0:10 left");
  EXPECT_EQ(progress_text(10925, 10925, true, 9.0), "10925 / 10925 files");
  EXPECT_EQ(progress_text(1234, 10925, false, 5.0), "1234 / 10925 files");
}

// The clock starts when a running job's file count is known and stops with the job.
TEST(ProgressText, TimerFollowsTheConversionPhase) {
  JobTimer t;
  t.update(true, 0, 10.0);  // searching
  EXPECT_EQ(t.elapsed(12.0), 0.0);
  t.update(true, 50, 12.0);
  t.update(true, 50, 13.0);
  EXPECT_DOUBLE_EQ(t.elapsed(14.5), 2.5);
  t.update(false, 50, 15.0);
  EXPECT_EQ(t.elapsed(16.0), 0.0);
  t.update(true, 20, 20.0);  // the next job starts its own clock
  EXPECT_DOUBLE_EQ(t.elapsed(21.0), 1.0);
}
