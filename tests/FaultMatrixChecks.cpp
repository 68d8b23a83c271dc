#include "FaultMatrixChecks.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "engine/DRInfo.h"
#include "jobs/JobStore.h"
#include "jobs/PhaseRowStore.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"
#include "vm/HypervisorLab.h"

namespace faultmatrix {

namespace {

bool LoggedLine(const std::string& text) { return CLogSink::Instance().Contains(text); }

}  // namespace

SCounts Counts(const std::vector<CDRInfo*>& machines) {
  SCounts counts;
  for (CDRInfo* info : machines) {
    if (info->IsSuccess()) {
      ++counts.succeeded;
    } else if (info->IsSkipped()) {
      ++counts.skipped;
    } else if (!info->IsPending()) {
      ++counts.failed;
    }
  }
  return counts;
}

void CheckEnd(long long jobId, int32_t finalState, const std::vector<CDRInfo*>& machines) {
  const bool suspended = finalState == Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED;
  std::vector<SPhaseRowRecord> rows;
  EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(jobId, rows));
  for (const SPhaseRowRecord& row : rows) {
    if (row.replicationId == 0) continue;
    // A suspended job leaves the rows of the steps it stopped to its
    // restart, but never those of a machine it completed.
    const bool completed = std::any_of(machines.begin(), machines.end(), [&row](CDRInfo* info) {
      return info != nullptr && info->GetReplId() == row.replicationId && info->IsSuccess();
    });
    if (suspended && !completed) continue;
    EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, row.status)
        << "replication " << row.replicationId << " phase " << row.phase << " left IN-PROGRESS"
        << (suspended ? " by the suspended job that completed it" : "");
  }
  const SCounts counts = Counts(machines);
  EXPECT_TRUE(LoggedLine(" Total machines for DR        [" + std::to_string(machines.size()) + "]"));
  if (counts.succeeded > 0) {
    EXPECT_TRUE(LoggedLine(" Total machines succeeded     [" + std::to_string(counts.succeeded) + "]"));
  }
  if (counts.failed > 0 && !suspended) {
    EXPECT_TRUE(LoggedLine(" Total machines failed        [" + std::to_string(counts.failed) + "]"));
  }
  if (counts.skipped > 0) {
    EXPECT_TRUE(LoggedLine(" Total machines skipped       [" + std::to_string(counts.skipped) + "]"));
  }
  std::vector<SChildJobRecord> jobs;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
  for (const SChildJobRecord& job : jobs) {
    // The DR job's syncs name no parent, as a schedule's do: every job of
    // the lab is the DR job's here.
    if (job.vmChild) continue;
    EXPECT_TRUE(job.ended || suspended) << "child job " << job.jobId << " still runs [" << job.status << "]";
  }
  EXPECT_EQ(0, CHypervisorLab::HungCalls()) << "a lab call is still in flight";
}

std::string LoggedErrors() {
  std::string out;
  for (const SLogLine& line : CLogSink::Instance().Captured()) {
    if (line.level == 0) out += line.function + ": " + line.text + "\n";
  }
  return out;
}

int ExitCodeOf(int32_t finalState) {
  switch (finalState) {
    case Api::VIRTUAL_APP_PHASE_STATE_SUCCESS: return 0;
    case Api::VIRTUAL_APP_PHASE_STATE_FAILED: return 1;
    case Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS: return 8;
    case Api::VIRTUAL_APP_PHASE_STATE_KILLED: return 9;
    case Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED: return 10;
    case Api::VIRTUAL_APP_PHASE_STATE_PENDING: return 11;
    default: return 12;
  }
}

}  // namespace faultmatrix

void CFaultSteer::Start(long long jobId, std::function<bool()> ready, std::function<void()> act) {
  ASSERT_FALSE(m_thread.Started()) << "one steering thread per case";
  m_thread.Start(
      [ready, act] {
        if (drtest::Eventually(ready)) act();
      },
      "steer");
  m_thread.OnStop([jobId] { CJobStore::SetControlOperation(jobId, 1); });
}
