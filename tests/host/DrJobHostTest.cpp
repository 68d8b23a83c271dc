#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include <gtest/gtest.h>

#include "DrJobArgs.h"

namespace {

struct SResult {
  int code;
  std::string output;
};

SResult RunDrJob(const std::string& args) {
  std::string command = std::string(DR_DRJOB) + " " + args + " 2>&1";
  SResult result{-1, std::string()};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) result.output += buffer;
  int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(E2EDrJobHost, BadArgumentsGiveOneClearErrorAndAFailingExit) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "no command given"},
      {"bogus", "unknown command [bogus]"},
      {"run --db x.db --group g --type 99", "unknown DR type [99]"},
      {"run --db x.db --type 1", "run needs --group NAME|ID"},
      {"run --db x.db --group g", "run needs --type TYPE"},
      {"run --group g --type 1", "run needs --db PATH"},
      {"run --db x.db --group g --type 1 --job-id -4", "bad job id [-4]"},
      {"run --db x.db --group g --type 1 --job-id 99999999999999999999", "bad job id"},
      {"control --db x.db --job 5", "control needs kill or suspend"},
      {"control --db x.db kill", "control needs --job N"},
      {"control --db x.db --job 5 restart", "unexpected argument [restart]"},
      {"seed --db", "option --db needs a value"},
  };
  for (const auto& c : cases) {
    SResult r = RunDrJob(c.first);
    EXPECT_EQ(2, r.code) << c.first;
    EXPECT_NE(std::string::npos, r.output.find(std::string("drjob: ") + c.second)) << c.first << "\n" << r.output;
  }
}

TEST(E2EDrJobHost, UnreadableDatabaseIsRefused) {
  SResult r = RunDrJob("run --db /nonexistent/dir/lab.db --group Sample --type planned-failover");
  EXPECT_EQ(4, r.code);
  EXPECT_NE(std::string::npos, r.output.find("drjob: cannot read the database [/nonexistent/dir/lab.db]"));
}

TEST(DrJobArgs, TypesByNumberAndName) {
  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;
  EXPECT_TRUE(CDrJobArgs::ParseType("1", type));
  EXPECT_EQ(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, type);
  EXPECT_TRUE(CDrJobArgs::ParseType("undo-test-failover", type));
  EXPECT_EQ(TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER, type);
  EXPECT_FALSE(CDrJobArgs::ParseType("5", type));
  EXPECT_FALSE(CDrJobArgs::ParseType("12", type));
  EXPECT_FALSE(CDrJobArgs::ParseType("0", type));
  EXPECT_FALSE(CDrJobArgs::ParseType("1x", type));
}

}  // namespace
