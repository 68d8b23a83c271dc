#include "tasksim/BackupEffects.h"

#include <stdint.h>

#include <map>

#include "appmgr/ClientProperties.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationSources.h"
#include "tasksim/VMStatusStore.h"
#include "time/PlatformClock.h"

namespace {

bool IsVMSuccess(int status) { return status == App::VM_STATUS_SUCCESS || status == App::VM_STATUS_SUCCESS_WITH_ERRORS; }

// The status every VM of the job gets unless a fault says otherwise.
SVMStatusEntry JobStatus(const SChildJobRecord& backup) {
  SVMStatusEntry e;
  e.jobId = backup.jobId;
  if (backup.status == "Completed") {
    e.status = App::VM_STATUS_SUCCESS;
  } else if (backup.status == "Completed w/ one or more errors") {
    e.status = App::VM_STATUS_SUCCESS_WITH_ERRORS;
  } else {
    e.status = CVMStatusStore::kStatusFailed;
    e.reason = !backup.endReason.empty() ? backup.endReason
                                         : "Backup job [" + std::to_string(backup.jobId) + "] " + backup.status;
  }
  return e;
}

bool RecordLastBackup(int clientId, long long jobId, int32_t endTime) {
  App::LastBackupJobInfo info;
  info.SetInt32(App::LastBackupJobInfo::kStatus, 1);
  info.MutableMsg(App::LastBackupJobInfo::kEndTime).SetInt32(ZnEntities::TimeEntityFields::kTime, endTime);
  if (ClientProperties(clientId).setLastVMBackupJobInfo(info) == 0) return true;
  EvDebug(jobId).Error("RecordLastBackup", "Cannot store the last backup of client [%d]", clientId);
  return false;
}

}  // namespace

bool CBackupEffects::Write(const SChildJobRecord& backup) {
  if (backup.vmChild) return true;
  std::vector<SVMStatusFault> planted;
  if (CVMStatusStore::Faults(planted) != EStoreResult::kOk) return false;
  std::map<int, SVMStatusFault> faults;
  for (const SVMStatusFault& f : planted) faults[f.replicationId] = f;
  // One job, one end time for every VM it took.
  const int32_t endTime = static_cast<int32_t>(CPlatformClock::Instance().NowEpochSeconds());
  for (int id : backup.replicationIds) {
    auto fault = faults.find(id);
    if (fault != faults.end() && fault->second.leftOut) continue;
    SSourcedReplication vm;
    const EStoreResult read = CReplicationSources::Get(id, vm);
    if (read == EStoreResult::kFailed) return false;
    SVMStatusEntry entry = JobStatus(backup);
    entry.replicationId = id;
    entry.vmGuid = vm.sourceGuid;
    if (fault != faults.end() && IsVMSuccess(entry.status)) {
      entry.status = CVMStatusStore::kStatusFailed;
      entry.reason = fault->second.reason;
    }
    if (!CVMStatusStore::Add(entry)) return false;
    if (IsVMSuccess(entry.status) && vm.sourceClientId > 0 && !RecordLastBackup(vm.sourceClientId, backup.jobId, endTime)) {
      return false;
    }
  }
  return true;
}

void CBackupEffects::Register() {
  CJobSimulator::SEndWriter writer;
  writer.type = EChildJobType::kBackup;
  writer.write = Write;
  CJobSimulator::EndWriters().Register(kWriterName, writer);
}
