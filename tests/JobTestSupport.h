// Reads of the simulated job store for assertions: a read that fails fails
// the test instead of reading as "no job".
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "jobs/JobStore.h"

namespace drtest {

inline std::vector<SJobRecord> AllJobs() {
  std::vector<SJobRecord> jobs;
  EXPECT_EQ(EStoreResult::kOk, CJobStore::Jobs(jobs));
  return jobs;
}

inline std::string RestartString(long long jobId) {
  std::string text;
  EXPECT_EQ(EStoreResult::kOk, CJobStore::GetRestartString(jobId, text)) << "job " << jobId;
  return text;
}

// A run that was refused left the job as it was: its state, progress,
// restart string, control request and options, and no runner.
inline void ExpectJobUntouched(const SJobRecord& before, const SJobRecord& after) {
  EXPECT_EQ(before.status, after.status);
  EXPECT_EQ(before.percent, after.percent);
  EXPECT_EQ(before.restartString, after.restartString);
  EXPECT_EQ(before.controlOp, after.controlOp);
  EXPECT_EQ(before.optionsXml, after.optionsXml);
  EXPECT_TRUE(after.runner.Empty());
}

}  // namespace drtest
