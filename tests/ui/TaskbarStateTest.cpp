// What the taskbar button shows through an install.
#include <gtest/gtest.h>

#include "ui/TaskbarState.h"

using Look = TaskbarState::Look;

TEST(TaskbarState, ShowsNothingUntilTheFirstReport) {
  TaskbarState s;
  EXPECT_EQ(s.shown().look, Look::kNothing);
  EXPECT_TRUE(s.progress(0));
  EXPECT_EQ(s.shown().look, Look::kProgress);
  EXPECT_EQ(s.shown().percent, 0);
}

TEST(TaskbarState, ProgressClampsAndSkipsRepeats) {
  TaskbarState s;
  EXPECT_TRUE(s.progress(42));
  EXPECT_FALSE(s.progress(42)) << "the same value needs no call to the shell";
  EXPECT_TRUE(s.progress(43));
  EXPECT_TRUE(s.progress(250));
  EXPECT_EQ(s.shown().percent, 100);
  EXPECT_FALSE(s.progress(100));
  EXPECT_TRUE(s.progress(-5));
  EXPECT_EQ(s.shown().percent, 0);
}

TEST(TaskbarState, FailureKeepsTheLastLengthAndIgnoresLaterProgress) {
  TaskbarState s;
  s.progress(37);
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.shown().look, Look::kError);
  EXPECT_EQ(s.shown().percent, 37);
  EXPECT_FALSE(s.failed());
  EXPECT_FALSE(s.progress(100)) << "a late report must not turn the error back to progress";
  EXPECT_EQ(s.shown().look, Look::kError);
}

TEST(TaskbarState, NothingAfterTheEnd) {
  TaskbarState s;
  s.progress(100);
  EXPECT_TRUE(s.ended());
  EXPECT_EQ(s.shown().look, Look::kNothing);
  EXPECT_FALSE(s.ended());
  EXPECT_FALSE(s.progress(50));
  EXPECT_FALSE(s.failed());
  EXPECT_EQ(s.shown().look, Look::kNothing);
}

TEST(TaskbarState, EndAfterFailureClearsTheErrorToo) {
  TaskbarState s;
  s.progress(10);
  s.failed();
  EXPECT_TRUE(s.ended());
  EXPECT_EQ(s.shown().look, Look::kNothing);
}

TEST(TaskbarState, EndingBeforeAnyReportNeedsNoCall) {
  TaskbarState s;
  EXPECT_FALSE(s.ended());
  EXPECT_FALSE(s.progress(5));
}

TEST(TaskbarState, FailureBeforeAnyProgressShowsTheErrorAtZero) {
  TaskbarState s;
  EXPECT_TRUE(s.failed());
  EXPECT_EQ(s.shown().look, Look::kError);
  EXPECT_EQ(s.shown().percent, 0);
}
