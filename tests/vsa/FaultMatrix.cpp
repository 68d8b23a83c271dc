#include "FaultMatrix.h"

#include <string>
#include <vector>

#include "TestSupport.h"
#include "engine/DRInfo.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"
#include "vm/HypervisorLab.h"

void CFaultMatrix::TearDown() {
  // The steering thread ends before the fixture's simulators go.
  m_steer = drtest::CTestThread();
  CVSALabFixture::TearDown();
}

int32_t CFaultMatrix::RunCase(const SFaultCase& c) {
  SCOPED_TRACE(c.name);
  SVSALabSpec lab = c.lab;
  lab.operationClasses = true;
  Seed(lab);
  if (c.plant) c.plant(*this);
  const int32_t state = RunDR();
  if (m_steer.Started()) {
    EXPECT_TRUE(m_steer.Join()) << c.name << ": the steering thread did not end";
  }
  EXPECT_EQ(c.expectedState, state) << c.name << ": the errors the run logged:\n" << LoggedErrors();
  CheckEnd(state);
  return state;
}

void CFaultMatrix::CheckEnd(int32_t finalState) {
  const bool suspended = finalState == Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED;
  for (const SPhaseRowRecord& row : JobRows()) {
    if (row.replicationId == 0 || suspended) continue;
    EXPECT_NE(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, row.status)
        << "replication " << row.replicationId << " phase " << row.phase << " left IN-PROGRESS";
  }
  const SCounts counts = Counts();
  EXPECT_TRUE(LoggedLine(" Total machines for DR        [" + std::to_string(Machines().size()) + "]"));
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

void CFaultMatrix::CheckKilledRun(int32_t finalState) {
  const SCounts counts = Counts();
  EXPECT_EQ(counts.succeeded > 0 ? Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS
                                 : Api::VIRTUAL_APP_PHASE_STATE_KILLED,
            finalState)
      << LoggedErrors();
  EXPECT_GT(counts.failed, 0);
  for (const SVSALabVM& vm : VMs()) {
    const bool succeeded = Machine(vm.replicationId)->IsSuccess();
    EXPECT_EQ(succeeded ? App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE : App::VSA_FAILOVER_STATUS_FAILOVER_FAILED,
              StoredFailoverStatus(vm.replicationId))
        << vm.replicationId;
    if (m_spec.drType == TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
      EXPECT_NE(succeeded, SourceVM(vm.replicationId).poweredOn) << vm.replicationId;
    }
  }
  CheckEnd(finalState);
}

std::string CFaultMatrix::LoggedErrors() {
  std::string out;
  for (const SLogLine& line : CLogSink::Instance().Captured()) {
    if (line.level == 0) out += line.function + ": " + line.text + "\n";
  }
  return out;
}

int CFaultMatrix::ExitCodeOf(int32_t finalState) {
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

void CFaultMatrix::LabFault(int replicationId, int site, int opType, ELabFault kind, int fromCall, int toCall) {
  PlantFault(opType, site == 0 ? VM(replicationId).sourceGuid : VM(replicationId).destGuid, kind, fromCall, toCall,
             7100, "planted failure");
}

void CFaultMatrix::TriggerOn(int replicationId, int site, int opType, bool kill) {
  LabFault(replicationId, site, opType, kill ? ELabFault::kKillJob : ELabFault::kSuspendJob);
}

void CFaultMatrix::Steer(std::function<bool()> ready, std::function<void()> act) {
  ASSERT_FALSE(m_steer.Started()) << "one steering thread per case";
  m_steer.Start(
      [ready, act] {
        if (drtest::Eventually(ready)) act();
      },
      "steer");
  // A run that never gets there still ends: its job is killed.
  m_steer.OnStop([] { CJobStore::SetControlOperation(kJob, 1); });
}

void CFaultMatrix::KillInChildWait(EChildJobType type) {
  Steer([type] { return FirstChild(type) != 0; },
        [this, type] {
          CJobSimulator::Hang(FirstChild(type));
          Kill();
        });
}

void CFaultMatrix::ExpectChildKilled(EChildJobType type) {
  SChildJobRecord job;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::GetJob(FirstChild(type), job));
  EXPECT_TRUE(job.ended);
  EXPECT_EQ("Killed", job.status);
}

bool CFaultMatrix::ChildRunning(EChildJobType type) {
  for (const SChildJobRecord& job : ChildJobs(type)) {
    if (!job.ended) return true;
  }
  return false;
}

long long CFaultMatrix::FirstChild(EChildJobType type) {
  const std::vector<SChildJobRecord> jobs = ChildJobs(type);
  return jobs.empty() ? 0 : jobs.front().jobId;
}

CFaultMatrix::SCounts CFaultMatrix::Counts() {
  SCounts counts;
  for (CDRInfo* info : Machines()) {
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

SVSALabSpec CFaultMatrix::Lab(TMMsg::DROrchestrationType type, int replications, int groups) {
  SVSALabSpec spec;
  spec.drType = type;
  spec.replications = replications;
  spec.subclientGroups = groups;
  return spec;
}

bool CFaultMatrix::HasSnapshot(int replicationId, int site, const std::string& name) const {
  for (const std::string& n : SnapshotNames(replicationId, site)) {
    if (n == name) return true;
  }
  return false;
}
