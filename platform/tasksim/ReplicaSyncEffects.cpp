#include "tasksim/ReplicaSyncEffects.h"

#include <algorithm>

#include "jobs/LabStore.h"
#include "jobsim/SimJobStore.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicaSyncStore.h"

namespace {

using Info = App::ReplicaSyncReplicationInfo;

const char kLeaveStatusKnob[] = "replicasync.backup.leavestatus";

bool Change(long long jobId, const Info& partial) {
  std::string error;
  if (CReplicaSyncStore::Merge(partial, error) == 0) return true;
  EvDebug(jobId).Error("CReplicaSyncEffects", "Cannot change replication [%d]: [%s]",
                       partial.GetInt32(Info::kReplicationId), error.c_str());
  return false;
}

// The job's replications that are database replications, with their records.
bool DatabaseReplications(const SChildJobRecord& job, std::vector<Info>& out) {
  for (int id : job.replicationIds) {
    Info info;
    const EStoreResult read = CReplicaSyncStore::Find(id, info);
    if (read == EStoreResult::kFailed) return false;
    if (read == EStoreResult::kOk) out.push_back(info);
  }
  return true;
}

}  // namespace

bool CReplicaSyncEffects::SetBackupsLeaveSyncStatus(bool leave) {
  return leave ? CLabStore::SetKnob(kLeaveStatusKnob, "1") : CLabStore::ClearKnob(kLeaveStatusKnob);
}

bool CReplicaSyncEffects::BackupsLeaveSyncStatus() { return CLabStore::GetKnob(kLeaveStatusKnob) == "1"; }

bool CReplicaSyncEffects::WriteBackup(const SChildJobRecord& backup) {
  if (backup.vmChild || !CSimJobStore::IsSuccess(backup.status) || BackupsLeaveSyncStatus()) return true;
  std::vector<Info> databases;
  if (!DatabaseReplications(backup, databases)) return false;
  for (const Info& db : databases) {
    Info partial;
    partial.SetInt32(Info::kReplicationId, db.GetInt32(Info::kReplicationId));
    partial.SetInt32(Info::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC);
    if (!Change(backup.jobId, partial)) return false;
  }
  return true;
}

bool CReplicaSyncEffects::WriteSync(const SChildJobRecord& sync) {
  std::vector<Info> databases;
  if (!DatabaseReplications(sync, databases)) return false;
  const bool success = CSimJobStore::IsSuccess(sync.status);
  const std::vector<int>& failing = sync.faults.replicationIds;
  for (const Info& db : databases) {
    const int id = db.GetInt32(Info::kReplicationId);
    const bool faulted =
        (sync.faults.flags & kFaultSyncFailed) && std::find(failing.begin(), failing.end(), id) != failing.end();
    Info partial;
    partial.SetInt32(Info::kReplicationId, id);
    partial.SetInt32(Info::kSyncStatus,
                     success && !faulted ? App::VSA_REPL_STATUS_IN_SYNC : App::VSA_REPL_STATUS_SYNC_FAILED);
    if (success && !faulted) {
      const int subclient = db.GetMsg(Info::kSourceEntity).GetInt32(ZnEntities::SubClientEntity::kSubclientId);
      long long backup = 0;
      if (CSimJobStore::LatestBackupOfVM(id, subclient, backup) != EStoreResult::kOk) return false;
      if (backup > 0) partial.SetInt64(Info::kLastSyncedJobId, backup);
    }
    if (!Change(sync.jobId, partial)) return false;
  }
  return true;
}

void CReplicaSyncEffects::Register() {
  CJobSimulator::SEndWriter backup;
  backup.type = EChildJobType::kBackup;
  backup.write = WriteBackup;
  CJobSimulator::EndWriters().Register(kBackupWriterName, backup);
  CJobSimulator::SEndWriter sync;
  sync.type = EChildJobType::kSync;
  sync.write = WriteSync;
  CJobSimulator::EndWriters().Register(kSyncWriterName, sync);
}
