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
//   EndJob            the state stored and told, a kill the job never saw
//                     (PrintUnseenKill), each machine's verdict
//                     (PrintOutcomes) and how the job goes on (PrintNextStep)
#pragma once

#include <memory>
#include <string>

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
  // One line per machine of the group; noVerdict tells a machine the job's
  // attempt left without a verdict.
  void PrintOutcomes(int attempt, const std::string& noVerdict);
  // After the state line: a kill requested while the job ran that the job
  // never saw, since no wait or step of it looked for one after it.
  void PrintUnseenKill();
  // Last, how the job goes on after a run stored as status.
  void PrintNextStep(const std::string& status);
  // A job that completed with errors: the new DR job that goes on with its
  // group, with what it does with the machines and every option of the job.
  void PrintNewJob(const std::string& db);
  // The job as its next-step lines name it (CNextStep).
  SNextStepJob NextStepJob(const std::string& db, const std::string& ownOptions) const;
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
  // When a kill the job never saw was requested (ms since the epoch); 0 when
  // none was, or the job saw it.
  long long m_unseenKillAtMs = 0;
};
