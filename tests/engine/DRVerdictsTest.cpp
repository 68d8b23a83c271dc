// What the verdicts tell of a machine the job took up but no step of it ran,
// and whether a restart takes each machine over: a machine only the job's
// clean-up touched says what the clean-up did, a priority whose kind does
// not take the DR type says so and leaves nothing to a restart, and the
// context's answer (its restart test, the move check included) decides for
// every other machine, one a stop cut short mid-step too.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/DRVerdicts.h"
#include "engine/IDRContext.h"
#include "engine/VMMachinesTestBase.h"

namespace {

// A context whose only answer is which replications a restart admits.
class CAdmittingContext : public IDRContext {
 public:
  explicit CAdmittingContext(std::set<int> admitted) : m_admitted(std::move(admitted)) {}
  bool PerformOperation(SDROperationCtx&) override { return false; }
  bool ProcessPriority(const SDRPriority&) override { return false; }
  bool PostProcessPriority(const SDRPriority&) override { return true; }
  bool ProcessDROperationThread(SDROperationCtx&) override { return false; }
  bool CleanupDROperationThread(SDROperationCtx&) override { return true; }
  bool ProcessDRSubclientThread(SDROperationCtx&) override { return false; }
  bool IsMachineEligible(CDRInfo*) override { return true; }
  bool Cleanup(const SDRPriority&) override { return true; }
  bool IsAdmittedOnRestart(CDRInfo* info) override { return m_admitted.count(info->GetReplId()) > 0; }

 private:
  std::set<int> m_admitted;
};

class DRVerdicts : public CVMMachinesTestBase {
 protected:
  void SetUp() override {
    CVMMachinesTestBase::SetUp();
    m_machines = Machines({Repl(1), Repl(2), Repl(3), Repl(4)});
    m_verdicts.Begin(kJob, 1, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
    m_verdicts.Started({&m_vmPriority});
    for (CDRInfo* info : m_machines) m_records.push_back(info);
  }
  static void Phase(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::DRSite site, bool cleanUp) {
    SDRPhaseCtx p(kJob, phase, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, site, false);
    p.updatePhaseInfoTbl = false;
    p.notLastPhase = cleanUp;
    info->UpdatePhase(p);
  }

  std::vector<CDRInfo*> m_machines;
  std::vector<IDRBaseInfo*> m_records;
  CDRVerdicts m_verdicts;
};

TEST_F(DRVerdicts, AMachineOnlyTheCleanUpTouchedIsFailedWithWhatTheCleanUpDid) {
  // Under way, then brought back by the clean-up before any step of it.
  m_machines[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  Phase(m_machines[0], Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE, true);
  // Under way only.
  m_machines[1]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  // A step ran, then the clean-up: the step is what the line names.
  Phase(m_machines[2], Api::VIRTUAL_APP_PHASE_SHUTDOWN, Api::DR_SITE_SOURCE, false);
  Phase(m_machines[2], Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_SOURCE, true);

  const SMachineVerdict broughtBack = m_verdicts.Judge(*m_machines[0], true, false);
  EXPECT_EQ(EMachineVerdict::kFailed, broughtBack.verdict);
  EXPECT_EQ(0u, broughtBack.reason.find("the job was killed before its first step on the machine; the job's clean-up "
                                        "ran [Power On] on its source VM"))
      << broughtBack.reason;
  const SMachineVerdict underWay = m_verdicts.Judge(*m_machines[1], true, false);
  EXPECT_EQ(EMachineVerdict::kFailed, underWay.verdict) << "the job took it up: it was reached";
  EXPECT_EQ(0u, underWay.reason.find("the job was killed before its first step on the machine")) << underWay.reason;
  const SMachineVerdict stepped = m_verdicts.Judge(*m_machines[2], true, false);
  EXPECT_EQ(0u, stepped.reason.find("the job was killed after phase [Shutdown]")) << stepped.reason;
  EXPECT_EQ(std::string::npos, stepped.reason.find("clean-up")) << stepped.reason;
  const SMachineVerdict untouched = m_verdicts.Judge(*m_machines[3], true, false);
  EXPECT_EQ(EMachineVerdict::kNotReached, untouched.verdict);

  // Not stopped: what it holds since the job took it up.
  EXPECT_EQ("its failover status is [Failover in Progress]", m_verdicts.Judge(*m_machines[1], false, false).reason);
}

TEST_F(DRVerdicts, ARestartTakesOverWhatItsTestAdmitsAStopCutShortOrNot) {
  m_machines[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  // 2 failed in a step; 3 was cut short by the stop after a step; 4 was
  // only under way.
  Phase(m_machines[1], Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::DR_SITE_DESTINATION, false);
  Phase(m_machines[2], Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::DR_SITE_DESTINATION, false);
  m_machines[3]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  CAdmittingContext refusesAll({});
  m_verdicts.AskRestart(m_vmPriority, refusesAll, m_records);

  EXPECT_TRUE(m_verdicts.Judge(*m_machines[0], false, false).restartTakesOver) << "counted done again";
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[1], false, false).restartTakesOver);
  // A step cut short is no restart's by itself: its clean-up may have left
  // a status the restart refuses, and nothing the test admits is resumed.
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[2], true, false).restartTakesOver) << "the test refuses it";
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[3], true, false).restartTakesOver) << "no step of it to resume";

  CAdmittingContext admitsTwoAndThree({2, 3});
  m_verdicts.AskRestart(m_vmPriority, admitsTwoAndThree, m_records);
  EXPECT_TRUE(m_verdicts.Judge(*m_machines[1], false, false).restartTakesOver);
  EXPECT_TRUE(m_verdicts.Judge(*m_machines[2], true, false).restartTakesOver) << "the test (its move check) admits it";
  // A priority never run: a restart runs it.
  CDRVerdicts fresh;
  fresh.Begin(kJob, 1, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
  EXPECT_TRUE(fresh.Judge(*m_machines[1], false, false).restartTakesOver);
}

TEST_F(DRVerdicts, APriorityWhoseKindDoesNotTakeTheTypeSaysSoAndLeavesNothingToARestart) {
  m_verdicts.NotTaken(m_vmPriority, "VM replications");
  for (CDRInfo* info : m_machines) {
    const SMachineVerdict v = m_verdicts.Judge(*info, false, false);
    EXPECT_EQ(EMachineVerdict::kFailed, v.verdict);
    EXPECT_EQ("the DR type [Planned Failover] is not one for VM replications: the job did nothing to the machine",
              v.reason);
    EXPECT_FALSE(v.restartTakesOver);
  }
  // The verdicts store it with each machine, and read it back.
  ASSERT_TRUE(m_verdicts.Record(m_records, false, false));
  std::vector<SMachineVerdict> stored;
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(kJob, stored));
  ASSERT_EQ(4u, stored.size());
  for (const SMachineVerdict& v : stored) EXPECT_FALSE(v.restartTakesOver) << v.replicationId;
}

}  // namespace
