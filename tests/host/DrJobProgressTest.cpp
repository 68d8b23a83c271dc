// The run's progress lines never go down, whatever order the job's threads
// report in.
#include <stdlib.h>

#include <vector>

#include <gtest/gtest.h>

#include "TestThread.h"
#include "host/DrJobProgress.h"

namespace {

TEST(DrJobProgress, APercentIsPrintedOnlyAboveEveryOneBefore) {
  std::vector<int> printed;
  CProgressLines lines([&printed](int64_t, int percent) { printed.push_back(percent); });
  for (int percent : {1, 3, 3, 2, 3, 18, 17, 40, 99, 98}) lines.Report(7, percent);
  EXPECT_EQ((std::vector<int>{1, 3, 18, 40, 99}), printed);
}

// Threads whose reports cross: each reports its own rising sequence, the
// sequences interleave with falls, and the lines printed still only rise.
TEST(DrJobProgressConcurrency, ReportsThatCrossStillPrintARisingSequence) {
  std::vector<int> printed;
  CProgressLines lines([&printed](int64_t, int percent) { printed.push_back(percent); });
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&lines, t]() {
      unsigned seed = static_cast<unsigned>(t) + 1;
      for (int step = 0; step < 2000; ++step) lines.Report(7, step / 20 + static_cast<int>(rand_r(&seed) % 5));
    });
  }
  for (drtest::CTestThread& thread : threads) ASSERT_TRUE(thread.Join());
  ASSERT_FALSE(printed.empty());
  for (size_t i = 1; i < printed.size(); ++i) EXPECT_LT(printed[i - 1], printed[i]);
}

}  // namespace
