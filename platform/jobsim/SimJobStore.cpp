#include "jobsim/SimJobStore.h"

#include <set>

#include "jobs/JobStore.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

namespace {

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_SimJobs (jobId INTEGER PRIMARY KEY, childType INTEGER NOT NULL,"
    " opType INTEGER NOT NULL DEFAULT 0, parentJobId INTEGER NOT NULL DEFAULT 0,"
    " applicationId INTEGER NOT NULL DEFAULT 0, taskId INTEGER NOT NULL DEFAULT 0,"
    " storagePolicyId INTEGER NOT NULL DEFAULT 0, copyId INTEGER NOT NULL DEFAULT 0, replicationIds TEXT,"
    " snap INTEGER NOT NULL DEFAULT 0, vmChildren INTEGER NOT NULL DEFAULT 1, vmChild INTEGER NOT NULL DEFAULT 0,"
    " durationMs INTEGER NOT NULL DEFAULT 0, elapsedMs INTEGER NOT NULL DEFAULT 0,"
    " hung INTEGER NOT NULL DEFAULT 0, ended INTEGER NOT NULL DEFAULT 0, outcome TEXT, endReason TEXT,"
    " faults INTEGER NOT NULL DEFAULT 0, faultJobIds TEXT, shortRowJobId INTEGER NOT NULL DEFAULT 0,"
    " faultReplicationIds TEXT, noticeDelayMs INTEGER NOT NULL DEFAULT 0,"
    " foreignDrJobId INTEGER NOT NULL DEFAULT 0, created INTEGER NOT NULL DEFAULT 0,"
    " mode INTEGER NOT NULL DEFAULT 0, options TEXT);"
    "CREATE INDEX IF NOT EXISTS idx_PLT_SimJobs_open ON PLT_SimJobs (ended, childType);"
    "CREATE INDEX IF NOT EXISTS idx_PLT_SimJobs_parent ON PLT_SimJobs (parentJobId);"
    "CREATE INDEX IF NOT EXISTS idx_PLT_SimJobs_policy ON PLT_SimJobs (storagePolicyId, childType);"
    // A VM's latest backup (each sync's ending asks it for every VM it
    // synced) reads that VM's backups, not every job since: a VM child job
    // names its one replication, a backup without children its subclient.
    "CREATE INDEX IF NOT EXISTS idx_PLT_SimJobs_vmChild ON PLT_SimJobs (replicationIds, childType) WHERE vmChild = 1;"
    "CREATE INDEX IF NOT EXISTS idx_PLT_SimJobs_single ON PLT_SimJobs (applicationId, childType)"
    " WHERE vmChild = 0 AND vmChildren = 0;"
    "CREATE TABLE IF NOT EXISTS PLT_SimSettings (name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS PLT_SimNextFaults (childType INTEGER PRIMARY KEY, faults INTEGER NOT NULL,"
    " faultJobIds TEXT, shortRowJobId INTEGER NOT NULL DEFAULT 0, faultReplicationIds TEXT,"
    " noticeDelayMs INTEGER NOT NULL DEFAULT 0, foreignDrJobId INTEGER NOT NULL DEFAULT 0);";

const char* kColumns =
    "jobId, childType, opType, parentJobId, applicationId, taskId, storagePolicyId, copyId, replicationIds, snap,"
    " vmChildren, vmChild, durationMs, elapsedMs, hung, ended, outcome, endReason, faults, faultJobIds,"
    " shortRowJobId, faultReplicationIds, noticeDelayMs, foreignDrJobId, mode, options";

const char* kSuccessStatuses = "('Completed', 'Completed w/ one or more errors')";

int CreateTables(CDBConnection& c) { return c.Exec(kSchema); }

CDBConnection* Ready(const char* function) { return SimReady(function, CSimJobStore::kTables[0], CreateTables); }

void Read(const CSimStatement& s, SChildJobRecord& r) {
  r.jobId = s.Int(0);
  r.type = static_cast<EChildJobType>(s.Int(1));
  r.opType = static_cast<int>(s.Int(2));
  r.parentJobId = s.Int(3);
  r.applicationId = static_cast<int>(s.Int(4));
  r.taskId = static_cast<int>(s.Int(5));
  r.storagePolicyId = static_cast<int>(s.Int(6));
  r.copyId = static_cast<int>(s.Int(7));
  r.replicationIds = SplitIntIds(s.Text(8));
  r.snap = s.Int(9) != 0;
  r.vmChildren = s.Int(10) != 0;
  r.vmChild = s.Int(11) != 0;
  r.durationMs = s.Int(12);
  r.elapsedMs = s.Int(13);
  r.hung = s.Int(14) != 0;
  r.ended = s.Int(15) != 0;
  r.status = s.Text(16);
  r.endReason = s.Text(17);
  r.faults.flags = static_cast<unsigned>(s.Int(18));
  r.faults.jobIds = SplitIds(s.Text(19));
  r.faults.shortRowJobId = s.Int(20);
  r.faults.replicationIds = SplitIntIds(s.Text(21));
  r.faults.noticeDelayMs = s.Int(22);
  r.faults.foreignDrJobId = s.Int(23);
  r.mode = static_cast<unsigned>(s.Int(24));
  r.options = s.Text(25);
}

// The rows a query selects (kColumns first), in its order.
EStoreResult Select(const char* function, const std::string& where, const std::vector<long long>& args,
                    std::vector<SChildJobRecord>& out) {
  CSimStatement s(Ready(function), function, std::string("SELECT ") + kColumns + " FROM PLT_SimJobs " + where);
  for (long long a : args) s.Bind(a);
  std::vector<SChildJobRecord> rows;
  while (s.Next()) {
    rows.emplace_back();
    Read(s, rows.back());
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult SelectIds(const char* function, const std::string& where, const std::vector<long long>& args,
                       std::vector<long long>& out) {
  std::vector<SChildJobRecord> rows;
  const EStoreResult r = Select(function, where, args, rows);
  if (r != EStoreResult::kOk) return r;
  out.clear();
  for (const SChildJobRecord& row : rows) out.push_back(row.jobId);
  return EStoreResult::kOk;
}

// One conditional write of a job that has not ended.
EStoreResult UpdateActive(const char* function, const std::string& set, const std::vector<std::string>& texts,
                          const std::vector<long long>& numbers, long long jobId) {
  CSimStatement s(Ready(function), function, "UPDATE PLT_SimJobs SET " + set + " WHERE ended = 0 AND jobId = ?");
  for (const std::string& t : texts) s.Bind(t);
  for (long long n : numbers) s.Bind(n);
  s.Bind(jobId);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() > 0 ? EStoreResult::kOk : EStoreResult::kMissing;
}

}  // namespace

bool CSimJobStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CSimJobStore::IsSuccess(const std::string& status) {
  return status == "Completed" || status == "Completed w/ one or more errors";
}

bool CSimJobStore::Insert(const SChildJobRecord& job) {
  CSimStatement s(Ready("Insert"), "Insert",
                  std::string("INSERT INTO PLT_SimJobs (") + kColumns +
                      ", created) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?,"
                      " ?)");
  s.Bind(job.jobId).Bind(static_cast<long long>(job.type)).Bind(job.opType).Bind(job.parentJobId);
  s.Bind(job.applicationId).Bind(job.taskId).Bind(job.storagePolicyId).Bind(job.copyId);
  s.Bind(JoinIds(job.replicationIds)).Bind(job.snap ? 1 : 0).Bind(job.vmChildren ? 1 : 0).Bind(job.vmChild ? 1 : 0);
  s.Bind(job.durationMs).Bind(job.elapsedMs).Bind(job.hung ? 1 : 0).Bind(job.ended ? 1 : 0);
  s.Bind(job.ended ? job.status : std::string()).Bind(job.endReason);
  s.Bind(job.faults.flags).Bind(JoinIds(job.faults.jobIds)).Bind(job.faults.shortRowJobId);
  s.Bind(JoinIds(job.faults.replicationIds)).Bind(job.faults.noticeDelayMs).Bind(job.faults.foreignDrJobId);
  s.Bind(static_cast<long long>(job.mode)).Bind(job.options).Bind(CPlatformClock::Instance().NowEpochSeconds());
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CSimJobStore::Get(long long jobId, SChildJobRecord& out) {
  std::vector<SChildJobRecord> rows;
  const EStoreResult r = Select("Get", "WHERE jobId = ?", {jobId}, rows);
  if (r != EStoreResult::kOk) return r;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows.front();
  return EStoreResult::kOk;
}

EStoreResult CSimJobStore::All(std::vector<SChildJobRecord>& out) { return Select("All", "ORDER BY jobId", {}, out); }

EStoreResult CSimJobStore::AdvanceableIds(std::vector<long long>& out) {
  return SelectIds("AdvanceableIds", "WHERE ended = 0 AND hung = 0 AND vmChild = 0 ORDER BY jobId", {}, out);
}

EStoreResult CSimJobStore::RunningOfPurpose(const SChildJobRecord& job, std::vector<long long>& out) {
  std::vector<SChildJobRecord> rows;
  const EStoreResult r = Select("RunningOfPurpose", "WHERE ended = 0 AND vmChild = 0 AND childType = ? AND jobId <> ?",
                                {static_cast<long long>(job.type), job.jobId}, rows);
  if (r != EStoreResult::kOk) return r;
  out.clear();
  // Looked up, not compared pair by pair: the syncs of one bucketed task
  // start together, each against those started before it.
  const std::set<int> mine(job.replicationIds.begin(), job.replicationIds.end());
  for (const SChildJobRecord& other : rows) {
    bool same = false;
    switch (job.type) {
      case EChildJobType::kBackup:
        same = other.applicationId == job.applicationId;
        break;
      case EChildJobType::kSync:
      case EChildJobType::kRestore: {
        if (other.taskId != job.taskId || other.mode != job.mode) break;
        // An empty list is every replication of the task.
        same = other.replicationIds.empty() || job.replicationIds.empty();
        for (size_t i = 0; !same && i < other.replicationIds.size(); ++i) same = mine.count(other.replicationIds[i]) > 0;
        break;
      }
      case EChildJobType::kAuxCopy:
      case EChildJobType::kBackupCopy:
        same = other.copyId == job.copyId && other.storagePolicyId == job.storagePolicyId;
        break;
    }
    if (same) out.push_back(other.jobId);
  }
  return EStoreResult::kOk;
}

EStoreResult CSimJobStore::RunningSyncIds(int taskId, std::vector<long long>& out) {
  return SelectIds("RunningSyncIds", "WHERE ended = 0 AND childType = ? AND taskId = ? ORDER BY jobId",
                   {static_cast<long long>(EChildJobType::kSync), taskId}, out);
}

EStoreResult CSimJobStore::SucceededBackupsOfPolicy(int policyId, std::vector<SChildJobRecord>& out) {
  return Select("SucceededBackupsOfPolicy",
                std::string("WHERE childType = ? AND vmChild = 0 AND storagePolicyId = ? AND outcome IN ") +
                    kSuccessStatuses + " ORDER BY jobId",
                {static_cast<long long>(EChildJobType::kBackup), policyId}, out);
}

EStoreResult CSimJobStore::VMChildren(long long backupJobId, std::vector<SChildJobRecord>& out) {
  return Select("VMChildren", "WHERE vmChild = 1 AND parentJobId = ? ORDER BY jobId", {backupJobId}, out);
}

EStoreResult CSimJobStore::LatestBackupOfVM(int replicationId, int subclientId, long long& jobId) {
  CSimStatement s(Ready("LatestBackupOfVM"), "LatestBackupOfVM",
                  std::string("SELECT MAX(jobId) FROM PLT_SimJobs WHERE childType = ? AND outcome IN ") +
                      kSuccessStatuses +
                      " AND ((vmChild = 1 AND replicationIds = ?) OR (vmChild = 0 AND vmChildren = 0 AND"
                      " applicationId = ?))");
  s.Bind(static_cast<long long>(EChildJobType::kBackup)).Bind(std::to_string(replicationId)).Bind(subclientId);
  if (!s.Next()) return EStoreResult::kFailed;
  jobId = s.Int(0);
  return EStoreResult::kOk;
}

EStoreResult CSimJobStore::SetElapsed(long long jobId, long long elapsedMs) {
  return UpdateActive("SetElapsed", "elapsedMs = ?", {}, {elapsedMs}, jobId);
}

EStoreResult CSimJobStore::SetHung(long long jobId, bool hung) {
  return UpdateActive("SetHung", "hung = ?", {}, {hung ? 1 : 0}, jobId);
}

EStoreResult CSimJobStore::SetFaults(long long jobId, const SJobFaults& f) {
  return UpdateActive("SetFaults",
                      "faultJobIds = ?, faultReplicationIds = ?, faults = ?, shortRowJobId = ?, noticeDelayMs = ?,"
                      " foreignDrJobId = ?",
                      {JoinIds(f.jobIds), JoinIds(f.replicationIds)},
                      {f.flags, f.shortRowJobId, f.noticeDelayMs, f.foreignDrJobId}, jobId);
}

EStoreResult CSimJobStore::MarkEnded(long long jobId, const std::string& status, const std::string& reason) {
  return UpdateActive("MarkEnded", "outcome = ?, endReason = ?, ended = 1", {status, reason}, {}, jobId);
}

long long CSimJobStore::Setting(const std::string& name, long long otherwise) {
  CSimStatement s(Ready("Setting"), "Setting", "SELECT value FROM PLT_SimSettings WHERE name = ?");
  s.Bind(name);
  return s.Next() ? s.Int(0) : otherwise;
}

bool CSimJobStore::SetSetting(const std::string& name, long long value) {
  CSimStatement s(Ready("SetSetting"), "SetSetting", "INSERT OR REPLACE INTO PLT_SimSettings (name, value) VALUES (?, ?)");
  s.Bind(name).Bind(value);
  return s.Run() == EStoreResult::kOk;
}

long long CSimJobStore::TakeJobId() {
  CSimStatement s(Ready("TakeJobId"), "TakeJobId", "SELECT value FROM PLT_SimSettings WHERE name = 'nextJobId'");
  long long id = kFirstJobId;
  if (s.Next()) id = s.Int(0);
  if (s.Failed()) return 0;
  // Ids the job store holds already (a DR job made by hand, say) are skipped.
  for (;; ++id) {
    if (id >= kJobIdLimit) {
      EvDebug().Error("TakeJobId", "Child job ids have run out at [%lld]", id);
      return 0;
    }
    SJobRecord taken;
    const EStoreResult r = CJobStore::GetJob(id, taken);
    if (r == EStoreResult::kMissing) break;
    if (r != EStoreResult::kOk) return 0;
  }
  return SetSetting("nextJobId", id + 1) ? id : 0;
}

bool CSimJobStore::PutNextFaults(EChildJobType type, const SJobFaults& f) {
  CSimStatement s(Ready("PutNextFaults"), "PutNextFaults",
                  "INSERT OR REPLACE INTO PLT_SimNextFaults (childType, faults, faultJobIds, shortRowJobId,"
                  " faultReplicationIds, noticeDelayMs, foreignDrJobId) VALUES (?, ?, ?, ?, ?, ?, ?)");
  s.Bind(static_cast<long long>(type)).Bind(f.flags).Bind(JoinIds(f.jobIds)).Bind(f.shortRowJobId);
  s.Bind(JoinIds(f.replicationIds)).Bind(f.noticeDelayMs).Bind(f.foreignDrJobId);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CSimJobStore::TakeNextFaults(EChildJobType type, SJobFaults& out) {
  CDBConnection* c = Ready("TakeNextFaults");
  SJobFaults f;
  {
    CSimStatement s(c, "TakeNextFaults",
                    "SELECT faults, faultJobIds, shortRowJobId, faultReplicationIds, noticeDelayMs, foreignDrJobId"
                    " FROM PLT_SimNextFaults WHERE childType = ?");
    s.Bind(static_cast<long long>(type));
    if (s.Next()) {
      f.flags = static_cast<unsigned>(s.Int(0));
      f.jobIds = SplitIds(s.Text(1));
      f.shortRowJobId = s.Int(2);
      f.replicationIds = SplitIntIds(s.Text(3));
      f.noticeDelayMs = s.Int(4);
      f.foreignDrJobId = s.Int(5);
    }
    if (s.Failed()) return EStoreResult::kFailed;
  }
  CSimStatement d(c, "TakeNextFaults", "DELETE FROM PLT_SimNextFaults WHERE childType = ?");
  d.Bind(static_cast<long long>(type));
  if (d.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  out = f;
  return EStoreResult::kOk;
}
