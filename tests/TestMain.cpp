// Every test process runs in a fresh run folder with the clock scaled down,
// waits recorded, the log captured and a watchdog on every wait: a wait that
// would never end fails the process instead of hanging the suite.
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "core/RunFolder.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"
#include "net/ServiceDirectory.h"
#include "sim/Simulators.h"
#include "time/PlatformClock.h"

namespace {

class CWatchdogListener : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override { CPlatformClock::Instance().ClearWatchdogFirings(); }
  void OnTestEnd(const testing::TestInfo& info) override {
    size_t n = CPlatformClock::Instance().WatchdogFirings();
    if (n == 0) return;
    m_failed = true;
    fprintf(stderr, "%s.%s: the watchdog gave up on %zu wait(s):\n", info.test_suite_name(), info.name(), n);
    for (const std::string& r : CPlatformClock::Instance().WatchdogReasons()) fprintf(stderr, "  %s\n", r.c_str());
  }
  bool Failed() const { return m_failed; }

 private:
  bool m_failed = false;
};

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);

  std::string runDir = drtest::MakeTempDir("drtest");
  CRunFolder::Set(runDir);
  CRunFolder::SetLockPath(runDir + "/locks");
  // Services this process publishes, and those of the programs it starts
  // (they inherit the variable), stay in its own folder.
  const std::string serviceDir = runDir + "/services";
  CZnsServiceDirectory::SetPath(serviceDir);
  setenv("DR_SERVICE_DIR", serviceDir.c_str(), 1);
  CLogSink::Instance().SetCapture(true);
  CSimulators::Install();
  // Child jobs ended here tell their DR job through the notifier, as the
  // host's do; tests that want the notices in this process say so.
  CJobSimulator::SetNotifierPath(DR_NOTIFIER);
  CPlatformClock& clock = CPlatformClock::Instance();
  clock.SetScale(drtest::kTestScale);
  clock.SetRecording(true);
  clock.SetWatchdogMs(drtest::kWatchdogMs);

  auto* listener = new CWatchdogListener();
  testing::UnitTest::GetInstance()->listeners().Append(listener);
  int rc = RUN_ALL_TESTS();
  if (listener->Failed()) rc = 1;
  if (rc == 0 && !getenv("DR_KEEP_TEST_DIR")) drtest::RemoveTree(runDir);
  return rc;
}
