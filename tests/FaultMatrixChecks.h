// What every fault-matrix case checks after its DR job, whatever lab the
// job ran on, and the steering thread a case starts to act while the job
// runs (tests/vsa/FaultMatrix.h for the VM labs, the storage-array matrix
// for the array lab):
// - every phase row of the job is final: none IN-PROGRESS, unless the job
//   ended SUSPENDED and did not complete the row's machine;
// - the summary report counts each machine as its record ended (succeeded,
//   failed, skipped; failed machines are not reported in a suspended job);
// - no child job is still running (the lab's jobs are all the job's: its
//   syncs name no parent) and no lab call is hung.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Phases.h"
#include "TestThread.h"
#include "msg/MsgEnums.h"

class CDRInfo;

namespace faultmatrix {

// The failover types the matrices run, and the final states the cases expect.
inline constexpr auto kPlanned = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
inline constexpr auto kUnplanned = TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER;
using drtest::kSuccess;
using drtest::kFailed;
using drtest::kCWE;

// The side of a replication a lab fault strikes.
inline constexpr int kSource = 0;
inline constexpr int kDR = 1;
constexpr int32_t kKilled = Api::VIRTUAL_APP_PHASE_STATE_KILLED;
constexpr int32_t kSuspended = Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED;

// Machines the job's summary counted, as their records ended.
struct SCounts {
  int succeeded = 0;
  int failed = 0;
  int skipped = 0;
};
SCounts Counts(const std::vector<CDRInfo*>& machines);

// The checks above on job jobId, which ended in finalState.
void CheckEnd(long long jobId, int32_t finalState, const std::vector<CDRInfo*>& machines);

// The error lines the run logged (a failed expectation shows them).
std::string LoggedErrors();
// The exit code drjob gives for a final state.
int ExitCodeOf(int32_t finalState);

}  // namespace faultmatrix

// A thread that waits until ready() holds (real time), then runs act. A run
// that never gets there still ends: stopping the thread kills the job.
class CFaultSteer {
 public:
  void Start(long long jobId, std::function<bool()> ready, std::function<void()> act);
  bool Started() const { return m_thread.Started(); }
  bool Join() { return m_thread.Join(); }
  // Ends the thread (before the simulators it reads go).
  void Stop() { m_thread = drtest::CTestThread(); }

 private:
  drtest::CTestThread m_thread;
};
