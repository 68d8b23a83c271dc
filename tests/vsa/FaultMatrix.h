// The fault matrix: one DR job run end to end on the hypervisor lab with one
// planted fault, and the checks that hold after any fault.
//
// A case (SFaultCase) names the lab (SVSALabSpec: the DR type, the machines
// and their groups and priorities), the fault and the state the job must end
// in. CFaultMatrix seeds the lab with the job's own operation classes, plants
// the fault, runs the job in this process in the host's order (Initialize
// was done by the seed, then Run) and checks:
// - the final state is the expected one (and so the exit code drjob would
//   give for it, ExitCodeOf);
// - every phase row of every machine is final: none IN-PROGRESS, unless the
//   job ended SUSPENDED;
// - the summary report counts each machine as its record ended (succeeded,
//   failed, skipped; failed machines are not reported in a suspended job);
// - no child job is still running (the lab's jobs are all the job's: its
//   syncs name no parent) and no lab call is hung.
// A test then checks what its case is about (statuses, the lab, rows).
//
// Faults are planted through the simulators' steering APIs before Run, or,
// for what must happen while the job runs (a kill at a wait), by a steering
// thread the case starts (Steer): it ends with the run, and a test that
// fails early still stops it. The lab helpers below plant the common faults.
#pragma once

#include <functional>
#include <string>

#include "FaultMatrixChecks.h"
#include "vm/LabModel.h"
#include "vsa/VSALabFixture.h"

class CFaultMatrix;

struct SFaultCase {
  std::string name;
  SVSALabSpec lab;
  // Plants the fault after the seed, before the run; may start Steer.
  std::function<void(CFaultMatrix&)> plant;
  int32_t expectedState = Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
};

class CFaultMatrix : public CVSALabFixture {
 protected:
  void TearDown() override;

 public:
  // What a case's fault or steering reads of the lab.
  using CVSALabFixture::ChildJobs;
  using CVSALabFixture::Kill;
  using CVSALabFixture::LeaveFailedOver;
  using CVSALabFixture::Suspend;
  using CVSALabFixture::VM;
  using CVSALabFixture::VMs;

  // Seeds the case's lab (with the operation classes), plants its fault,
  // runs the job and makes the common checks. The job's final state.
  int32_t RunCase(const SFaultCase& c);
  // The checks alone, on a run that ended in finalState.
  void CheckEnd(int32_t finalState);
  // After a kill that other machines may have outrun: the job ended
  // completed with errors when a machine got through, else KILLED; each
  // machine's failover status is as it was counted and, in a planned
  // failover, its source VM is off exactly when it succeeded. Then CheckEnd.
  void CheckKilledRun(int32_t finalState);

  static std::string LoggedErrors() { return faultmatrix::LoggedErrors(); }
  static int ExitCodeOf(int32_t finalState) { return faultmatrix::ExitCodeOf(finalState); }

  // A lab of the type: N replications in G subclient groups.
  static SVSALabSpec Lab(TMMsg::DROrchestrationType type, int replications = 3, int groups = 1);

  // ---- faults ----
  // A lab fault on calls fromCall..toCall of an operation type on one
  // replication's VM at the site (0 source, 1 DR VM).
  void LabFault(int replicationId, int site, int opType, ELabFault kind, int fromCall = 1, int toCall = 1000);
  // Kill (or suspend) the DR job when the operation starts on the VM.
  void TriggerOn(int replicationId, int site, int opType, bool kill = true);
  // A thread that waits until ready() holds (real time), then runs act; it
  // ends with the test.
  void Steer(std::function<bool()> ready, std::function<void()> act);
  // Once the first child job of the type exists: it hangs and the DR job is
  // killed (a kill in that job's wait).
  void KillInChildWait(EChildJobType type);
  // The first child job of the type fails as it runs.
  void FailFirstChild(EChildJobType type, const std::string& reason);
  // The first child job of the type ended killed.
  static void ExpectChildKilled(EChildJobType type);
  // True once a child job of the type runs (and is not ended).
  static bool ChildRunning(EChildJobType type);
  // The first child job of the type; 0 when none.
  static long long FirstChild(EChildJobType type);

  // ---- reading back ----
  using SCounts = faultmatrix::SCounts;
  SCounts Counts() { return faultmatrix::Counts(Machines()); }
  // Whether the replication's VM on the site (0 source, 1 DR VM) has a
  // snapshot of the name.
  bool HasSnapshot(int replicationId, int site, const std::string& name) const;

 private:
  CFaultSteer m_steer;
};
