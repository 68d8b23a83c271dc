#include "DrJobRun.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "DrJobChildWaits.h"
#include "DrJobLab.h"
#include "DrJobLabWatch.h"
#include "DrJobMachinePlace.h"
#include "DrJobNextStep.h"
#include "DrJobOutcomes.h"
#include "DrJobOutput.h"
#include "DrJobProgress.h"
#include "DrJobRunLease.h"
#include "DrJobRunOptions.h"
#include "DrJobSignals.h"
#include "DrJobStates.h"
#include "core/JobContext.h"
#include "core/Mutex.h"
#include "core/RunFolder.h"
#include "core/ThreadSafety.h"
#include "db/DBConnection.h"
#include "db/DBUnwritableReport.h"
#include "drorch/DRInitParams.h"
#include "drorch/DRJobManager.h"
#include "drorch/IDROrchestrator.h"
#include "jobs/LabStore.h"
#include "jobs/MachineVerdictStore.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "jobs/ZNManageDBForJM.h"
#include "jobsim/JobSimulator.h"
#include "log/EvEvent.h"
#include "log/JobJournal.h"
#include "log/LogSink.h"
#include "sync/ZnNamedMutex.h"

namespace {

using Out = CDrJobOutput;

// When the job first found its quit flag set: while its work went on, or
// once its priority loop had run its last step, when the quit halted
// nothing. Both reports come from the job's threads, and their order under
// this lock is the job's own: the finder of a quit reports it before any
// thread of the job can act on it, and the orchestrator's thread tells its
// work is over only after every worker of the loop has finished. So a quit
// the loop halted on is recorded before the work is over, and one first
// found after it cannot be recorded before.
class CQuitOrder {
 public:
  void QuitSeen() {
    CMutexLock lk(m_mutex);
    (m_workOver ? m_seenAfterWork : m_seenInWork) = true;
  }
  void WorkOver() {
    CMutexLock lk(m_mutex);
    m_workOver = true;
  }
  bool SeenInWork() const {
    CMutexLock lk(m_mutex);
    return m_seenInWork;
  }
  bool SeenAfterWork() const {
    CMutexLock lk(m_mutex);
    return m_seenAfterWork;
  }

 private:
  mutable CMutex m_mutex;
  bool m_workOver DR_GUARDED_BY(m_mutex) = false;
  bool m_seenInWork DR_GUARDED_BY(m_mutex) = false;
  bool m_seenAfterWork DR_GUARDED_BY(m_mutex) = false;
};

// The simulator stands in for the backup server's job controller: it runs
// the DR job's child jobs while the job manager lives, and is stopped
// after the orchestrator is gone, or when the run returns early.
class CSimulatorRun {
 public:
  CSimulatorRun() { CJobSimulator::Start(); }
  ~CSimulatorRun() { Stop(); }
  CSimulatorRun(const CSimulatorRun&) = delete;
  CSimulatorRun& operator=(const CSimulatorRun&) = delete;
  void Stop() { CJobSimulator::Stop(); }
};

// The fast path of one run per DR job: held for the whole run, so a second
// process asked to run the same job of the same database file (by whatever
// path) through the same lock folder is refused before it opens the
// database. The run lease in the job's row is what holds whatever the lock
// folder. The kernel frees the lock when the process dies. The lock outlives
// this function on purpose (its owner releases it when the run ends, or the
// kernel when the process does), which the lock checks cannot follow through
// a returned pointer. Null with name empty when the file cannot be found.
std::unique_ptr<ZnNamedMutex> LockOfFile(const std::string& dbPath, long long jobId, std::string& name)
    DR_NO_THREAD_SAFETY_ANALYSIS {
  // Named by the file itself, so links and relative paths meet in one lock.
  struct stat st;
  name.clear();
  if (stat(dbPath.c_str(), &st) != 0) return nullptr;
  name = "DRJOB_RUN|" + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino)) + "|" + std::to_string(jobId);
  std::unique_ptr<ZnNamedMutex> lock(new ZnNamedMutex(name));
  if (!lock->lock(0)) lock.reset();
  return lock;
}

// A run lock whose holder the job's record names as gone is about to be
// freed: a process that died while starting a helper shares the lock's file
// with that helper until the helper's program starts, which on a busy
// machine takes a moment. Taken within a few seconds, or refused.
bool AwaitLockOfGoneRunner(const std::string& dbPath, long long jobId, const SProcessId& runner,
                           std::unique_ptr<ZnNamedMutex>& lock) {
  if (runner.Empty() || CProcessIdentity::StateOf(runner) != CProcessIdentity::kGone) return false;
  printf("drjob: DR job [%lld]: the process that ran it has gone; waiting for its run lock\n", jobId);
  fflush(stdout);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::string name;
  while (std::chrono::steady_clock::now() < deadline) {
    // Real time: the kernel frees the lock, whatever the platform's scale.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lock = LockOfFile(dbPath, jobId, name);
    if (lock) return true;
  }
  return false;
}

// The line of a run turned away because another process runs the job.
int RefuseRunning(long long jobId, const SProcessId& holder) {
  const std::string who = holder.Empty() ? std::string() : " (" + CProcessIdentity::Text(holder) + ")";
  return Out::Error(CDrJobStates::kExitAlreadyRunning,
                    "DR job [" + std::to_string(jobId) + "] is already running in another process" + who +
                        "; nothing was changed");
}

// The line of a run turned away because its job completed before.
int RefuseCompleted(long long jobId, const std::string& status) {
  return Out::Error(CDrJobStates::kExitJobEnded,
                    "DR job [" + std::to_string(jobId) + "] has already ended [" + status +
                        "]; a completed DR job is not run again, nothing was changed");
}

// What a new DR job of a type does with the machines a job of the type
// finished, as running one after a job that completed with errors shows:
// most types refuse a machine in the state they leave it, so the new job
// takes only the others; a test failover clones again, a testboot boots
// again, a reverse replication and a storage-array undo of a test failover
// go through every machine again, and a database failover shuts every
// source down and starts it again. A revert leaves a machine it failed
// "Revert Failover Failed", which no revert takes.
enum class ENewJob { kUnfinished, kEveryMachine, kStillFailedOver };

ENewJob NewJobTakes(TMMsg::DROpSourceType source, TMMsg::DROrchestrationType type) {
  if (source == TMMsg::DR_OP_SOURCE_DB_REPLICATION) return ENewJob::kEveryMachine;
  if (source == TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION) {
    return type == TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER ? ENewJob::kEveryMachine : ENewJob::kUnfinished;
  }
  switch (type) {
    case TMMsg::DR_ORCHESTRATION_TESTBOOT:
    case TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION:
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      return ENewJob::kEveryMachine;
    case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER:
      return ENewJob::kStillFailedOver;
    default:
      return ENewJob::kUnfinished;
  }
}

// A new file holding text, made only where nothing stands at path (no file,
// no link: a link there would have the write land where it points), so
// nothing the operator keeps is overwritten; readable by its owner alone,
// as restore options may name what to restore where. False (errno set) when
// it cannot be made or written, the partial file then removed.
bool WriteNewFile(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  int saved = done == text.size() ? 0 : (errno != 0 ? errno : EIO);
  if (close(fd) != 0 && saved == 0) saved = errno;
  if (saved == 0) return true;
  unlink(path.c_str());
  errno = saved;
  return false;
}

// The restore options of a job's record in a file of the run folder for its
// new job: restore-options-job-N.xml, or -2, -3, ... after it when a name is
// taken. The path; empty, with why, when no file could be written.
std::string WriteRestoreOptions(long long jobId, const std::string& xml, std::string& why) {
  const std::string stem = "restore-options-job-" + std::to_string(jobId);
  for (int n = 1; n <= 100; ++n) {
    const std::string path = CRunFolder::File(stem + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".xml");
    errno = 0;
    if (WriteNewFile(path, xml)) return path;
    if (errno == EEXIST) continue;
    why = "[" + CDrJobArgs::Printable(path) + "]: " + strerror(errno);
    return std::string();
  }
  why = "[" + CDrJobArgs::Printable(CRunFolder::File(stem + ".xml")) + "] and the next 99 names after it are taken";
  return std::string();
}

// "Sample (1), SampleDB (2), ...": the groups a --group may name.
std::string GroupsText() {
  std::string text;
  for (const auto& group : CLabStore::DRGroups()) {
    text += (text.empty() ? "" : ", ") + group.second + " (" + std::to_string(group.first) + ")";
  }
  return text;
}

// A clean-up takes the replications it removes out of their DR group: one
// that removed them all leaves a group naming none, on which a new job would
// have no machine to run (its initialisation would fail after its record
// was made). A group that cannot be read is left to the job to report.
bool NamesNoReplication(int groupId) {
  std::string xml;
  Api::VirtualApp app;
  return CLabStore::GetDRGroup(groupId, xml) && app.Unserialize(xml) && CDrJobLab::GroupMachines(groupId).empty();
}

}  // namespace

CDrJobRun::CDrJobRun(const CDrJobArgs& args)
    : m_args(args), m_jobId(args.JobId()), m_type(args.Type()), m_self(CProcessIdentity::Self()) {}

CDrJobRun::~CDrJobRun() {}

int CDrJobRun::Execute() {
  CRunSignals::IgnoreBrokenPipe();
  CRunSignals::IgnoreFileSizeLimit();
  int rc = kGoOn;
  if ((rc = CheckLockFolder()) != kGoOn || (rc = TakeRunLock()) != kGoOn || (rc = OpenLab()) != kGoOn ||
      (rc = FindGroup()) != kGoOn || (rc = TakeJob()) != kGoOn) {
    return rc;
  }
  CRunLease held(m_jobId, m_self);
  if ((rc = ResumeJob()) != kGoOn) return rc;
  return RunJob();
}

// A run holds its job's run lock; without a usable lock folder it stops
// before it touches anything.
int CDrJobRun::CheckLockFolder() {
  std::string error;
  const int folder = CRunFolder::OpenLockFolder(CRunFolder::LockPath(), error);
  if (folder >= 0) {
    close(folder);
    return kGoOn;
  }
  // The default is one name per user in the shared temporary folder, which
  // another user can take first; the datastore locks are shared only among
  // runs of one lock folder, so every run must be pointed elsewhere.
  if (CRunFolder::LockPathIsDefault()) {
    error += " (DR_LOCK_DIR chooses another lock folder; give all your runs the same one)";
  }
  return Out::Error(CDrJobStates::kExitLockFolder, error + "; nothing was changed");
}

// A job id that ran before is the same job again: the job manager finds its
// restart string and treats this run as the next attempt. A new job (no id)
// has nothing to lock yet: its record is made with the lease.
int CDrJobRun::TakeRunLock() {
  if (m_jobId <= 0) return kGoOn;
  std::string lockName;
  std::string error;
  m_runLock = LockOfFile(m_args.DbPath(), m_jobId, lockName);
  if (m_runLock || lockName.empty()) return kGoOn;
  if (!ZnNamedMutex::CanOpen(lockName, error)) {
    return Out::Error(CDrJobStates::kExitLockFolder, "cannot use the run lock of DR job [" +
                                                           std::to_string(m_jobId) + "]: " + error +
                                                           "; nothing was changed");
  }
  // Who runs it, when the lab can be read as it is.
  SJobRecord holder;
  const bool known =
      CDrJobLab::Open(m_args.DbPath(), error) && CJobStore::GetJob(m_jobId, holder) == EStoreResult::kOk;
  if (known && AwaitLockOfGoneRunner(m_args.DbPath(), m_jobId, holder.runner, m_runLock)) return kGoOn;
  return RefuseRunning(m_jobId, known ? holder.runner : SProcessId());
}

int CDrJobRun::OpenLab() {
  std::string error;
  if (!CDrJobLab::Open(m_args.DbPath(), error)) return Out::Error(CDrJobStates::kExitDatabase, error);
  return kGoOn;
}

// A rerun may leave the group out: its record names it.
int CDrJobRun::FindGroup() {
  if (m_args.Group().empty()) return kGoOn;
  m_groupId = CDrJobLab::FindGroup(m_args.Group());
  if (m_groupId != 0) return kGoOn;
  const std::string groups = GroupsText();
  return Out::Error(CDrJobStates::kExitUnknown,
                    "unknown DR group [" + m_args.Group() + "]; " +
                        (groups.empty() ? std::string("the lab has no DR group")
                                        : "the DR groups of the lab are " + groups));
}

// The job is this run's once its run lease is: taken on the record, or with
// the record when there is none yet, in one write transaction either way,
// so no other path to the database or lock folder can run it too.
int CDrJobRun::TakeJob() {
  const std::string id = std::to_string(m_jobId);
  std::string error;
  ELeaseResult lease = ELeaseResult::kMissing;
  for (int attempt = 0; attempt < 2 && lease == ELeaseResult::kMissing; ++attempt) {
    const EStoreResult read = m_jobId > 0 ? CJobStore::GetJob(m_jobId, m_job) : EStoreResult::kMissing;
    if (read == EStoreResult::kFailed) return Out::DatabaseError("cannot read DR job [" + id + "]");
    if (read == EStoreResult::kOk) {
      if (m_job.jobType != CJobStore::kTypeDR) {
        return Out::Error(CDrJobStates::kExitUnknown, "job [" + id + "] is not a DR job");
      }
      // The record says what the job is: the same job again runs on its
      // group, as its type, with its options.
      SRecordedRun recorded;
      CDrJobRunOptions::Read(m_job.optionsXml, recorded);
      if (recorded.groupId == 0) {
        return Out::Error(CDrJobStates::kExitUnknown, "DR job [" + id + "] names no DR group");
      }
      if (m_groupId != 0 && recorded.groupId != m_groupId) {
        return Out::Error(CDrJobStates::kExitUnknown, "DR job [" + id + "] belongs to DR group [" +
                                                            std::to_string(recorded.groupId) + "], not to [" +
                                                            m_args.Group() + "]");
      }
      m_groupId = recorded.groupId;
      if (CDrJobStates::IsCompletedStatus(m_job.status)) return RefuseCompleted(m_jobId, m_job.status);
      if (!CDrJobRunOptions::MatchRecorded(m_jobId, m_args, recorded, error)) {
        return Out::Error(CDrJobStates::kExitUsage, error);
      }
      if (recorded.type != TMMsg::DR_ORCHESTRATION_NONE) m_type = recorded.type;
      if (m_type == TMMsg::DR_ORCHESTRATION_NONE) {
        return Out::Error(CDrJobStates::kExitUsage,
                          "DR job [" + id + "] was made before drjob kept the DR type with the job: run it with "
                                            "--type TYPE");
      }
      lease = CJobStore::TakeRunLease(m_jobId, m_self, m_previous);
      continue;
    }
    if (m_groupId == 0 || m_type == TMMsg::DR_ORCHESTRATION_NONE) {
      return Out::Error(CDrJobStates::kExitUsage,
                        "DR job [" + id + "] has no record: a new DR job needs --group NAME|ID and --type TYPE");
    }
    if (NamesNoReplication(m_groupId)) {
      return Out::Error(CDrJobStates::kExitUnknown,
                        "DR group [" + CDrJobLab::StoredGroupName(m_groupId) + "] (id " + std::to_string(m_groupId) +
                            ") names no replication (a clean-up takes those it removes out of their group), so "
                            "a DR job on it has no machine to run; nothing was changed");
    }
    m_job = SJobRecord();
    m_job.jobId = m_jobId;
    m_job.jobType = CJobStore::kTypeDR;
    m_job.ownerId = CDrJobLab::OwnerId();
    m_job.optionsXml = CDrJobLab::JobOptionsXml(m_groupId, m_type, m_args.DeleteFromHypervisor());
    if (!CDrJobRunOptions::Apply(m_args.DROptions(), m_groupId, m_job.optionsXml, error)) {
      return Out::Error(CDrJobStates::kExitUsage, error);
    }
    m_job.status = "Running";
    m_job.name = "DR Orchestration";
    m_job.runner = m_self;
    const long long made = CJobStore::CreateJob(m_job);
    if (made != 0) {
      m_jobId = made;
      m_created = true;
      lease = ELeaseResult::kTaken;
    } else if (m_jobId == 0 || attempt > 0 || Out::LastDatabaseError() != DB_CONSTRAINT) {
      return Out::DatabaseError("cannot create the DR job in [" + m_args.DbPath() + "]");
    }
    // Else another process made the record meanwhile: read it again.
  }
  switch (lease) {
    case ELeaseResult::kTaken:
      return kGoOn;
    case ELeaseResult::kHeld:
      return RefuseRunning(m_jobId, m_previous);
    case ELeaseResult::kMissing:
      return Out::Error(CDrJobStates::kExitUnknown,
                        "DR job [" + std::to_string(m_jobId) + "] was removed while this run took it");
    case ELeaseResult::kFailed:
    default:
      return Out::DatabaseError("cannot take the run lease of DR job [" + std::to_string(m_jobId) + "]");
  }
}

// The run that held the job may have completed it between the read and the
// lease: read again under the lease, which no run can end now.
int CDrJobRun::ResumeJob() {
  if (m_created) return kGoOn;
  const std::string id = std::to_string(m_jobId);
  SJobRecord now;
  const EStoreResult again = CJobStore::GetJob(m_jobId, now);
  if (again == EStoreResult::kFailed) return Out::DatabaseError("cannot read DR job [" + id + "]");
  if (again == EStoreResult::kOk && CDrJobStates::IsCompletedStatus(now.status)) {
    return RefuseCompleted(m_jobId, now.status);
  }
  if (again == EStoreResult::kOk) m_job = now;
  if (m_job.status == "Running" && (!m_previous.Empty() || !m_job.restartString.empty())) {
    Out::RunLine("drjob: DR job [%lld] was left running by a run that ended without finishing; this run takes it "
                 "over\n",
                 m_jobId);
  }
  // A kill or suspend of the earlier attempt does not carry over.
  if (CJobStore::SetControlOperation(m_jobId, 0) != EStoreResult::kOk) {
    return Out::DatabaseError("cannot clear the earlier control request of DR job [" + id + "]");
  }
  return StoreStatus("Running", m_job.percent) ? kGoOn : static_cast<int>(CDrJobStates::kExitDatabase);
}

int CDrJobRun::RunJob() {
  CJobContext::SetCurrentJobId(m_jobId);
  const std::string group = CDrJobLab::GroupName(m_groupId);
  Out::RunLine("drjob: DR job [%lld] on DR group [%s] (id %d), type [%s]\n", m_jobId, group.c_str(), m_groupId,
               CDrJobArgs::TypeName(m_type));
  std::string error;
  // From here a signal asks the job to stop rather than ending the process
  // half-way; started before the job's threads, so that only its watcher
  // takes signals.
  CRunSignals signals;
  if (!signals.Start(m_jobId, error)) {
    fprintf(stderr, "drjob: DR job [%lld]: %s; a signal ends drjob at once\n", m_jobId, error.c_str());
  }
  // From here the lab must stay at its path (DrJobLabWatch.h); started after
  // the signals, so that its thread takes none of them.
  CLabWatch labWatch;
  if (!labWatch.Start(m_args.DbPath(), m_jobId, error)) {
    return Out::Error(CDrJobStates::kExitDatabase, "DR job [" + std::to_string(m_jobId) + "]: " + error);
  }
  // From here the job's writes are retried, by the job and its child jobs
  // alike: a lab that cannot be written (a full disk) would stall them
  // without a word, and the log may be on the same disk.
  CDBUnwritableReport::Process().Enable("drjob: ");
  CProgressLines progress([](int64_t id, int percent) {
    Out::RunLine("drjob: DR job [%lld] progress [%d%%]\n", static_cast<long long>(id), percent);
  });
  CJobJournal::Instance().SetPercentListener([&progress](int64_t id, int percent) { progress.Report(id, percent); });
  CChildWaitLines childWaits(m_args.DbPath(),
                             [](const std::string& line) { Out::RunLine("drjob: %s\n", line.c_str()); });
  CJobJournal::Instance().SetChildWaitListener(
      [&childWaits](int64_t id, int64_t child) { childWaits.Report(id, child); });
  // Whether the job found its quit flag set while its work went on: a kill
  // or suspend requested while no wait or step of it looked for one after,
  // or first found once its last step had run, is never acted on.
  CQuitOrder quitOrder;
  const long long jobId = m_jobId;
  CJobJournal::Instance().SetQuitListener([&quitOrder, jobId](int64_t id, int) {
    if (id == jobId) quitOrder.QuitSeen();
  });
  CJobJournal::Instance().SetWorkOverListener([&quitOrder, jobId](int64_t id) {
    if (id == jobId) quitOrder.WorkOver();
  });

  const SRunEnd end = RunOrchestrator();

  CJobJournal::Instance().SetPercentListener(nullptr);
  CJobJournal::Instance().SetChildWaitListener(nullptr);
  CJobJournal::Instance().SetQuitListener(nullptr);
  CJobJournal::Instance().SetWorkOverListener(nullptr);
  // The job is over: what is requested from here is read, or refused, as
  // the final state is stored (EndJob).
  signals.Stop();
  m_quitSeen = quitOrder.SeenInWork();
  m_quitSeenAfterWork = quitOrder.SeenAfterWork();
  m_requestNotedAtMs = signals.RequestedAtMs();
  m_requestNotedOp = signals.RequestedOperation();
  // What is written from here is not retried; a failure has its own line.
  CDBUnwritableReport::Process().Disable();
  return EndJob(end, labWatch);
}

// The host calling order: the job manager, then the orchestrator made,
// initialised, run and destroyed. Start-up errors are captured to be told.
CDrJobRun::SRunEnd CDrJobRun::RunOrchestrator() {
  SRunEnd end;
  CLogSink::Instance().ClearCapture();
  CLogSink::Instance().SetCapture(true);
  // The child jobs the DR job launches run while the job manager lives.
  CSimulatorRun simulator;
  ZNDROrchestrationClnt client(m_jobId);
  CDRJobManager jobManager;
  if (!jobManager.Initialize(client, 0, ZNManageDBForJM::getDefaultHaldenID())) {
    fprintf(stderr, "drjob: DR job [%lld]: the job manager could not start; no DR operation was run:\n", m_jobId);
    Out::PrintCapturedErrors();
    Out::StopCapture();
    return end;
  }
  end.managerStarted = true;
  end.attempt = jobManager.GetAttempt();
  if (jobManager.IsJobRestarted()) {
    Out::RunLine("drjob: DR job [%lld] ran before: this run is a restart, attempt [%d]\n", m_jobId, end.attempt);
  }
  IDROrchestrator* orchestrator = IDROrchestrator::CreateObject(m_type);
  DRInitParams params{&jobManager};
  end.initialized = orchestrator->Initialize(params);
  if (!end.initialized) {
    fprintf(stderr,
            "drjob: DR job [%lld]: the orchestrator could not be initialised for DR group [%s]; no DR operation "
            "was run:\n",
            m_jobId, CDrJobLab::GroupName(m_groupId).c_str());
    Out::PrintCapturedErrors();
  }
  Out::StopCapture();
  if (end.initialized) end.state = orchestrator->Run();
  IDROrchestrator::DeleteObject(orchestrator);
  simulator.Stop();
  return end;
}

int CDrJobRun::EndJob(const SRunEnd& end, CLabWatch& labWatch) {
  // A state that cannot be stored because the lab has gone is told as that.
  labWatch.Stop();
  if (!labWatch.Here()) labWatch.End();
  const double journalled = CJobJournal::Instance().PercentComplete(m_jobId);
  if (!end.managerStarted || !end.initialized) {
    const char* why = !end.managerStarted ? "the job manager could not start, so the job began no machine"
                                          : "the orchestrator could not be initialised, so the job began no machine";
    const int code =
        !end.managerStarted ? CDrJobStates::kExitJobManager : CDrJobStates::kExitNotInitialized;
    if (!StoreFinalStatus("Failed", journalled > 0 ? journalled : m_job.percent, false)) {
      fprintf(stderr, "drjob: DR job [%lld] ended without running, and its state could not be stored: exit code %d\n",
              m_jobId, CDrJobStates::kExitStateNotStored);
      return CDrJobStates::kExitStateNotStored;
    }
    if (end.managerStarted) {
      fprintf(stderr, "drjob: DR job [%lld] ended without running: exit code %d\n", m_jobId, code);
    }
    PrintUnactedRequest();
    SJobEnd jobEnd;
    const bool endRead = ReadEnd(jobEnd);
    PrintOutcomes(end.attempt, why, endRead, jobEnd);
    PrintNextStep("Failed", jobEnd);
    return code;
  }
  const int state = end.state;
  const char* status = CDrJobStates::JobStatusOfState(state);
  SJobRecord after;
  const double percent = CJobStore::GetJob(m_jobId, after) == EStoreResult::kOk ? after.percent : journalled;
  // The engine stores a verdict for every machine it made a record of; an
  // attempt that ran and left none could not store them (a full disk).
  SJobEnd jobEnd;
  const bool endRead = ReadEnd(jobEnd);
  const bool anyStored = endRead && std::any_of(jobEnd.verdicts.begin(), jobEnd.verdicts.end(),
                                                [&end](const SMachineVerdict& v) { return v.attempt == end.attempt; });
  const char* noVerdict = anyStored ? "the job made no machine record of it, so it never took it up"
                                    : "the job's verdicts could not be stored in the lab (see the log)";
  if (!StoreFinalStatus(status, state == 0 ? 100.0 : percent, state == 0)) {
    Out::RunLine("drjob: DR job [%lld] finished with state [%d] %s, but the state could not be stored\n", m_jobId,
                 state, CDrJobStates::StateText(state));
    // What the watcher last saw of the record is all there is to go by.
    NoteUnactedRequest(m_requestNotedOp, state == 0);
    PrintUnactedRequest();
    PrintOutcomes(end.attempt, noVerdict, endRead, jobEnd);
    // The record still says Running, which the next run of the job takes
    // over from a process that has gone, whatever this one ended as.
    PrintLines(Restart("is continued by its restart once the lab can be written", CDrJobArgs::ShellWord(m_args.DbPath())));
    return CDrJobStates::kExitStateNotStored;
  }
  Out::RunLine("drjob: DR job [%lld] finished with state [%d] %s\n", m_jobId, state, CDrJobStates::StateText(state));
  PrintUnactedRequest();
  PrintOutcomes(end.attempt, noVerdict, endRead, jobEnd);
  PrintNextStep(status, jobEnd);
  return CDrJobStates::ExitCodeOfState(state);
}

bool CDrJobRun::ReadEnd(SJobEnd& jobEnd) const {
  return CMachineOutcomes::ReadEnd(m_jobId, m_groupId, m_job.optionsXml, jobEnd);
}

void CDrJobRun::PrintOutcomes(int attempt, const std::string& noVerdict, bool endRead, SJobEnd& jobEnd) {
  if (!endRead) {
    fprintf(stderr, "drjob: DR job [%lld]: cannot read the outcome of its machines (%s)\n", m_jobId,
            Out::DatabaseReason().c_str());
    return;
  }
  std::vector<SMachineOutcome> outcomes;
  CMachineOutcomes::Read(m_jobId, attempt, jobEnd, noVerdict, outcomes);
  for (const SMachineOutcome& outcome : outcomes) {
    Out::RunLine("drjob: %s\n", CMachineOutcomes::Line(m_jobId, outcome, jobEnd.standings).c_str());
  }
}

// A request that stood as the final state was stored is acted on when the
// job found it while its work went on and it changed what the job did. A
// flag never read, or first read once the priority loop had run its last
// step, halted nothing, whatever state the job ends in; nor did one read by
// a job that ends SUCCESS.
void CDrJobRun::NoteUnactedRequest(int request, bool succeeded) {
  if (request != CJobStore::kControlKill && request != CJobStore::kControlSuspend) return;
  if (m_quitSeen && !succeeded) return;
  m_unactedRequest = request;
  m_unactedAtMs = m_requestNotedOp == request ? m_requestNotedAtMs : 0;
  // Requested after the watcher's last look: the final state's moment is
  // the latest it can have come.
  if (m_unactedAtMs == 0) {
    m_unactedAtMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
  }
}

// The run's final state and the request that stood then, in one write:
// drjob control's request is stored only while the record says Running, so
// it either falls before this and is read here, or after and is refused
// with "has already ended". Between the last look for a kill and this write
// is the window a test pins with a pause point on the line logged first.
bool CDrJobRun::StoreFinalStatus(const char* status, double percent, bool succeeded) {
  EvDebug(m_jobId).Debug("EndJob", "Storing the final state [%s] of DR job [%lld]", status, m_jobId);
  int request = 0;
  const EStoreResult stored = CJobStore::EndRun(m_jobId, status, percent, request);
  if (stored != EStoreResult::kOk) {
    fprintf(stderr, "drjob: DR job [%lld]: cannot store its state [%s] (%s)\n", m_jobId, status,
            stored == EStoreResult::kMissing ? "the job record is gone" : Out::DatabaseReason().c_str());
    return false;
  }
  EvDebug(m_jobId).Debug("EndJob", "Stored the final state [%s] of DR job [%lld]; control request [%d]", status,
                         m_jobId, request);
  NoteUnactedRequest(request, succeeded);
  // Left on the record, the request would read as one the job answered;
  // no request is taken any more, so none is lost by clearing it.
  if (m_unactedRequest != 0 && CJobStore::SetControlOperation(m_jobId, 0) != EStoreResult::kOk) {
    m_requestNotCleared = true;
  }
  return true;
}

void CDrJobRun::PrintUnactedRequest() {
  if (m_unactedRequest == 0) return;
  // The wall clock the log's lines carry, so the moment can be found there.
  const time_t seconds = static_cast<time_t>(m_unactedAtMs / 1000);
  struct tm local;
  char when[32] = "";
  if (localtime_r(&seconds, &local) != nullptr) strftime(when, sizeof(when), "%m/%d %H:%M:%S", &local);
  const char* why = !m_quitSeen && m_quitSeenAfterWork ? "the job found it only after its last step"
                                                       : "no step of the job checked for it after that";
  Out::RunLine("drjob: DR job [%lld]: the %s requested at [%s] was not acted on, because %s%s\n", m_jobId,
               m_unactedRequest == CJobStore::kControlKill ? "kill" : "suspend", when, why,
               m_requestNotCleared ? " (the request could not be cleared from its record: see the log)" : "");
}

void CDrJobRun::PrintNextStep(const std::string& status, SJobEnd& jobEnd) {
  const std::string db = CDrJobArgs::ShellWord(m_args.DbPath());
  const bool succeeded = status == CDrJobStates::JobStatusOfState(0);
  if (CDrJobStates::IsCompletedStatus(status) && !succeeded) {
    PrintNewJob(db, jobEnd);
    return;
  }
  // A machine a restart does not take may be one a new job of the type
  // takes: its command carries the job's options.
  SRecordedRun recorded;
  CDrJobRunOptions::Read(m_job.optionsXml, recorded);
  const std::string& restoreFile = m_args.DROptions().restoreOptionsFile;
  SNextStepJob job = NextStepJob(db, CDrJobRunOptions::CommandOptions(recorded, restoreFile));
  // Restore options kept only in the record have no file to name here.
  job.ownOptionsKnown = recorded.restoreOptionsXml.empty() || !restoreFile.empty();
  std::vector<std::string> lines;
  if (succeeded) {
    // Only a workload that runs nowhere needs a step after a success.
    CNextStep::Succeeded(job, jobEnd, lines);
  } else if (!CNextStep::Restart(job, jobEnd, lines)) {
    lines = Restart("is continued by its restart", db);
  }
  PrintLines(lines);
}

std::vector<std::string> CDrJobRun::Restart(const std::string& what, const std::string& db) const {
  const std::string id = std::to_string(m_jobId);
  std::vector<std::string> lines;
  CNextStep::Told("DR job [" + id + "] " + what, "drjob run --db " + db + " --job-id " + id, lines);
  return lines;
}

void CDrJobRun::PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) Out::RunLine("drjob: %s\n", line.c_str());
}

SNextStepJob CDrJobRun::NextStepJob(const std::string& db, const std::string& ownOptions) const {
  SNextStepJob job;
  job.jobId = m_jobId;
  job.groupId = m_groupId;
  job.type = m_type;
  job.db = db;
  job.ownOptions = ownOptions;
  return job;
}

void CDrJobRun::PrintNewJob(const std::string& db, SJobEnd& jobEnd) {
  const std::vector<SGroupMachine>& machines = jobEnd.group;
  const TMMsg::DROpSourceType source = machines.empty() ? TMMsg::DR_OP_SOURCE_VSA_REPLICATION : machines.front().source;
  const char* takes = "takes the machines that did not finish";
  switch (NewJobTakes(source, m_type)) {
    case ENewJob::kEveryMachine:
      takes = "runs every machine of the group again, the finished ones included";
      break;
    case ENewJob::kStillFailedOver:
      takes = "takes only the machines still failed over, not one whose revert failed";
      break;
    case ENewJob::kUnfinished:
    default:
      break;
  }
  // The new job is made with every option this one was: one left out would
  // fail a machine for it (a point in time) or do less (keep the DR VMs).
  SRecordedRun recorded;
  CDrJobRunOptions::Read(m_job.optionsXml, recorded);
  std::string restoreFile = m_args.DROptions().restoreOptionsFile;
  if (!recorded.restoreOptionsXml.empty() && restoreFile.empty()) {
    // A rerun named only the job: its restore options are in the record
    // alone, so they are put in a file for the new job.
    std::string why;
    restoreFile = WriteRestoreOptions(m_jobId, recorded.restoreOptionsXml, why);
    if (restoreFile.empty()) {
      // A command naming a file that is not there, or holds something
      // else, would run the new job without them or on another's.
      Out::RunLine("drjob: DR job [%lld] completed with errors and is not run again; a new DR job on DR group [%s] "
                   "%s, but no command is printed: its restore options could not be written to a file (%s)\n",
                   m_jobId, CDrJobLab::GroupName(m_groupId).c_str(), takes, CDrJobArgs::ShownText(why).c_str());
      return;
    }
  }
  const std::string options = CDrJobRunOptions::CommandOptions(recorded, restoreFile);
  std::vector<std::string> lines;
  if (!CNextStep::NewJob(NextStepJob(db, options), jobEnd, lines)) {
    CNextStep::Told("DR job [" + std::to_string(m_jobId) +
                        "] completed with errors and is not run again; a new DR job on DR group [" +
                        CDrJobLab::GroupName(m_groupId) + "] (" + std::to_string(m_groupId) + ") " + takes,
                    "drjob run --db " + db + " --group " + std::to_string(m_groupId) + " --type " +
                        CDrJobArgs::TypeName(m_type) + options,
                    lines);
  }
  PrintLines(lines);
}

// Stores the job's status; an error line naming the state when it cannot.
bool CDrJobRun::StoreStatus(const char* status, double percent) {
  const EStoreResult stored = CJobStore::SetStatus(m_jobId, status, percent);
  if (stored == EStoreResult::kOk) return true;
  fprintf(stderr, "drjob: DR job [%lld]: cannot store its state [%s] (%s)\n", m_jobId, status,
          stored == EStoreResult::kMissing ? "the job record is gone" : Out::DatabaseReason().c_str());
  return false;
}
