// drjob refuses to start on a time scale that is not a sensible number: one
// line naming the value and a failing exit, before any command touches the
// lab. The clock's reader states the same rules for one text.
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "time/PlatformClock.h"

namespace {

struct SRun {
  int code;
  std::string output;
};

// Seeds a lab in dir with the variable set to the value (even when empty).
SRun SeedWith(const std::string& dir, const std::string& variable, const std::string& value) {
  const std::string command = "DR_RUN_DIR='" + dir + "/run' DR_LOCK_DIR='" + dir + "/locks' " + variable + "='" +
                              value + "' " + std::string(DR_DRJOB) + " seed --db '" + dir + "/lab.db' 2>&1";
  SRun run{-1, std::string()};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) run.output += buffer;
  const int status = pclose(pipe);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Seeds a lab in dir under the given DR_TIME_SCALE.
SRun SeedWithScale(const std::string& dir, const std::string& scale) { return SeedWith(dir, "DR_TIME_SCALE", scale); }

const char* const kRefused[] = {"nan", "inf", "-1", "0", "1e9", "abc", "0.001x", "", " 0.001", "1e-7", "1000.5"};

}  // namespace

TEST(E2EDrJobTimeScale, ABadScaleIsRefusedBeforeAnyCommandRuns) {
  const std::string dir = drtest::MakeTempDir("timescale");
  for (const char* scale : kRefused) {
    SCOPED_TRACE(std::string("DR_TIME_SCALE='") + scale + "'");
    SRun run = SeedWithScale(dir, scale);
    EXPECT_EQ(2, run.code) << run.output;
    EXPECT_EQ("drjob: DR_TIME_SCALE [" + std::string(scale) + "] is not a number from 1e-06 to 1000\n", run.output);
    EXPECT_FALSE(drtest::PathExists(dir + "/lab.db")) << "the seed ran";
  }
  // The bounds themselves, and the tests' own scale, start.
  for (const char* scale : {"0.001", "1e-6", "1000"}) {
    SCOPED_TRACE(scale);
    SRun run = SeedWithScale(dir, scale);
    EXPECT_EQ(0, run.code) << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("DR_TIME_SCALE")) << run.output;
    remove((dir + "/lab.db").c_str());
  }
  drtest::RemoveTree(dir);
}

TEST(ClockScale, OnlyAFiniteNumberWithinTheBoundsIsAScale) {
  for (const char* text : kRefused) {
    double scale = 7.0;
    std::string error;
    EXPECT_FALSE(CPlatformClock::ParseScale(text, scale, error)) << "[" << text << "]";
    EXPECT_EQ(7.0, scale) << "a refused text must leave the scale alone";
    EXPECT_NE(std::string::npos, error.find(std::string("DR_TIME_SCALE [") + text + "]")) << error;
  }
  double scale = 0;
  std::string error;
  ASSERT_TRUE(CPlatformClock::ParseScale("0.25", scale, error));
  EXPECT_EQ(0.25, scale);
  ASSERT_TRUE(CPlatformClock::ParseScale("1e-6", scale, error));
  EXPECT_EQ(CPlatformClock::kMinScale, scale);
  ASSERT_TRUE(CPlatformClock::ParseScale("1e3", scale, error));
  EXPECT_EQ(CPlatformClock::kMaxScale, scale);
  EXPECT_FALSE(CPlatformClock::ParseScale(nullptr, scale, error));
}

// The counts of the crash, kill and pause points are refused as the scale
// is: a number too large for a long would otherwise be read as the largest
// one, and the point armed at a line that never comes.
TEST(E2EDrJobTimeScale, ABadCountOfACrashKillOrPausePointIsRefusedBeforeAnyCommandRuns) {
  const std::string dir = drtest::MakeTempDir("pointcounts");
  for (const char* variable :
       {"DR_CRASH_AT_COUNT", "DR_CRASH_AFTER_LINES", "DR_KILL_AT_COUNT", "DR_PAUSE_AT_COUNT"}) {
    for (const char* count : {"99999999999999999999", "9223372036854775808", "0", "-3", "+2", " 2", "2x", ""}) {
      SCOPED_TRACE(std::string(variable) + "='" + count + "'");
      SRun run = SeedWith(dir, variable, count);
      EXPECT_EQ(2, run.code) << run.output;
      EXPECT_EQ("drjob: " + std::string(variable) + " [" + count + "] is not a positive whole number\n", run.output);
      EXPECT_FALSE(drtest::PathExists(dir + "/lab.db")) << "the seed ran";
    }
    // The largest count there is still arms (at a line that never comes).
    SRun run = SeedWith(dir, variable, "9223372036854775807");
    EXPECT_EQ(0, run.code) << variable << ": " << run.output;
    remove((dir + "/lab.db").c_str());
  }
  drtest::RemoveTree(dir);
}
