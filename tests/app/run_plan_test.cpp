// The plan of a run: files claimed in list order, the file the window shows
// and the count it shows.
#include <gtest/gtest.h>

#include "app/run_plan.h"

using namespace app;

TEST(RunPlan, ShownNumberCountsFinishedFilesAndTheOneShown) {
  struct Case {
    int32_t finished, count, want;
  } const cases[] = {
      {0, 1, 1}, {0, 3, 1}, {1, 3, 2}, {2, 3, 3}, {3, 3, 3}, {0, 0, 0}, {299, 300, 300}, {300, 300, 300},
  };
  for (const Case& c : cases) EXPECT_EQ(ShownNumber(c.finished, c.count), c.want) << c.finished << "/" << c.count;
}
