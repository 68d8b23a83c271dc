#include "jobsim/JobSimulator.h"

#include <math.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <thread>
#include <utility>

#include "core/Mutex.h"
#include "db/App_ExecuteSP.h"
#include "db/App_MiscOptions.h"
#include "db/DBWriteScope.h"
#include "jobs/JobRequestHandlers.h"
#include "jobs/JobStore.h"
#include "jobsim/JobManagerRows.h"
#include "jobsim/JobNotices.h"
#include "jobsim/SimJobStore.h"
#include "jobsim/StoragePolicyStore.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationSources.h"
#include "repl/ReplicationStore.h"
#include "time/PlatformClock.h"

namespace {

using Repl = App::VSAReplicationInfo;

// How often the runner looks at the running jobs, in platform milliseconds.
constexpr uint64_t kTickMs = 5000;
// How long stopping the runner waits for running notifiers (real ms).
constexpr unsigned long kSettleSendersMs = 10000;
constexpr int kRestoreOpType = 3;

const char kCompleted[] = "Completed";
const char kCompletedWithErrors[] = "Completed w/ one or more errors";
const char kFailed[] = "Failed";
const char kKilled[] = "Killed";
const char kRunning[] = "Running";
const char kSuspended[] = "Suspended";

// The runner thread. Never destroyed: a process that ends without Stop must
// not destroy a joinable thread.
struct SRunner {
  CMutex control;  // serialises Start and Stop
  std::thread thread DR_GUARDED_BY(control);
  CMutex mutex DR_ACQUIRED_AFTER(control);
  std::condition_variable wake;
  bool stop DR_GUARDED_BY(mutex) = false;
};

SRunner& Runner() {
  static auto* runner = new SRunner();
  return *runner;
}

struct SHooks {
  CMutex mutex;
  int nextId DR_GUARDED_BY(mutex) = 1;
  std::map<int, std::pair<EChildJobType, CJobSimulator::EndHook>> hooks DR_GUARDED_BY(mutex);
};

SHooks& Hooks() {
  static auto* hooks = new SHooks();
  return *hooks;
}

long long DefaultDuration(EChildJobType type) {
  switch (type) {
    case EChildJobType::kBackup: return 120000;
    case EChildJobType::kSync: return 90000;
    default: return 60000;
  }
}

std::string DurationKey(EChildJobType type) { return "duration." + std::to_string(static_cast<int>(type)); }

bool Contains(const std::vector<long long>& ids, long long id) {
  return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Whether a replication a sync works on is a VM's, whose statuses the
// simulator writes itself; another kind's are written by that kind's end
// writer (CJobSimulator::EndWriters). False for a replication that cannot
// be read, and for one no source knows (with the reason in error).
bool IsVMReplication(int replicationId, bool& isVM, std::string& error) {
  Repl stored;
  const EStoreResult read = CReplicationStore::Find(replicationId, stored);
  isVM = read == EStoreResult::kOk;
  if (read != EStoreResult::kMissing) return read == EStoreResult::kOk;
  SSourcedReplication other;
  const EStoreResult known = CReplicationSources::Get(replicationId, other);
  if (known == EStoreResult::kMissing) error = "Unknown replication [" + std::to_string(replicationId) + "]";
  return known == EStoreResult::kOk;
}

// The type's part of a job's start, inside the start's transaction: what
// the job works on, and its running rows.
bool PrepareStart(const SChildJobSpec& spec, SChildJobRecord& job, std::string& error) {
  switch (spec.type) {
    case EChildJobType::kBackup: {
      if (spec.applicationId <= 0) {
        error = "a backup needs a subclient";
        return false;
      }
      SSubclientPolicy assigned;
      const EStoreResult read = CStoragePolicyStore::GetSubclient(spec.applicationId, assigned);
      if (read == EStoreResult::kFailed) return false;
      if (read == EStoreResult::kOk) {
        job.snap = job.snap || assigned.snap;
        if (job.storagePolicyId == 0) job.storagePolicyId = assigned.policyId;
      }
      if (job.replicationIds.empty() &&
          CReplicationSources::IdsOfSubclient(spec.applicationId, job.replicationIds) != EStoreResult::kOk) {
        return false;
      }
      return CJobManagerRows::AddRunningBackup(job.jobId, job.applicationId);
    }
    case EChildJobType::kAuxCopy:
    case EChildJobType::kBackupCopy:
      if (spec.storagePolicyId <= 0 || (spec.type == EChildJobType::kAuxCopy && spec.copyId <= 0)) {
        error = "a copy job needs a storage policy (and an aux copy its copy)";
        return false;
      }
      return CJobManagerRows::AddRunningAdminJob(job.jobId, job.opType, job.storagePolicyId, job.copyId);
    case EChildJobType::kSync: {
      if (spec.taskId <= 0 && spec.replicationIds.empty()) {
        error = "a sync needs a replication task or replications";
        return false;
      }
      if (job.replicationIds.empty() &&
          CReplicationSources::IdsOfTask(spec.taskId, job.replicationIds) != EStoreResult::kOk) {
        return false;
      }
      for (int id : job.replicationIds) {
        bool isVM = false;
        if (!IsVMReplication(id, isVM, error)) return false;
        if (!isVM) continue;
        Repl partial;
        partial.SetInt32(Repl::kReplicationId, id);
        partial.SetInt32(Repl::kSyncStatus, App::VSA_REPL_STATUS_SYNC_IN_PROGRESS);
        if (CReplicationStore::Merge(partial, error) != 0) return false;
      }
      return true;
    }
    case EChildJobType::kRestore:
      return true;
  }
  return false;
}

// A backup that did its work leaves one VM child job per VM (VM-children
// mode), and data rows for itself and each child on every copy of its
// policy: the primary copy holds the data, unless it was a snap backup.
bool EndBackup(const SChildJobRecord& job) {
  SStoragePolicy policy;
  const EStoreResult read = CStoragePolicyStore::GetPolicy(job.storagePolicyId, policy);
  if (read == EStoreResult::kFailed) return false;
  std::vector<long long> holders = {job.jobId};
  if (job.vmChildren) {
    for (int replicationId : job.replicationIds) {
      SChildJobRecord child = job;
      child.jobId = CSimJobStore::TakeJobId();
      if (child.jobId == 0) return false;
      child.parentJobId = job.jobId;
      child.replicationIds = {replicationId};
      child.vmChild = true;
      child.vmChildren = false;
      child.ended = true;
      child.elapsedMs = child.durationMs;
      child.hung = false;
      child.faults = SJobFaults();
      SJobRecord record;
      record.jobId = child.jobId;
      record.jobType = CJobStore::kTypeChild;
      record.status = job.status;
      record.percent = 100.0;
      record.parentJobId = job.jobId;
      record.opType = job.opType;
      record.name = "VM backup of replication [" + std::to_string(replicationId) + "]";
      if (CJobStore::CreateJob(record) != child.jobId || !CSimJobStore::Insert(child) ||
          !CJobManagerRows::AddChildLink(job.jobId, child.jobId, job.applicationId, job.applicationId,
                                         CJobManagerRows::kChildCompleted)) {
        return false;
      }
      holders.push_back(child.jobId);
    }
  }
  for (long long holder : holders) {
    for (const SStorageCopy& copy : policy.copies) {
      const int status = copy.primary && !job.snap ? CJobManagerRows::kCopied : 0;
      if (!CJobManagerRows::AddDataRows(holder, copy.copyId, status)) return false;
    }
  }
  return true;
}

// The jobs whose data rows a copy job of the policy changes: each backup of
// the policy that did its work, with its VM children; snapOnly for a backup
// copy.
bool BackupsOfPolicy(int policyId, bool snapOnly, std::vector<std::pair<long long, long long>>& out) {
  std::vector<SChildJobRecord> backups;
  if (CSimJobStore::SucceededBackupsOfPolicy(policyId, backups) != EStoreResult::kOk) return false;
  for (const SChildJobRecord& backup : backups) {
    if (snapOnly && !backup.snap) continue;
    out.emplace_back(backup.jobId, backup.jobId);
    std::vector<SChildJobRecord> children;
    if (CSimJobStore::VMChildren(backup.jobId, children) != EStoreResult::kOk) return false;
    for (const SChildJobRecord& child : children) out.emplace_back(child.jobId, backup.jobId);
  }
  return true;
}

// An aux copy that did its work copies to its copy every backup of the
// policy whose data is on the primary copy, but for the planted faults.
bool EndAuxCopy(const SChildJobRecord& job) {
  SStoragePolicy policy;
  const EStoreResult read = CStoragePolicyStore::GetPolicy(job.storagePolicyId, policy);
  if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
  std::vector<std::pair<long long, long long>> holders;  // (job, its backup)
  if (!BackupsOfPolicy(job.storagePolicyId, false, holders)) return false;
  const SJobFaults& f = job.faults;
  for (const auto& holder : holders) {
    if ((f.flags & kFaultAuxUncopied) && (Contains(f.jobIds, holder.first) || Contains(f.jobIds, holder.second))) {
      continue;
    }
    bool onPrimary = false;
    if (CJobManagerRows::HoldsData(holder.first, policy.PrimaryCopyId(), onPrimary) != EStoreResult::kOk) return false;
    if (!onPrimary) continue;
    if (!CJobManagerRows::SetDataRows(holder.first, job.copyId, CJobManagerRows::kCopied)) return false;
    if ((f.flags & kFaultAuxRowShort) && f.shortRowJobId == holder.first &&
        !CJobManagerRows::SetDataRows(holder.first, job.copyId, CJobManagerRows::kCopied / 2, true)) {
      return false;
    }
  }
  return true;
}

// A backup copy that did its work puts the policy's snap backups on the
// primary copy.
bool EndBackupCopy(const SChildJobRecord& job) {
  SStoragePolicy policy;
  const EStoreResult read = CStoragePolicyStore::GetPolicy(job.storagePolicyId, policy);
  if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
  std::vector<std::pair<long long, long long>> holders;
  if (!BackupsOfPolicy(job.storagePolicyId, true, holders)) return false;
  for (const auto& holder : holders) {
    if (!CJobManagerRows::SetDataRows(holder.first, policy.PrimaryCopyId(), CJobManagerRows::kCopied)) return false;
  }
  return true;
}

// A sync that did its work leaves its replications in sync with the VM's
// latest backup; one that failed (or a planted fault) leaves them failed. A
// killed sync (its DR job killed it) has not failed: it left its
// replications needing a sync, which a new DR job may run.
bool EndSync(const SChildJobRecord& job, bool success, bool killed) {
  for (int id : job.replicationIds) {
    bool isVM = false;
    std::string unknown;
    if (!IsVMReplication(id, isVM, unknown)) {
      if (unknown.empty()) return false;
      continue;  // removed since the start: nothing to write
    }
    if (!isVM) continue;
    Repl partial;
    partial.SetInt32(Repl::kReplicationId, id);
    const bool synced = success && !((job.faults.flags & kFaultSyncFailed) &&
                                     std::find(job.faults.replicationIds.begin(), job.faults.replicationIds.end(),
                                               id) != job.faults.replicationIds.end());
    partial.SetInt32(Repl::kSyncStatus, synced   ? App::VSA_REPL_STATUS_IN_SYNC
                                        : killed ? App::VSA_REPL_STATUS_NEED_SYNC
                                                 : App::VSA_REPL_STATUS_SYNC_FAILED);
    if (synced) {
      Repl stored;
      const int subclient = CReplicationStore::Get(id, stored)
                                ? stored.GetMsg(Repl::kSubclient).GetInt32(ZnEntities::SubClientEntity::kSubclientId)
                                : 0;
      long long backup = 0;
      if (CSimJobStore::LatestBackupOfVM(id, subclient, backup) != EStoreResult::kOk) return false;
      if (backup > 0) partial.SetInt64(Repl::kLastSyncedBackupJobId, backup);
    }
    std::string error;
    if (CReplicationStore::Merge(partial, error) != 0) {
      EvDebug(job.jobId).Error("EndSync", "Cannot change replication [%d]: [%s]", id, error.c_str());
      return false;
    }
  }
  return true;
}

bool EndRows(const SChildJobRecord& job, bool success, bool killed) {
  if (!CJobManagerRows::RemoveRunning(job.jobId)) return false;
  switch (job.type) {
    case EChildJobType::kBackup: return !success || EndBackup(job);
    case EChildJobType::kAuxCopy: return !success || EndAuxCopy(job);
    case EChildJobType::kBackupCopy: return !success || EndBackupCopy(job);
    case EChildJobType::kSync: return EndSync(job, success, killed);
    case EChildJobType::kRestore: return true;
  }
  return false;
}

// The other stores' part of an ending, inside its transaction.
bool RunEndWriters(const SChildJobRecord& job) {
  SChildJobRecord ended;
  const SChildJobRecord& record = CJobSimulator::GetJob(job.jobId, ended) == EStoreResult::kOk ? ended : job;
  for (const auto& entry : CJobSimulator::EndWriters().All()) {
    if (entry.second.type != job.type || !entry.second.write) continue;
    if (!entry.second.write(record)) {
      EvDebug(job.jobId).Error("RunEndWriters", "Writer [%s] failed for job [%lld]", entry.first.c_str(), job.jobId);
      return false;
    }
  }
  return true;
}

void RunEndHooks(const SChildJobRecord& job) {
  std::vector<CJobSimulator::EndHook> hooks;
  {
    SHooks& h = Hooks();
    CMutexLock lock(h.mutex);
    for (const auto& entry : h.hooks) {
      if (entry.second.first == job.type) hooks.push_back(entry.second.second);
    }
  }
  for (const CJobSimulator::EndHook& hook : hooks) hook(job);
}

// Ends a job once: the conditional change of its job record, its simulator
// row, the ending's rows and the settling of its notices in one write
// transaction; then, by the one caller that ended it, the notices and the
// hooks. A natural ending (the runner's) applies only to a job still
// running and not hung.
bool End(long long jobId, const std::string& status, const std::string& reason, bool natural) {
  EvDebug event(jobId);
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return false;
  SChildJobRecord job;
  std::vector<SNotice> due;
  {
    CDBWriteScope scope(c);
    if (!scope.Ok()) return false;
    if (CSimJobStore::Get(jobId, job) != EStoreResult::kOk || job.ended || (natural && job.hung)) return false;
    if (CJobStore::EndIfActive(jobId, status, natural) != EStoreResult::kOk) return false;
    job.status = status;
    job.endReason = reason;
    job.ended = true;
    if (CSimJobStore::MarkEnded(jobId, status, reason) != EStoreResult::kOk ||
        !EndRows(job, CSimJobStore::IsSuccess(status), status == kKilled) || !RunEndWriters(job) ||
        !CJobNotices::SettleOnEnd(job, due) ||
        !scope.Commit()) {
      event.Error("End", "Cannot end job [%lld] as [%s]; it goes on", jobId, status.c_str());
      return false;
    }
  }
  event.DebugLvl(1, "End", "Job [%lld] of DR job [%lld] ended [%s]%s%s", jobId, job.parentJobId, status.c_str(),
                 reason.empty() ? "" : ": ", reason.c_str());
  CJobNotices::Deliver(due);
  SChildJobRecord ended;
  RunEndHooks(CJobSimulator::GetJob(jobId, ended) == EStoreResult::kOk ? ended : job);
  return true;
}

// The runner's step for one job: elapsed time and percent, or its ending.
void Advance(long long jobId, long long deltaMs) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return;
  bool due = false;
  {
    CDBWriteScope scope(c);
    if (!scope.Ok()) return;
    SChildJobRecord job;
    SJobRecord record;
    if (CSimJobStore::Get(jobId, job) != EStoreResult::kOk || job.ended || job.hung ||
        CJobStore::GetJob(jobId, record) != EStoreResult::kOk || record.status != kRunning) {
      return;
    }
    const long long elapsed = job.elapsedMs + deltaMs;
    due = elapsed >= job.durationMs;
    if (!due) {
      const double percent = floor(100.0 * static_cast<double>(elapsed) / static_cast<double>(job.durationMs));
      if (CSimJobStore::SetElapsed(jobId, elapsed) != EStoreResult::kOk ||
          CJobStore::SetPercentIfActive(jobId, percent) != EStoreResult::kOk) {
        return;
      }
      scope.Commit();
    }
  }
  if (due) End(jobId, kCompleted, std::string(), true);
}

void Tick(long long deltaMs) {
  std::vector<long long> ids;
  if (CSimJobStore::AdvanceableIds(ids) == EStoreResult::kOk) {
    for (long long id : ids) Advance(id, deltaMs);
  }
  CJobNotices::DeliverDelayed(deltaMs);
}

void RunnerLoop() {
  SRunner& r = Runner();
  CPlatformClock& clock = CPlatformClock::Instance();
  int64_t last = clock.NowMs();
  for (;;) {
    {
      CMutexLock lock(r.mutex);
      clock.WaitOn(lock.Native(), r.wake, kTickMs, "CJobSimulator runner", [&r]() DR_REQUIRES(r.mutex) { return r.stop; },
                   false);
      if (r.stop) break;
    }
    const int64_t now = clock.NowMs();
    Tick(now - last);
    last = now;
  }
  CDBConnection::CloseThreadConnections();
}

EStoreResult OperateOnChild(long long jobId, int op) {
  SChildJobRecord job;
  const EStoreResult read = CSimJobStore::Get(jobId, job);
  // A child job the simulator does not run (made by hand) gets the job
  // manager's plain reaction.
  if (read == EStoreResult::kMissing) return CJobStore::ApplyOperation(jobId, op);
  if (read != EStoreResult::kOk) return read;
  SJobRecord record;
  const EStoreResult readRecord = CJobStore::GetJob(jobId, record);
  if (readRecord != EStoreResult::kOk) return readRecord;
  if (record.ignoreOps || job.ended) return EStoreResult::kOk;
  switch (op) {
    case 0: CJobSimulator::Suspend(jobId); break;
    case 2: CJobSimulator::Resume(jobId); break;
    case 3: CJobSimulator::Kill(jobId); break;
    default: break;
  }
  return EStoreResult::kOk;
}

int RunningSyncJobsProcedure(const std::string& request, std::string& response) {
  JobManager::GetRunningSyncJobsReq req;
  std::string error;
  if (!req.Unserialize(request, &error)) return -1;
  const int taskId = req.GetMsg(JobManager::GetRunningSyncJobsReq::kTaskEntity).GetInt32(ZnEntities::TaskEntity::kTaskId);
  std::vector<long long> ids;
  if (CJobSimulator::RunningSyncJobs(taskId, ids) != EStoreResult::kOk) return -1;
  JobManager::GetRunningSyncJobsResp resp;
  resp.TouchField(JobManager::GetRunningSyncJobsResp::kRunningJobs);
  for (long long id : ids) {
    resp.AddMsg(JobManager::GetRunningSyncJobsResp::kRunningJobs).SetInt64(JobManager::JobInfo::kJobId, id);
  }
  return resp.serializeUTF8(response) ? 0 : -1;
}

}  // namespace

const char* CJobSimulator::TypeName(EChildJobType type, bool snap) {
  switch (type) {
    case EChildJobType::kBackup: return snap ? "snap backup" : "backup";
    case EChildJobType::kAuxCopy: return "aux copy";
    case EChildJobType::kBackupCopy: return "backup copy";
    case EChildJobType::kSync: return "sync";
    case EChildJobType::kRestore: return "restore";
  }
  return "?";
}

int CJobSimulator::OperationType(EChildJobType type, bool snap) {
  switch (type) {
    case EChildJobType::kBackup: return snap ? ZN_OP_SNAP_BACKUP : ZN_OP_BACKUP;
    case EChildJobType::kAuxCopy: return ZN_OP_AUX_COPY;
    case EChildJobType::kBackupCopy: return ZN_OP_BACKUP_COPY;
    case EChildJobType::kSync: return ZN_OP_REPLICATION;
    case EChildJobType::kRestore: return kRestoreOpType;
  }
  return ZN_OP_NONE;
}

bool CJobSimulator::Start() {
  SRunner& r = Runner();
  CMutexLock control(r.control);
  if (r.thread.joinable()) return true;
  {
    CMutexLock lock(r.mutex);
    r.stop = false;
  }
  r.thread = std::thread(RunnerLoop);
  return true;
}

void CJobSimulator::Stop() {
  SRunner& r = Runner();
  CMutexLock control(r.control);
  if (!r.thread.joinable()) return;
  {
    CMutexLock lock(r.mutex);
    r.stop = true;
  }
  r.wake.notify_all();
  r.thread.join();
  // The answers of the notifiers it started are recorded here, not lost
  // with the runner.
  AwaitNotifiers();
}

void CJobSimulator::AwaitNotifiers() { CJobNotices::SettleSenders(kSettleSendersMs); }

bool CJobSimulator::IsRunning() {
  SRunner& r = Runner();
  CMutexLock control(r.control);
  return r.thread.joinable();
}

long long CJobSimulator::Overlaps() { return CSimJobStore::Setting(kOverlapCounter, 0); }

namespace {

// Two jobs that do the same work at once (a second backup of a subclient, a
// second aux copy to a copy) are a fault of whoever launched the second: it
// is counted, so tests that restart DR jobs can tell a job adopted from one
// launched again beside it. Inside the start's transaction, so each start
// sees the ones before it.
bool JournalOverlap(const SChildJobRecord& job) {
  std::vector<long long> running;
  if (CSimJobStore::RunningOfPurpose(job, running) != EStoreResult::kOk) return false;
  if (running.empty()) return true;
  EvDebug(job.parentJobId)
      .Error("StartJob", "Violation: [%s] job [%lld] started while job [%lld] does the same work", CJobSimulator::TypeName(job.type, job.snap),
             job.jobId, running.front());
  return CSimJobStore::SetSetting(CJobSimulator::kOverlapCounter, CJobSimulator::Overlaps() + 1);
}

}  // namespace

long long CJobSimulator::StartJob(const SChildJobSpec& spec) {
  EvDebug event(spec.parentJobId);
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr || spec.durationMs < 0) return 0;
  SChildJobRecord job;
  job.type = spec.type;
  job.parentJobId = spec.parentJobId;
  job.applicationId = spec.applicationId;
  job.taskId = spec.taskId;
  job.storagePolicyId = spec.storagePolicyId;
  job.copyId = spec.copyId;
  job.replicationIds = spec.replicationIds;
  job.snap = spec.snap;
  job.vmChildren = spec.vmChildren;
  job.hung = spec.hang;
  job.mode = spec.mode;
  job.options = spec.options;
  job.durationMs = spec.durationMs > 0 ? spec.durationMs : Duration(spec.type);
  std::string error;
  {
    CDBWriteScope scope(c);
    if (!scope.Ok()) return 0;
    job.jobId = CSimJobStore::TakeJobId();
    if (job.jobId == 0 || CSimJobStore::TakeNextFaults(spec.type, job.faults) != EStoreResult::kOk) return 0;
    // The snap flag may come from the subclient, so the operation type
    // follows the type's preparation.
    job.opType = OperationType(job.type, job.snap);
    bool ok = PrepareStart(spec, job, error);
    job.opType = OperationType(job.type, job.snap);
    SJobRecord record;
    record.jobId = job.jobId;
    record.jobType = CJobStore::kTypeChild;
    record.status = kRunning;
    record.parentJobId = job.parentJobId;
    record.opType = job.opType;
    record.name = TypeName(job.type, job.snap);
    ok = ok && CJobStore::CreateJob(record) == job.jobId && CSimJobStore::Insert(job) && JournalOverlap(job) &&
         scope.Commit();
    if (!ok) {
      event.Error("StartJob", "Cannot start a [%s] job for DR job [%lld]%s%s", TypeName(spec.type, spec.snap),
                  spec.parentJobId, error.empty() ? "" : ": ", error.c_str());
      return 0;
    }
  }
  event.DebugLvl(1, "StartJob", "Started [%s] job [%lld] for DR job [%lld], planned for [%lld] ms",
                 TypeName(job.type, job.snap), job.jobId, job.parentJobId, job.durationMs);
  return job.jobId;
}

bool CJobSimulator::Complete(long long jobId) { return End(jobId, kCompleted, std::string(), false); }
bool CJobSimulator::CompleteWithErrors(long long jobId) {
  return End(jobId, kCompletedWithErrors, std::string(), false);
}
bool CJobSimulator::Fail(long long jobId, const std::string& reason) { return End(jobId, kFailed, reason, false); }
bool CJobSimulator::Kill(long long jobId) { return End(jobId, kKilled, std::string(), false); }

// Suspend and resume read and change the job in one write transaction: the
// runner cannot end it between the read and the change, so the answer is
// about the job as it was changed.
bool CJobSimulator::Suspend(long long jobId) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  SChildJobRecord job;
  if (GetJob(jobId, job) != EStoreResult::kOk || job.ended) return false;
  const EStoreResult changed = CJobStore::ChangeStatusIf(jobId, kRunning, kSuspended);
  // Already suspended is suspended.
  const bool suspended = changed == EStoreResult::kOk ||
                         (changed == EStoreResult::kMissing && GetJob(jobId, job) == EStoreResult::kOk &&
                          job.status == kSuspended);
  return suspended && scope.Commit();
}

bool CJobSimulator::Resume(long long jobId) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  SChildJobRecord job;
  if (GetJob(jobId, job) != EStoreResult::kOk || job.ended) return false;
  if (CSimJobStore::SetHung(jobId, false) != EStoreResult::kOk) return false;
  const EStoreResult changed = CJobStore::ChangeStatusIf(jobId, kSuspended, kRunning);
  const bool running = changed == EStoreResult::kOk ||
                       (changed == EStoreResult::kMissing && GetJob(jobId, job) == EStoreResult::kOk &&
                        job.status == kRunning);
  return running && scope.Commit();
}

bool CJobSimulator::Hang(long long jobId) { return CSimJobStore::SetHung(jobId, true) == EStoreResult::kOk; }

bool CJobSimulator::SetPercent(long long jobId, int percent) {
  if (percent < 0 || percent > 99) return false;
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  SChildJobRecord job;
  if (CSimJobStore::Get(jobId, job) != EStoreResult::kOk || job.ended) return false;
  return CSimJobStore::SetElapsed(jobId, job.durationMs * percent / 100) == EStoreResult::kOk &&
         CJobStore::SetPercentIfActive(jobId, percent) == EStoreResult::kOk && scope.Commit();
}

void CJobSimulator::SetDuration(EChildJobType type, long long ms) {
  if (!CSimJobStore::SetSetting(DurationKey(type), ms)) {
    EvDebug().Error("SetDuration", "Cannot store the duration of [%s] jobs", TypeName(type));
  }
}

long long CJobSimulator::Duration(EChildJobType type) {
  const long long stored = CSimJobStore::Setting(DurationKey(type), 0);
  return stored > 0 ? stored : DefaultDuration(type);
}

bool CJobSimulator::SetFaults(long long jobId, const SJobFaults& faults) {
  return CSimJobStore::SetFaults(jobId, faults) == EStoreResult::kOk;
}

bool CJobSimulator::SetNextJobFaults(EChildJobType type, const SJobFaults& faults) {
  return CSimJobStore::PutNextFaults(type, faults);
}

EStoreResult CJobSimulator::GetJob(long long jobId, SChildJobRecord& out) {
  SChildJobRecord job;
  EStoreResult r = CSimJobStore::Get(jobId, job);
  if (r != EStoreResult::kOk) return r;
  SJobRecord record;
  r = CJobStore::GetJob(jobId, record);
  if (r != EStoreResult::kOk) return r == EStoreResult::kMissing ? EStoreResult::kFailed : r;
  job.status = record.status;
  job.percent = record.percent;
  if (job.type == EChildJobType::kBackup && !job.vmChild) {
    std::vector<SChildJobRecord> children;
    if (CSimJobStore::VMChildren(jobId, children) != EStoreResult::kOk) return EStoreResult::kFailed;
    for (const SChildJobRecord& child : children) job.childJobIds.push_back(child.jobId);
  }
  out = job;
  return EStoreResult::kOk;
}

EStoreResult CJobSimulator::Jobs(std::vector<SChildJobRecord>& out) {
  std::vector<SChildJobRecord> rows;
  if (CSimJobStore::All(rows) != EStoreResult::kOk) return EStoreResult::kFailed;
  std::vector<SChildJobRecord> jobs;
  for (const SChildJobRecord& row : rows) {
    jobs.emplace_back();
    if (GetJob(row.jobId, jobs.back()) != EStoreResult::kOk) return EStoreResult::kFailed;
  }
  out.swap(jobs);
  return EStoreResult::kOk;
}

EStoreResult CJobSimulator::RunningSyncJobs(int taskId, std::vector<long long>& out) {
  return CSimJobStore::RunningSyncIds(taskId, out);
}

int CJobSimulator::AddEndHook(EChildJobType type, EndHook hook) {
  SHooks& h = Hooks();
  CMutexLock lock(h.mutex);
  const int id = h.nextId++;
  h.hooks[id] = std::make_pair(type, std::move(hook));
  return id;
}

CJobSimulator::EndWriterRegistry& CJobSimulator::EndWriters() {
  static auto* registry = new EndWriterRegistry();
  return *registry;
}

void CJobSimulator::RemoveEndHook(int hookId) {
  SHooks& h = Hooks();
  CMutexLock lock(h.mutex);
  h.hooks.erase(hookId);
}

void CJobSimulator::SetInProcessDelivery(std::function<void(unsigned long long, std::string&)> deliver) {
  CJobNotices::SetInProcessDelivery(std::move(deliver));
}

void CJobSimulator::SetInProcessAcknowledgedDelivery(std::function<bool(unsigned long long, std::string&)> deliver) {
  CJobNotices::SetInProcessAcknowledgedDelivery(std::move(deliver));
}

void CJobSimulator::SetNotifierPath(const std::string& path) { CJobNotices::SetNotifierPath(path); }
void CJobSimulator::SetNotifierLibrary(const std::string& path) { CJobNotices::SetNotifierLibrary(path); }

void CJobSimulator::Register() {
  CJobRequestHandlers::OperationHandlers().Register(CJobStore::kTypeChild, OperateOnChild);
  App_ExecuteSP::RegisterHandler(JobManager::GetRunningSyncJobsReq::kTypeId, RunningSyncJobsProcedure);
  App_MiscOptions::RegisterHandler(App_MiscOptions::kJobCompletion,
                                   [](long long jobId, int haldenId, int, const std::string& token) {
                                     return CJobNotices::Register(jobId, haldenId, token);
                                   });
}

bool CJobSimulator::CreateTables() {
  return CSimJobStore::CreateTables() && CJobManagerRows::CreateTables() && CJobNotices::CreateTables() &&
         CStoragePolicyStore::CreateTables();
}

