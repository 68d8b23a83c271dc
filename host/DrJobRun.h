// drjob run: one DR job in the host calling order, as a sequence of named
// steps. Each step either lets the run go on or ends it with the exit code
// and the one line that says why; what a step sets up (the run lock, the run
// lease, the signal and lab watchers) is held until the run ends.
//
//   CheckLockFolder   the lock folder is usable, or nothing runs
//   TakeRunLock       one process per DR job and database file (a gone
//                     runner's lock is awaited)
//   OpenLab, FindGroup
//   TakeJob           the job's record, read (a rerun: its group, type and
//                     options) or made, with its run lease
//   ResumeJob         under the lease: a completed job is refused, an
//                     abandoned one taken over, its old control request
//                     dropped, its state Running
//   RunJob            signals and lab watchers, then the job manager and
//                     the orchestrator (RunOrchestrator)
//   EndJob            the state stored and told, a kill or suspend the job
//                     never acted on (PrintUnactedRequest), each machine's verdict
//                     (PrintOutcomes) and how the job goes on (PrintNextStep)
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DrJobArgs.h"
#include "DrJobNextStep.h"
#include "core/ProcessIdentity.h"
#include "jobs/JobStore.h"

class CLabWatch;
class ZnNamedMutex;

class CDrJobRun {
 public:
  explicit CDrJobRun(const CDrJobArgs& args);
  ~CDrJobRun();
  CDrJobRun(const CDrJobRun&) = delete;
  CDrJobRun& operator=(const CDrJobRun&) = delete;

  // The run's exit code.
  int Execute();

 private:
  // What a step returns to let the run go on; any other value ends it.
  static constexpr int kGoOn = -1;

  // How the orchestrator's part of the run ended.
  struct SRunEnd {
    bool managerStarted = false;
    bool initialized = false;
    int state = -1;  // Run's result when initialised
    int attempt = 0;
  };

  int CheckLockFolder();
  int TakeRunLock();
  int OpenLab();
  int FindGroup();
  int TakeJob();
  int ResumeJob();
  int RunJob();
  SRunEnd RunOrchestrator();
  int EndJob(const SRunEnd& end, CLabWatch& labWatch);
  // The job's end, read once for the lines below; false when its verdicts
  // cannot be read.
  bool ReadEnd(SJobEnd& jobEnd) const;
  // One line per machine of the group; noVerdict tells a machine the job's
  // attempt left without a verdict.
  void PrintOutcomes(int attempt, const std::string& noVerdict, bool endRead, SJobEnd& jobEnd);
  // The final state stored with the control request that stood then, which
  // is noted when the job did not act on it and cleared from the record.
  bool StoreFinalStatus(const char* status, double percent, bool succeeded);
  void NoteUnactedRequest(int request, bool succeeded);
  // After the state line: a kill or suspend requested while the job ran
  // that the job never acted on.
  void PrintUnactedRequest();
  // Last, how the job goes on after a run stored as status.
  void PrintNextStep(const std::string& status, SJobEnd& jobEnd);
  // A job that completed with errors: the new DR job that goes on with its
  // group, with what it does with the machines and every option of the job.
  void PrintNewJob(const std::string& db, SJobEnd& jobEnd);
  // The job as its next-step lines name it (CNextStep).
  SNextStepJob NextStepJob(const std::string& db, const std::string& ownOptions) const;
  // "DR job [N] " and what, with the restart's command on the lab db.
  std::vector<std::string> Restart(const std::string& what, const std::string& db) const;
  // Lines without "drjob: ", each printed with it.
  static void PrintLines(const std::vector<std::string>& lines);
  bool StoreStatus(const char* status, double percent);

  const CDrJobArgs& m_args;
  long long m_jobId;
  int m_groupId = 0;
  TMMsg::DROrchestrationType m_type;
  SJobRecord m_job;
  bool m_created = false;
  SProcessId m_self;
  SProcessId m_previous;  // the holder of the lease before this run
  std::unique_ptr<ZnNamedMutex> m_runLock;
  // Whether the job found its quit flag set while its work went on, or
  // first once its priority loop had run its last step, and the first
  // request the signal watcher noted (its code, and when, ms since the
  // epoch).
  bool m_quitSeen = false;
  bool m_quitSeenAfterWork = false;
  int m_requestNotedOp = 0;
  long long m_requestNotedAtMs = 0;
  // The request the job never acted on (0: none) and when it came.
  int m_unactedRequest = 0;
  long long m_unactedAtMs = 0;
  bool m_requestNotCleared = false;
};
