// What the child jobs of a DR job leave on the lab's VMs, written in the
// job's ending transaction (job-simulator end writers), so a DR job that
// sees the job ended finds its effect. Replications the lab has no replica
// of are none of its business.
#include <algorithm>
#include <set>
#include <string>

#include "jobsim/JobSimulator.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"
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

// A backup records what each source VM holds now; a DR-site backup what
// each DR VM holds.
bool RecordBackup(const SChildJobRecord& backup) {
  if (backup.vmChild || !Succeeded(backup)) return true;
  const bool drSite = (backup.mode & kModeDRSiteBackup) != 0;
  return ForEachReplica(backup, [drSite](SLabReplica& replica) {
    SLabVM vm;
    const EStoreResult read = drSite ? CHypervisorStore::GetVM(replica.destInstanceId, replica.destGuid, vm)
                                     : CHypervisorStore::GetVM(replica.sourceInstanceId, replica.sourceGuid, vm);
    if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
    replica.backedUpContent = vm.content;
    return CHypervisorStore::PutReplica(replica);
  });
}

// The names the restore options give VMs: their advanced options' field 3.
// Read once per restore, so a replica's check is one look-up whatever the
// number of VMs the restore takes.
std::set<std::string> RestoredNames(const CNMessageBase& options) {
  std::set<std::string> names;
  const CNMessageBase& disk = options.GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  for (size_t i = 0; i < disk.ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions); ++i) {
    const std::string& name = disk.GetListMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, i)
                                  .GetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter);
    if (!name.empty()) names.insert(name);
  }
  return names;
}

// Whether the restore options name the replica's source VM: one of the
// names is that VM's, and the name finds that VM on the source instance
// (of two VMs of one name, the one a look-up by name finds). kFailed when
// the lab cannot be read.
EStoreResult RestoreNamesSource(const std::set<std::string>& names, const SLabReplica& replica, bool& named) {
  named = false;
  SLabVM source;
  EStoreResult read = CHypervisorStore::GetVM(replica.sourceInstanceId, replica.sourceGuid, source);
  if (read != EStoreResult::kOk || names.count(source.name) == 0) {
    return read == EStoreResult::kFailed ? read : EStoreResult::kOk;
  }
  SLabVM found;
  read = CHypervisorStore::FindVMByName(replica.sourceInstanceId, source.name, found);
  named = read == EStoreResult::kOk && found.guid == replica.sourceGuid;
  return read == EStoreResult::kFailed ? read : EStoreResult::kOk;
}

bool MarkRestoreFailed(long long jobId, int replicationId) {
  App::VSAReplicationInfo partial;
  partial.SetInt32(App::VSAReplicationInfo::kReplicationId, replicationId);
  partial.SetInt32(App::VSAReplicationInfo::kSyncStatus, App::VSA_REPL_STATUS_SYNC_FAILED);
  std::string error;
  if (CReplicationStore::Merge(partial, error) == 0) return true;
  EvDebug(jobId).Error("MarkRestoreFailed", "Cannot change replication [%d]: [%s]", replicationId, error.c_str());
  return false;
}

// Whether the restore can reach the replica's source site: one that is down
// takes no restore, as it takes no VM operation (LabOperations' Perform).
// kFailed when the site cannot be read.
EStoreResult SourceSiteDown(long long jobId, const SLabReplica& replica, bool& down) {
  SLabInstance site;
  const EStoreResult read = CHypervisorStore::GetInstance(replica.sourceInstanceId, site);
  down = read == EStoreResult::kOk && site.down;
  if (down) {
    EvDebug(jobId).Error("ApplyFailbackRestore", "Cannot restore replication [%d]: Site [%s] is down",
                         replica.replicationId, site.name.c_str());
  }
  return read == EStoreResult::kFailed ? read : EStoreResult::kOk;
}

// A failback restore copies each DR VM's content over its source VM (a full
// restore: the source's snapshots go), powered on when the options ask; a
// VM the options do not name on the source instance, or whose source site
// is down, fails.
bool ApplyFailbackRestore(const SChildJobRecord& restore) {
  if (!Succeeded(restore)) return true;
  CNMessageBase options(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  if (!options.Unserialize(restore.options)) return true;
  const bool powerOn = (restore.mode & kModeRestorePowerOn) != 0;
  const std::set<std::string> names = RestoredNames(options);
  return ForEachReplica(restore, [&](SLabReplica& replica) {
    if (SyncFailedFor(restore, replica.replicationId)) return true;
    bool down = false, named = false;
    if (SourceSiteDown(restore.jobId, replica, down) != EStoreResult::kOk) return false;
    if (!down && RestoreNamesSource(names, replica, named) != EStoreResult::kOk) return false;
    if (down || !named) return MarkRestoreFailed(restore.jobId, replica.replicationId);
    SLabVM dr, source;
    EStoreResult read = CHypervisorStore::GetVM(replica.destInstanceId, replica.destGuid, dr);
    if (read == EStoreResult::kOk) read = CHypervisorStore::GetVM(replica.sourceInstanceId, replica.sourceGuid, source);
    if (read != EStoreResult::kOk) return read == EStoreResult::kMissing;
    std::vector<SLabSnapshot> snaps;
    if (CHypervisorStore::Snapshots(source.instanceId, source.guid, snaps) != EStoreResult::kOk) return false;
    for (const SLabSnapshot& snap : snaps) {
      if (CHypervisorStore::RemoveSnapshot(snap.ref) == EStoreResult::kFailed) return false;
    }
    source.content = dr.content;
    source.poweredOn = powerOn;
    replica.backedUpContent = replica.syncedContent = dr.content;
    return CHypervisorStore::PutVM(source) && CHypervisorStore::PutReplica(replica);
  });
}

// A sync copies the backed-up content onto the DR VM (when it exists yet),
// which then holds one backup snapshot of that state.
bool ApplySync(const SChildJobRecord& sync) {
  if ((sync.mode & kModeFailbackRestore) != 0) return ApplyFailbackRestore(sync);
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
  snap.cardsKept = true;
  snap.nics = vm.nics;
  return !snap.ref.empty() && CHypervisorStore::AddSnapshot(snap);
}

void RegisterJobEffects() {
  AddWriter("lab backup", EChildJobType::kBackup, RecordBackup);
  AddWriter("lab sync", EChildJobType::kSync, ApplySync);
  AddWriter("lab restore", EChildJobType::kRestore, ApplyRestore);
}

}  // namespace hvlab
