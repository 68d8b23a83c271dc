// What the verdicts tell of a machine the job took up but no step of it ran,
// and whether a restart takes each machine over: a machine only the job's
// clean-up touched says what the clean-up did, a priority whose kind does
// not take the DR type says so and leaves nothing to a restart, and the
// context's answer decides for a machine a step did not leave half-way.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/DRVerdicts.h"
#include "engine/IDRContext.h"
#include "engine/VMMachinesTestBase.h"
#include "jobs/JobStore.h"

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

  static void Failed(CDRInfo* info, Api::VirtualAppJobPhaseType phase, bool notLast, const std::string& message) {
    SDRPhaseCtx p(kJob, phase, Api::VIRTUAL_APP_PHASE_STATE_FAILED, Api::DR_SITE_DESTINATION, false);
    p.updatePhaseInfoTbl = false;
    p.notLastPhase = notLast;
    p.message = message;
    info->UpdatePhase(p);
  }
  // The job's kill, as control kill requests it and the job's quit check
  // sees it.
  void Kill() {
    ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1));
    ASSERT_TRUE(m_jm->IsQuitFlagSet());
    ASSERT_TRUE(m_jm->IsJobKillIssued());
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

// A killed machine's reason is the kill: where it halted the machine comes
// first, what the kill's clean-up met after it may follow, and a failure
// the machine's steps let pass before the kill is no reason at all. A step
// that failed stays the reason, killed or not.
TEST_F(DRVerdicts, AKilledMachinesReasonNamesTheKillBeforeWhatItsCleanUpMet) {
  // 1: a step, the kill, then the clean-up's second revert of a snapshot
  // already gone.
  Phase(m_machines[0], Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, Api::DR_SITE_DESTINATION, false);
  // 2: a look-up whose "not found" is let pass, a step, then the kill.
  Failed(m_machines[1], Api::VIRTUAL_APP_PHASE_GET_VM_INFO, true, "VM [vm2] GUID [g2] not found on instance [4]");
  Phase(m_machines[1], Api::VIRTUAL_APP_PHASE_STORAGE_OPERATION, Api::DR_SITE_SOURCE, false);
  // 3: a step that failed on its own before the kill.
  Failed(m_machines[2], Api::VIRTUAL_APP_PHASE_POWER_ON, false, "Site [site-b] is down");
  Kill();
  Failed(m_machines[0], Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, true, "Snapshot [__OB_FAILOVER__] not found");
  Failed(m_machines[2], Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, true, "Snapshot gone");

  const SMachineVerdict cleanedUp = m_verdicts.Judge(*m_machines[0], true, false);
  EXPECT_EQ(EMachineVerdict::kFailed, cleanedUp.verdict);
  EXPECT_EQ("", cleanedUp.phase) << "the phase the clean-up failed in is not the machine's";
  EXPECT_EQ(0u, cleanedUp.reason.find("the job was killed after phase [Create Snapshot]; after the kill, phase "
                                      "[Revert Snapshot] failed: Snapshot [__OB_FAILOVER__] not found"))
      << cleanedUp.reason;
  const SMachineVerdict lookedUp = m_verdicts.Judge(*m_machines[1], true, false);
  EXPECT_EQ("", lookedUp.phase);
  EXPECT_EQ(0u, lookedUp.reason.find("the job was killed after phase [Storage Operation]")) << lookedUp.reason;
  EXPECT_EQ(std::string::npos, lookedUp.reason.find("not found")) << lookedUp.reason;
  const SMachineVerdict stepFailed = m_verdicts.Judge(*m_machines[2], true, false);
  EXPECT_EQ("Power On", stepFailed.phase);
  EXPECT_EQ("Site [site-b] is down", stepFailed.reason);

  // Not stopped, the failure let pass is all there is to tell.
  const SMachineVerdict notStopped = m_verdicts.Judge(*m_machines[1], false, false);
  EXPECT_EQ("Get VM Info VM", notStopped.phase);
  EXPECT_EQ("VM [vm2] GUID [g2] not found on instance [4]", notStopped.reason);
}

// The last error a priority logged is told to the machines it may be about:
// one naming another machine's replication or VM is not this machine's.
TEST_F(DRVerdicts, APrioritysLastErrorIsToldOnlyToTheMachinesItNames) {
  struct SCase {
    const char* error;
    std::set<int> toldTo;  // of replications 1 to 4
  };
  const SCase cases[] = {
      {"GetPointInTime(): No point in time specified for replication Id [2]", {2}},
      {"RunSync(): Sync failed for repl inputs [1,3]", {1, 3}},
      {"Pre-scripts failed for all source vms in replication list [4]", {4}},
      {"PostVMFailover(): Post Failover failed for VM [vm3-DR] GUID [dst-3]", {3}},
      {"PerformVMOp(): [Power On] on VM [vm1] failed", {1}},
      {"Failed to reach the management database", {1, 2, 3, 4}},
      {"No Replication ids are associated with Replication group [7]", {}},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.error);
    for (CDRInfo* info : m_machines) {
      EXPECT_EQ(c.toldTo.count(info->GetReplId()) != 0, CDRVerdicts::IsMachinesError(*info, c.error))
          << info->GetReplId();
    }
  }
  // In the verdict: the machine the error names gets it, the other none.
  m_machines[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  m_machines[1]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  m_verdicts.Ended({&m_vmPriority}, cases[0].error);
  EXPECT_EQ(std::string::npos, m_verdicts.Judge(*m_machines[0], false, false).reason.find("logged"));
  EXPECT_NE(std::string::npos, m_verdicts.Judge(*m_machines[1], false, false).reason.find(
                                   "priority [1] logged: GetPointInTime(): No point in time specified"));
}

TEST_F(DRVerdicts, ARestartTakesOverWhatItsTestAdmitsOrAStopCutShort) {
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
  EXPECT_TRUE(m_verdicts.Judge(*m_machines[2], true, false).restartTakesOver) << "a restart resumes a step cut short";
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[3], true, false).restartTakesOver) << "no step of it to resume";

  CAdmittingContext admitsTwo({2});
  m_verdicts.AskRestart(m_vmPriority, admitsTwo, m_records);
  EXPECT_TRUE(m_verdicts.Judge(*m_machines[1], false, false).restartTakesOver);
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
