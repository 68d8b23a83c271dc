// The orchestrator's running percent total: the records report every change
// of their progress, so the total must equal a fresh sum over the records
// after every step of a run, on the host's thread and on a pool, and must not
// drift when a record's progress goes down or is set to what it already is.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "engine/DRInfoUtils.h"
#include "StepJobTestBase.h"
#include "TestDRContext.h"
#include "TestStepContext.h"

namespace {

typedef CDRBaseTestPeer Peer;

const int kMachines = 1000;
// Steps with weights that add up past 100 (2 + 2 + 30 + 70 + 90), so the
// success at the end brings the surviving machines down to 100.
const ZNDR::BatchOperation kRunOps[] = {ZNDR::BATCH_OP_POWER_OFF_PRIMARY, ZNDR::BATCH_OP_POWER_ON_PRIMARY,
                                        ZNDR::BATCH_OP_BACKUP_PRIMARY, ZNDR::BATCH_OP_DR_VM_TEST_MOUNT,
                                        ZNDR::BATCH_OP_DR_VM_TEST_UNMOUNT};
const int kRunSteps = sizeof(kRunOps) / sizeof(kRunOps[0]);

int Weight(ZNDR::BatchOperation op) {
  SDROperationCtx ctx;
  DRInfoUtils::LoadBasicPhaseDetails(ctx, op);
  return DRInfoUtils::GetPhaseWeightage(ctx.phase, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
}

// Machine id -> the step (index into kRunOps) at which it fails; the others
// run through. Machines fail at every step, before any weight and after all.
std::map<int, int> FailingSteps() {
  std::map<int, int> out;
  for (int id = 1; id <= kMachines; ++id) {
    if (id % 7 == 0) out[id] = (id / 7) % kRunSteps;
  }
  return out;
}

// The progress every machine must show after the run and the final success.
int64_t ExpectedTotal() {
  const std::map<int, int> failing = FailingSteps();
  int64_t total = 0;
  for (int id = 1; id <= kMachines; ++id) {
    auto it = failing.find(id);
    if (it == failing.end()) {
      total += 100;
      continue;
    }
    for (int step = 0; step < it->second; ++step) total += Weight(kRunOps[step]);
  }
  return total;
}

// A record changes its progress only inside a step's PerformOperation (and in
// Complete, after the pool). The steps hold the gate shared, so a refresh that
// takes it alone sees every record at rest and can compare the running total
// with a recount exactly, whatever the other workers are doing.
class CGatedContext : public CStepTestContext {
 public:
  CGatedContext(CDRBase& dr, std::shared_mutex& gate) : CStepTestContext(dr), m_gate(gate) {}
  bool PerformOperation(SDROperationCtx& ctx) override {
    std::shared_lock<std::shared_mutex> lock(m_gate);
    return CStepTestContext::PerformOperation(ctx);
  }

 private:
  std::shared_mutex& m_gate;
};

class PercentTotalRun : public CStepJobTestBase {
 protected:
  explicit PercentTotalRun(long long jobId) : CStepJobTestBase(jobId) {}

  void SetUp() override {
    CStepJobTestBase::SetUp();
    m_all = m_machines.Add(1, kMachines);
    m_gated.innerStep = true;
    m_dr.onRefresh = [this] {
      std::unique_lock<std::shared_mutex> exclusive(m_gate);
      const bool same = Peer::RecountPercent(m_dr) == Peer::RunningPercent(m_dr);
      std::lock_guard<std::mutex> lock(m_countMutex);
      ++m_checks;
      m_mismatches += same ? 0 : 1;
    };
  }

  // Every machine through the five steps, each as one batch operation whose
  // per-machine body runs the step; the failing machines drop out as they
  // fail. A snapshot-unmount phase keeps the batch on the calling thread.
  void Run(bool pooled) {
    for (int step = 0; step < kRunSteps; ++step) {
      for (const auto& entry : FailingSteps()) {
        if (entry.second == step) m_gated.failIds.insert(entry.first);
      }
      m_gated.innerOp = kRunOps[step];
      SDROperationCtx ctx;
      ctx.drInfoList = m_all;
      ctx.priority = &m_machines.priority;
      ctx.batchOp = kRunOps[step];
      if (!pooled) ctx.phase = Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT;
      EXPECT_TRUE(m_dr.ProcessIDABatchOp(m_gated, ctx));
      EXPECT_EQ(Peer::RecountPercent(m_dr), Peer::RunningPercent(m_dr)) << "after step " << step;
    }
    // Every machine's body refreshes when it ends, each inner step that
    // succeeded refreshes too.
    EXPECT_GE(m_checks, kRunSteps * kMachines);
    EXPECT_EQ(0, m_mismatches);

    // The survivors succeed: up to 100 or, past it, down to 100.
    SDROperationCtx all;
    all.drInfoList = m_all;
    m_dr.Complete(all);
    EXPECT_EQ(Peer::RecountPercent(m_dr), Peer::RunningPercent(m_dr));
    EXPECT_EQ(ExpectedTotal(), Peer::RunningPercent(m_dr));
    EXPECT_EQ(static_cast<int32_t>(ExpectedTotal() / kMachines) + m_jm.GetJobBeginPercentage(),
              m_dr.ComputePercentComplete());
  }

  std::vector<CDRInfo*> m_all;
  std::shared_mutex m_gate;
  CGatedContext m_gated{m_dr, m_gate};
  std::mutex m_countMutex;
  int m_checks = 0;
  int m_mismatches = 0;
};

class PercentTotal : public PercentTotalRun {
 protected:
  PercentTotal() : PercentTotalRun(4710) {}
};

TEST_F(PercentTotal, RunningTotalEqualsRecountAfterEveryStepOnOneThread) {
  Run(false);
  EXPECT_EQ(1, m_gated.MaxRunning());
}

class PercentTotalConcurrency : public PercentTotalRun {
 protected:
  PercentTotalConcurrency() : PercentTotalRun(4711) {}
};

TEST_F(PercentTotalConcurrency, RunningTotalEqualsRecountAfterEveryStepOnThePool) {
  m_gated.holdUntilRunning = 10;
  Run(true);
  EXPECT_EQ(10, m_gated.MaxRunning());
}

// A record whose progress a test sets freely, reporting like a real one.
class CMovingInfo : public CTestDRInfo {
 public:
  CMovingInfo() : CTestDRInfo(false, false, false) {}
  int GetPercentageComplete() override { return m_percent; }
  void Set(int percent) {
    const int before = m_percent;
    m_percent = percent;
    ReportPercentChange(static_cast<int64_t>(percent) - before);
  }

 private:
  int m_percent = 0;
};

class PercentTotalDrift : public testing::Test {
 protected:
  void SetUp() override { Peer::SetJobManager(m_dr, &m_jm); }
  CDRInfo* Machine(int replId) {
    SDataSourceInfo ds;
    ds.replId = replId;
    SDRInfoCtx ctx(nullptr, ds, m_priority);
    ctx.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    return new CDRInfo(ctx);
  }
  static void Succeed(CDRInfo* info, Api::VirtualAppJobPhaseType phase) {
    SDRPhaseCtx p(0, phase, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Api::DR_SITE_SOURCE, true);
    p.raisePendingCause = false;
    info->UpdatePhase(p);
  }
  void ExpectTotal(int64_t expected) {
    EXPECT_EQ(expected, Peer::RunningPercent(m_dr));
    EXPECT_EQ(Peer::RecountPercent(m_dr), Peer::RunningPercent(m_dr));
  }

  STestScript m_script;
  CDRJobManager m_jm;
  CTestDR m_dr{m_script};
  SDRPriority m_priority;
};

TEST_F(PercentTotalDrift, ProgressGoingDownOrSetTwiceLeavesNoDrift) {
  CMovingInfo* moving = new CMovingInfo();
  Peer::AddInfo(m_dr, moving);
  moving->Set(50);
  moving->Set(20);
  moving->Set(20);
  ExpectTotal(20);
  moving->Set(-5);
  ExpectTotal(-5);
  moving->Set(70);
  ExpectTotal(70);
}

TEST_F(PercentTotalDrift, SuccessJumpsToHundredUpOrDownAndOnlyOnce) {
  CDRInfo* below = Machine(1);
  CDRInfo* above = Machine(2);
  Peer::AddInfo(m_dr, below);
  Peer::AddInfo(m_dr, above);
  const Api::VirtualAppJobPhaseType heavy = Api::VirtualAppJobPhaseType(39);
  const int w = DRInfoUtils::GetPhaseWeightage(heavy, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
  ASSERT_GT(2 * w, 100);
  Succeed(above, heavy);
  Succeed(above, heavy);
  Succeed(below, Api::VIRTUAL_APP_PHASE_BACKUP);
  ExpectTotal(2 * w + below->GetPercentageComplete());

  // One goes up to 100, the other (past 100, no cap) down to it.
  below->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  above->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  ExpectTotal(200);
  // Success again, more weight after success, and states that do not touch
  // progress: still 100 each.
  above->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  Succeed(below, heavy);
  below->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  above->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  ExpectTotal(200);
  EXPECT_EQ(100 + m_jm.GetJobBeginPercentage(), m_dr.ComputePercentComplete());
}

TEST_F(PercentTotalDrift, AdoptionCountsWhatARecordAlreadyShowsAndLooseRecordsReportToNobody) {
  CDRInfo* early = Machine(1);
  Succeed(early, Api::VIRTUAL_APP_PHASE_BACKUP);
  const int before = early->GetPercentageComplete();
  ASSERT_GT(before, 0);
  Peer::AddInfo(m_dr, early);
  Peer::AddInfo(m_dr, new CTestDRInfo(true, false, false));
  ExpectTotal(before + 100);

  // A record no orchestrator adopted keeps working on its own.
  std::unique_ptr<CDRInfo> loose(Machine(3));
  Succeed(loose.get(), Api::VIRTUAL_APP_PHASE_BACKUP);
  loose->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  EXPECT_EQ(100, loose->GetPercentageComplete());
  ExpectTotal(before + 100);
}

}  // namespace
