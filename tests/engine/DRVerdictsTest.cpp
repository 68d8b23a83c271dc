// What the verdicts tell of a machine the job took up but no step of it ran,
// and whether a restart takes each machine over: a machine only the job's
// clean-up touched says what the clean-up did, a priority whose kind does
// not take the DR type says so and leaves nothing to a restart, and the
// context's answer (its restart test, the move check included) decides for
// every other machine, one a stop cut short mid-step too.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/DRVerdicts.h"
#include "engine/IDRAdmission.h"
#include "engine/IDRContext.h"
#include "engine/VMMachinesTestBase.h"
#include "jobs/JobStore.h"

namespace {

// A context whose only answers are which replications a restart and a new
// job admit, and which stand where its type puts them.
class CAdmittingContext : public IDRContext, public IDRAdmission {
 public:
  explicit CAdmittingContext(std::set<int> admitted, std::set<int> newJob = {}, std::set<int> inPlace = {})
      : m_admitted(std::move(admitted)), m_newJob(std::move(newJob)), m_inPlace(std::move(inPlace)) {}
  bool PerformOperation(SDROperationCtx&) override { return false; }
  bool ProcessPriority(const SDRPriority&) override { return false; }
  bool PostProcessPriority(const SDRPriority&) override { return true; }
  bool ProcessDROperationThread(SDROperationCtx&) override { return false; }
  bool CleanupDROperationThread(SDROperationCtx&) override { return true; }
  bool ProcessDRSubclientThread(SDROperationCtx&) override { return false; }
  bool IsMachineEligible(CDRInfo*) override { return true; }
  bool Cleanup(const SDRPriority&) override { return true; }
  bool IsAdmittedOnRestart(CDRInfo* info) override { return m_admitted.count(info->GetReplId()) > 0; }
  bool IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType) override {
    return m_newJob.count(info->GetReplId()) > 0;
  }
  bool IsInPlace(CDRInfo* info) override { return m_inPlace.count(info->GetReplId()) > 0; }
  EWorkloadRuns WorkloadRuns(CDRInfo*) override { return EWorkloadRuns::kRuns; }

 private:
  std::set<int> m_admitted;
  std::set<int> m_newJob;
  std::set<int> m_inPlace;
};

// What a new job of each type admits, by replication; a type not named has
// no context for the priority's kind.
CDRVerdicts::ContextMaker Admitting(std::map<TMMsg::DROrchestrationType, std::set<int>> byType,
                                    std::set<int> restart = {}) {
  return [byType, restart](const SDRPriority&, TMMsg::DROrchestrationType type) -> IDRContext* {
    const auto found = byType.find(type);
    return found == byType.end() ? nullptr : new CAdmittingContext(restart, found->second);
  };
}

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

TEST_F(DRVerdicts, ARestartTakesOverWhatItsTestAdmitsAStopCutShortOrNot) {
  m_machines[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  // 2 failed in a step; 3 was cut short by the stop after a step; 4 was
  // only under way.
  Phase(m_machines[1], Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::DR_SITE_DESTINATION, false);
  Phase(m_machines[2], Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::DR_SITE_DESTINATION, false);
  m_machines[3]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  CAdmittingContext refusesAll({});
  m_verdicts.AskAdmissions(m_vmPriority, refusesAll, m_records);

  EXPECT_TRUE(m_verdicts.Judge(*m_machines[0], false, false).restartTakesOver) << "counted done again";
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[1], false, false).restartTakesOver);
  // A step cut short is no restart's by itself: its clean-up may have left
  // a status the restart refuses, and nothing the test admits is resumed.
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[2], true, false).restartTakesOver) << "the test refuses it";
  EXPECT_FALSE(m_verdicts.Judge(*m_machines[3], true, false).restartTakesOver) << "no step of it to resume";

  CAdmittingContext admitsTwoAndThree({2, 3});
  m_verdicts.AskAdmissions(m_vmPriority, admitsTwoAndThree, m_records);
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

TEST_F(DRVerdicts, AMachineNoNextStepTakesIsStoredWithTheTypeThatDoesAndANotReachedOneIsAsked) {
  // A revert killed before its first priority: nothing of it was run, so
  // each machine is asked as it stands. 1 a revert takes (again, or new);
  // 2 and 3 an undo and a failback take (the undo is named after a revert),
  // 4 only a failback; nothing takes the last.
  m_machines.push_back(Machines({Repl(5)}).front());
  m_records.push_back(m_machines.back());
  CDRVerdicts revert;
  revert.Begin(kJob, 1, TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER);
  revert.SetContextMaker(Admitting({{TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER, {1}},
                                    {TMMsg::DR_ORCHESTRATION_FAILBACK, {2, 3, 4}},
                                    {TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, {2, 3}},
                                    {TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION, {5}}},
                                   {1}));
  ASSERT_TRUE(revert.RecordNotReached(m_records, "the job was killed before its first priority"));
  std::vector<SMachineVerdict> stored;
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(kJob, stored));
  ASSERT_EQ(5u, stored.size());
  const TMMsg::DROrchestrationType none = TMMsg::DR_ORCHESTRATION_NONE;
  const TMMsg::DROrchestrationType expected[] = {TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER,
                                                 TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER,
                                                 TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER,
                                                 TMMsg::DR_ORCHESTRATION_FAILBACK, none};
  for (size_t i = 0; i < stored.size(); ++i) {
    const SMachineVerdict& v = stored[i];
    EXPECT_EQ(EMachineVerdict::kNotReached, v.verdict);
    EXPECT_EQ(i == 0, v.restartTakesOver) << "a machine never reached is taken only if a restart admits it: " << i;
    EXPECT_EQ(i == 0, v.newJobTakesOver) << i;
    EXPECT_EQ(static_cast<int>(expected[i]), v.takingType) << "a reverse replication moves no workload: " << i;
  }
}

// After a failover type only a failover type carries a machine on: the
// failback and the undo, which would take the workload back the way it
// came, are never named, however they admit it. A type that needs an
// option the job cannot give another type (a point in time) is stored
// with it; a machine already where the type puts it is stored in place,
// with no type at all.
TEST_F(DRVerdicts, AMachineIsPointedOnlyAtATypeThatCarriesTheJobForwardOrAtNoneWhenInPlace) {
  m_machines.push_back(Machines({Repl(5)}).front());
  m_records.push_back(m_machines.back());
  CDRVerdicts planned;
  planned.Begin(kJob, 2, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER);
  // 1 stands failed over; 2 only the ways back take; 3 an unplanned
  // failover takes; 4 only a point-in-time failover; 5 nothing.
  planned.SetContextMaker([](const SDRPriority&, TMMsg::DROrchestrationType type) -> IDRContext* {
    switch (type) {
      case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER: return new CAdmittingContext({}, {}, {1});
      case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER: return new CAdmittingContext({}, {3});
      case TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER: return new CAdmittingContext({}, {3, 4});
      case TMMsg::DR_ORCHESTRATION_FAILBACK:
      case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER: return new CAdmittingContext({}, {1, 2, 3, 4, 5});
      default: return nullptr;
    }
  });
  ASSERT_TRUE(planned.Record(m_records, false, false));
  std::vector<SMachineVerdict> stored;
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(kJob, stored));
  ASSERT_EQ(5u, stored.size());
  const int unplanned = TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER;
  const int pointInTime = TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER;
  const int expected[] = {0, 0, unplanned, pointInTime, 0};
  for (size_t i = 0; i < stored.size(); ++i) {
    EXPECT_EQ(expected[i], stored[i].takingType) << "replication " << stored[i].replicationId;
    EXPECT_EQ(i == 0 ? EMachinePlace::kFailedOver : EMachinePlace::kNone, stored[i].place) << i;
    EXPECT_EQ(i == 3 ? EMachineOption::kPointInTime : EMachineOption::kNone, stored[i].neededOption) << i;
  }

  // After an undo, the ways home: the failover that would take 2 back to
  // DR is not one of them.
  CDRVerdicts undo;
  undo.Begin(kJob, 3, TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER);
  undo.SetContextMaker([](const SDRPriority&, TMMsg::DROrchestrationType type) -> IDRContext* {
    switch (type) {
      case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER: return new CAdmittingContext({}, {}, {1});
      case TMMsg::DR_ORCHESTRATION_FAILBACK: return new CAdmittingContext({}, {3});
      case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER: return new CAdmittingContext({}, {1, 2, 3, 4, 5});
      default: return nullptr;
    }
  });
  ASSERT_TRUE(undo.Record(m_records, false, false));
  ASSERT_EQ(EStoreResult::kOk, CMachineVerdictStore::ReadJob(kJob, stored));
  ASSERT_EQ(5u, stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    EXPECT_EQ(i == 2 ? static_cast<int>(TMMsg::DR_ORCHESTRATION_FAILBACK) : 0, stored[i].takingType) << i;
    EXPECT_EQ(i == 0 ? EMachinePlace::kAtSource : EMachinePlace::kNone, stored[i].place) << i;
  }
}

TEST_F(DRVerdicts, ThePriorityRunAsksTheContextItRanOnAndMakesOthersOnlyForTheMachinesItLeft) {
  // 1 succeeded; 2 a restart and a new job take; 3 neither, an unplanned
  // failover does.
  m_machines[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  Phase(m_machines[1], Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::DR_SITE_DESTINATION, false);
  Phase(m_machines[2], Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::DR_SITE_DESTINATION, false);
  int made = 0;
  m_verdicts.SetContextMaker([&made](const SDRPriority&, TMMsg::DROrchestrationType type) -> IDRContext* {
    ++made;
    return type == TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER ? new CAdmittingContext({}, {3}) : nullptr;
  });
  CAdmittingContext ran({2}, {1, 2});
  m_verdicts.AskAdmissions(m_vmPriority, ran, m_records);
  const SMachineVerdict done = m_verdicts.Judge(*m_machines[0], false, false);
  EXPECT_TRUE(done.restartTakesOver);
  EXPECT_TRUE(done.newJobTakesOver) << "a new job of the type runs it again";
  EXPECT_EQ(0, done.takingType) << "a machine done is pointed nowhere";
  const SMachineVerdict both = m_verdicts.Judge(*m_machines[1], false, false);
  EXPECT_TRUE(both.restartTakesOver && both.newJobTakesOver);
  EXPECT_EQ(static_cast<int>(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER), both.takingType);
  const SMachineVerdict left = m_verdicts.Judge(*m_machines[2], false, false);
  EXPECT_FALSE(left.restartTakesOver || left.newJobTakesOver);
  EXPECT_EQ(static_cast<int>(TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER), left.takingType);
  // Each other type's context made once for the priority, not per machine.
  EXPECT_LE(made, 5);
}

}  // namespace
