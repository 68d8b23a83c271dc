// What the child jobs of a DR job leave on the lab's VMs, written in the
// job's ending transaction (job-simulator end writers), so a DR job that
// sees the job ended finds its effect. Replications the lab has no replica
// of are none of its business.
#include <algorithm>

#include "jobsim/JobSimulator.h"
#include "log/EvEvent.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"
#include "vm/LabInternals.h"

namespace hvlab {

namespace {

bool Succeeded(const SChildJobRecord& job) {
  return job.status == "Completed" || job.status == "Completed w/ one or more errors";
}

bool SyncFailedFor(const SChildJobRecord& job, int replicationId) {
  const std::vector<int>& failed = job.faults.replicationIds;
  return (job.faults.flags & kFaultSyncFailed) != 0 &&
         std::find(failed.begin(), failed.end(), replicationId) != failed.end();
}

// Each replica of the job: work answers false on a failed write.
template <class Work>
bool ForEachReplica(const SChildJobRecord& job, Work work) {
  for (int id : job.replicationIds) {
    SLabReplica replica;
    const EStoreResult read = CHypervisorStore::GetReplica(id, replica);
    if (read == EStoreResult::kFailed) return false;
    if (read == EStoreResult::kMissing) continue;
    if (!work(replica)) {
      EvDebug(job.jobId).Error("ForEachReplica", "Cannot store the effect of job [%lld] on replica [%d]",
                               job.jobId, id);
      return false;
    }
  }
  return true;
}

// A backup records what each source VM holds now.
bool RecordBackup(const SChildJobRecord& backup) {
  if (backup.vmChild || !Succeeded(backup)) return true;
  return ForEachReplica(backup, [](SLabReplica& replica) {
    SLabVM source;
    const EStoreResult read = CHypervisorStore::GetVM(replica.sourceInstanceId, replica.sourceGuid, source);
    if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
    replica.backedUpContent = source.content;
    return CHypervisorStore::PutReplica(replica);
  });
}

// A sync copies the backed-up content onto the DR VM (when it exists yet),
// which then holds one backup snapshot of that state.
bool ApplySync(const SChildJobRecord& sync) {
  if (!Succeeded(sync)) return true;
  return ForEachReplica(sync, [&sync](SLabReplica& replica) {
    if (replica.backedUpContent < 0 || SyncFailedFor(sync, replica.replicationId)) return true;
    replica.syncedContent = replica.backedUpContent;
    if (!CHypervisorStore::PutReplica(replica)) return false;
    SLabVM dr;
    const EStoreResult read = CHypervisorStore::GetVM(replica.destInstanceId, replica.destGuid, dr);
    if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
    dr.content = replica.syncedContent;
    return CHypervisorStore::PutVM(dr) && RenewBackupSnapshot(dr);
  });
}

// A failback restore copies each DR VM's content back onto its source VM.
bool ApplyRestore(const SChildJobRecord& restore) {
  if (!Succeeded(restore)) return true;
  return ForEachReplica(restore, [](SLabReplica& replica) {
    SLabVM dr, source;
    EStoreResult read = CHypervisorStore::GetVM(replica.destInstanceId, replica.destGuid, dr);
    if (read == EStoreResult::kOk) read = CHypervisorStore::GetVM(replica.sourceInstanceId, replica.sourceGuid, source);
    if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
    source.content = dr.content;
    return CHypervisorStore::PutVM(source);
  });
}

void AddWriter(const char* name, EChildJobType type, bool (*write)(const SChildJobRecord&)) {
  CJobSimulator::SEndWriter writer;
  writer.type = type;
  writer.write = write;
  CJobSimulator::EndWriters().Register(name, writer);
}

}  // namespace

bool RenewBackupSnapshot(const SLabVM& vm) {
  std::vector<SLabSnapshot> snaps;
  if (CHypervisorStore::Snapshots(vm.instanceId, vm.guid, snaps) != EStoreResult::kOk) return false;
  for (const SLabSnapshot& s : snaps) {
    if (s.name == CHypervisorLab::kBackupSnapshotName && CHypervisorStore::RemoveSnapshot(s.ref) == EStoreResult::kFailed) {
      return false;
    }
  }
  SLabSnapshot snap;
  snap.ref = NewSnapshotRef();
  snap.instanceId = vm.instanceId;
  snap.vmGuid = vm.guid;
  snap.name = CHypervisorLab::kBackupSnapshotName;
  snap.content = vm.content;
  snap.poweredOn = vm.poweredOn;
  return !snap.ref.empty() && CHypervisorStore::AddSnapshot(snap);
}

void RegisterJobEffects() {
  AddWriter("lab backup", EChildJobType::kBackup, RecordBackup);
  AddWriter("lab sync", EChildJobType::kSync, ApplySync);
  AddWriter("lab restore", EChildJobType::kRestore, ApplyRestore);
}

}  // namespace hvlab
