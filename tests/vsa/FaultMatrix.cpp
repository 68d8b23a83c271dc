#include "FaultMatrix.h"

#include <string>
#include <vector>

#include "TestSupport.h"
#include "engine/DRInfo.h"
#include "jobsim/JobSimulator.h"
#include "log/LogSink.h"
#include "vm/HypervisorLab.h"

namespace {

// A child job's planned duration no test waits out (platform milliseconds).
constexpr long long kNeverEnds = 1000000000LL;

}  // namespace

void CFaultMatrix::TearDown() {
  // The steering thread ends before the fixture's simulators go.
  m_steer.Stop();
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

void CFaultMatrix::CheckEnd(int32_t finalState) { faultmatrix::CheckEnd(kJob, finalState, Machines()); }

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

void CFaultMatrix::LabFault(int replicationId, int site, int opType, ELabFault kind, int fromCall, int toCall) {
  PlantFault(opType, site == 0 ? VM(replicationId).sourceGuid : VM(replicationId).destGuid, kind, fromCall, toCall,
             7100, "planted failure");
}

void CFaultMatrix::TriggerOn(int replicationId, int site, int opType, bool kill) {
  LabFault(replicationId, site, opType, kill ? ELabFault::kKillJob : ELabFault::kSuspendJob);
}

void CFaultMatrix::Steer(std::function<bool()> ready, std::function<void()> act) {
  m_steer.Start(kJob, std::move(ready), std::move(act));
}

// Steered once the job has started, which may be after it ended: the jobs
// of the type are first made to run until they are told, before the run.
void CFaultMatrix::FailFirstChild(EChildJobType type, const std::string& reason) {
  CJobSimulator::SetDuration(type, kNeverEnds);
  Steer([type] { return FirstChild(type) != 0; }, [type, reason] { CJobSimulator::Fail(FirstChild(type), reason); });
}

void CFaultMatrix::KillInChildWait(EChildJobType type) {
  CJobSimulator::SetDuration(type, kNeverEnds);
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
