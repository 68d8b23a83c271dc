// The test support holds the suite together when a test fails: a failed
// assertion ends its own test, the thread it started is stopped and joined,
// and the tests after it in the same process still run.
#include <stdlib.h>
#include <sys/wait.h>

#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "sync/ZnEvent.h"

namespace {

const char kProbeFilter[] = "DISABLED_TestSupportProbe.*";

}  // namespace

// The probes run only when the test below starts this program again and
// asks for them; DISABLED_ keeps them out of every ordinary run.
TEST(DISABLED_TestSupportProbe, AWaitOnAThreadThatNeverSignalsFails) {
  std::atomic<bool> signalled{false};
  int writtenAfterTheWait = 0;  // on this frame: a thread outliving the test would write to freed stack
  ZnEvent never(true);
  drtest::CTestThread silent([&] {
    never.wait();  // ends only on the owner's stop request
    writtenAfterTheWait = 1;
  }, "silent thread");
  ASSERT_TRUE(drtest::Eventually([&] { return signalled.load(); }, 50)) << "the probe fails here on purpose";
}

TEST(DISABLED_TestSupportProbe, APlainTestAfterItStillRuns) { EXPECT_EQ(2, 1 + 1); }

TEST(TestSupport, AFailedWaitEndsOnlyItsOwnTestAndStopsItsThread) {
  drtest::CChildProcess probe;
  ASSERT_TRUE(probe.Start({"/proc/self/exe", "--gtest_also_run_disabled_tests",
                           std::string("--gtest_filter=") + kProbeFilter}));
  std::string line, output;
  while (probe.ReadLine(line, static_cast<int>(drtest::kWatchdogMs))) output += line + "\n";
  const int status = probe.Wait();
  ASSERT_TRUE(WIFEXITED(status)) << "the probe process died instead of failing a test:\n" << output;
  EXPECT_EQ(1, WEXITSTATUS(status)) << output;
  EXPECT_NE(std::string::npos, output.find("[  FAILED  ] DISABLED_TestSupportProbe.AWaitOnAThreadThatNeverSignalsFails"))
      << output;
  EXPECT_NE(std::string::npos, output.find("[       OK ] DISABLED_TestSupportProbe.APlainTestAfterItStillRuns"))
      << output;
  EXPECT_NE(std::string::npos, output.find("1 test, listed below")) << "only the probe meant to fail fails:\n"
                                                                    << output;
}
