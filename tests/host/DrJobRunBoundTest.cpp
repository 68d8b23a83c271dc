// A drjob run of a crash-matrix case that never ends (a hung call or child
// job, a run stopped and never let go on) ends its test with its lines, at
// the case's bound, not at ctest's timeout (CCrashMatrix::ReadToEnd).
#include <dirent.h>
#include <gtest/gtest-spi.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/CrashMatrix.h"

namespace {

// The processes whose command line names text (the case's lab).
std::vector<std::string> ProcessesNaming(const std::string& text) {
  std::vector<std::string> found;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* entry = readdir(proc)) {
    if (atoi(entry->d_name) <= 0) continue;
    std::string line = drtest::ReadFile("/proc/" + std::string(entry->d_name) + "/cmdline");
    for (char& c : line) {
      if (c == '\0') c = ' ';
    }
    if (line.find(text) != std::string::npos) found.push_back(std::string(entry->d_name) + ": " + line);
  }
  closedir(proc);
  return found;
}

class E2EDrJobRunBound : public crashmatrix::CCrashMatrix {};

// A printed command run as printed, whose drjob stops itself at a pause
// point and is never let go on: the shell and drjob are killed at the
// bound, the case fails with drjob's lines, and the case's next run is
// refused at once.
TEST_F(E2EDrJobRunBound, AHungRunIsKilledWithTheShellThatRanItAndNoLaterRunStarts) {
  SetRunBoundMs(3000);
  const std::string db = FreshLab(crashmatrix::EStartLab::kSeeded);
  testing::TestPartResultArray failures;
  drtest::SResult hung{-1, std::string()}, after{-1, std::string()};
  const auto started = std::chrono::steady_clock::now();
  {
    testing::ScopedFakeTestPartResultReporter reporter(
        testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    hung = RunAsPrinted("drjob run --db " + db + " --group Sample --type planned-failover --job-id 7",
                        {"DR_PAUSE_AT=PriorityDR(): Processing PRIORITY ["});
    int signal = 0;
    after = RunHost({}, {"lab", "--db", db, "show"}, signal);
  }
  const long long tookMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  EXPECT_LT(tookMs, 60000);
  EXPECT_EQ(-1, hung.code);
  EXPECT_NE(std::string::npos, hung.output.find("drjob: DR job [7] on DR group [Sample]")) << hung.output;
  ASSERT_EQ(2, failures.size());
  const std::string killed = failures.GetTestPartResult(0).message();
  EXPECT_NE(std::string::npos, killed.find("a drjob run did not end within 3 s")) << killed;
  EXPECT_NE(std::string::npos, killed.find("drjob: DR job [7] on DR group [Sample]")) << killed;
  EXPECT_NE(std::string::npos,
            std::string(failures.GetTestPartResult(1).message()).find("not run: an earlier drjob run of this case"))
      << failures.GetTestPartResult(1).message();
  EXPECT_EQ(-1, after.code);
  EXPECT_TRUE(drtest::Eventually([&db] { return ProcessesNaming(db).empty(); }, 10000));
  for (const std::string& left : ProcessesNaming(db)) ADD_FAILURE() << "still running: " << left;
}

}  // namespace
