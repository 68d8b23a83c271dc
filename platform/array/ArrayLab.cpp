#include "array/ArrayLab.h"

#include <stdint.h>

#include <map>
#include <set>

#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "array/ReplicaGroupReportStore.h"
#include "array/SnapReplicationStore.h"
#include "array/VolumeSnapStore.h"
#include "db/DBWriteScope.h"
#include "jobs/StandIns.h"
#include "jobsim/JobSimulator.h"
#include "log/EvEvent.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

const char kMountRecordFault[] = "SnapDRMountRecord";

// Runs work in one write transaction of the calling thread's connection:
// the stores it calls join it, and it all commits or nothing does.
template <class Work>
bool InOneTransaction(const char* function, Work work) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) {
    EvDebug().Error(function, "No database");
    return false;
  }
  CDBWriteScope scope(c);
  return scope.Ok() && work() && scope.Commit();
}

const CNMessageBase& SourceEntity(const Info& info) { return info.GetMsg(Info::kSourceEntity); }

// The replications of an afile's VM, of its copy.
bool ReplicationsOfAfile(const SSnapAfile& afile, std::vector<SSnapReplication>& out) {
  std::vector<SSnapReplication> all;
  if (CSnapReplicationStore::OfSourceGuid(afile.vmGuid, all) != EStoreResult::kOk) return false;
  out.clear();
  for (const SSnapReplication& r : all) {
    const int copy = r.info.GetInt32(Info::kCopyId);
    if (afile.copyId == 0 || copy == 0 || copy == afile.copyId) out.push_back(r);
  }
  return true;
}

bool SetProxyVMOfAfile(const SSnapAfile& afile, const std::string& name, const std::string& guid) {
  std::vector<SSnapReplication> reps;
  if (!ReplicationsOfAfile(afile, reps)) return false;
  for (const SSnapReplication& r : reps) {
    if (CSnapReplicationStore::SetProxyVM(r.replicationId, name, guid) != EStoreResult::kOk) return false;
  }
  return true;
}

}  // namespace

bool CArrayLab::SetMountRecordOmitted(bool omitted) { return CStandIns::SetFaultCode(kMountRecordFault, omitted ? 1 : 0); }

bool CArrayLab::MountRecordOmitted() { return CStandIns::FaultCode(kMountRecordFault) != 0; }

EStoreResult CArrayLab::AnsweredReplication(int replicationId, Info& out) {
  SSnapReplication r;
  const EStoreResult read = CSnapReplicationStore::Get(replicationId, r);
  if (read != EStoreResult::kOk) return read;
  Info info = r.info;
  const long long lastSynced = info.GetInt64(Info::kLastSyncedBackupJobId);
  if (lastSynced > 0 && !MountRecordOmitted()) {
    SSnapAfile afile;
    const EStoreResult found = CAfileStore::Latest(lastSynced, info.GetString(Info::kSourceVMGuid),
                                                   info.GetInt32(Info::kCopyId), afile);
    if (found == EStoreResult::kFailed) return found;
    if (found == EStoreResult::kOk) {
      Api::SnapDRMountRecord& m = info.MutableMsgAs<Api::SnapDRMountRecord>(Info::kMountRecord);
      m.SetInt32(Api::SnapDRMountRecord::kAfileId, afile.afileId);
      m.SetInt64(Api::SnapDRMountRecord::kJobId, afile.jobId);
      m.SetInt32(Api::SnapDRMountRecord::kVMClientId, afile.vmClientId);
      m.SetInt32(Api::SnapDRMountRecord::kVMAppId, afile.vmAppId);
      m.SetInt32(Api::SnapDRMountRecord::kMountStatus, afile.mountStatus);
      m.SetInt32(Api::SnapDRMountRecord::kMountHostId, afile.mountHostId);
      m.SetString(Api::SnapDRMountRecord::kFirstText, afile.vmName);
      m.SetString(Api::SnapDRMountRecord::kSecondText, afile.vmName);
    }
  }
  if (!r.proxyVMName.empty()) info.SetString(Info::kProxyVMName, r.proxyVMName);
  if (!r.proxyVMGuid.empty()) info.SetString(Info::kProxyVMGuid, r.proxyVMGuid);
  out = info;
  return EStoreResult::kOk;
}

bool CArrayLab::SnapshotCopied(int copyId, long long backupJobId) {
  EvEvent event;
  if (backupJobId <= 0 || backupJobId > INT32_MAX) {
    event.Error("SnapshotCopied", "Backup job [%lld] does not fit the afile columns", backupJobId);
    return false;
  }
  std::vector<SSnapReplication> reps;
  if (CSnapReplicationStore::OfCopy(copyId, reps) != EStoreResult::kOk) return false;
  SChildJobRecord job;
  const EStoreResult read = CJobSimulator::GetJob(backupJobId, job);
  if (read == EStoreResult::kFailed) return false;
  const bool known = read == EStoreResult::kOk;
  const std::set<int> covered(job.replicationIds.begin(), job.replicationIds.end());
  std::map<int, long long> childOf;
  for (long long childId : job.childJobIds) {
    SChildJobRecord child;
    if (CJobSimulator::GetJob(childId, child) == EStoreResult::kOk && child.replicationIds.size() == 1) {
      childOf[child.replicationIds.front()] = childId;
    }
  }
  int copied = 0;
  const bool ok = InOneTransaction("SnapshotCopied", [&] {
    for (const SSnapReplication& r : reps) {
      if (known && covered.count(r.replicationId) == 0) continue;
      if (CSnapReplicationStore::SetLastSyncedJob(r.replicationId, backupJobId) != EStoreResult::kOk) return false;
      ++copied;
      SSnapAfile afile;
      afile.vmGuid = r.info.GetString(Info::kSourceVMGuid);
      const EStoreResult had = CAfileStore::Latest(backupJobId, afile.vmGuid, copyId, afile);
      if (had == EStoreResult::kFailed) return false;
      if (had == EStoreResult::kOk) continue;
      afile = SSnapAfile();
      afile.masterJobId = backupJobId;
      afile.jobId = childOf.count(r.replicationId) ? childOf[r.replicationId] : backupJobId;
      afile.vmName = r.info.GetString(Info::kSourceVMName);
      afile.vmGuid = r.info.GetString(Info::kSourceVMGuid);
      afile.vmClientId = SourceEntity(r.info).GetInt32(ZnEntities::SubClientEntity::kClientId);
      afile.vmAppId = SourceEntity(r.info).GetInt32(ZnEntities::SubClientEntity::kApplicationId);
      afile.copyId = copyId;
      afile.applicationId = SourceEntity(r.info).GetInt32(ZnEntities::SubClientEntity::kSubclientId);
      if (!CAfileStore::Add(afile)) return false;
    }
    return true;
  });
  if (ok) {
    event.DebugLvl(2, "SnapshotCopied", "Snapshot of backup job [%lld] copied to copy [%d] for [%d] replications",
                   backupJobId, copyId, copied);
  }
  return ok;
}

bool CArrayLab::RecordMount(const SArrayMount& mount) {
  SSnapAfile afile;
  if (CAfileStore::Get(mount.afileId, afile) != EStoreResult::kOk) return false;
  return InOneTransaction("RecordMount", [&] {
    if (CAfileStore::SetMount(afile.afileId, SSnapAfile::kMountedByDR, mount.proxyClientId, true) !=
        EStoreResult::kOk) {
      return false;
    }
    return !mount.test || SetProxyVMOfAfile(afile, mount.proxyVMName, mount.proxyVMGuid);
  });
}

bool CArrayLab::RecordUnmount(int afileId) {
  SSnapAfile afile;
  if (CAfileStore::Get(afileId, afile) != EStoreResult::kOk) return false;
  return InOneTransaction("RecordUnmount", [&] {
    return CAfileStore::SetMount(afileId, SSnapAfile::kUnmounted, 0, afile.failoverMount) == EStoreResult::kOk &&
           SetProxyVMOfAfile(afile, "", "");
  });
}

bool CArrayLab::SeedForeignMount(int afileId, int hostId) {
  return CAfileStore::SetMount(afileId, SSnapAfile::kMountedElsewhere, hostId, false) == EStoreResult::kOk;
}

bool CArrayLab::CreateTables() {
  return CArrayStore::CreateTables() && CArrayRelationshipStore::CreateTables() && CArrayLunStore::CreateTables() &&
         CArrayCallJournal::CreateTables() && CSnapReplicationStore::CreateTables() && CAfileStore::CreateTables() &&
         CReplicaGroupReportStore::CreateTables() && CVolumeSnapStore::CreateTables();
}

