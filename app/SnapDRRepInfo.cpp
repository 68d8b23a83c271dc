#include "SnapDRRepInfo.h"

#include <utility>

#include "engine/ZnCriticalSectionLock.h"

namespace {

using Info = Api::SnapDRReplicationInfo;
using Volume = Api::DatastoreReplication;
using MountRecord = Api::SnapDRMountRecord;
using AssociatedJob = App::ReplicasyncAssociatedJob;

// The job kind of a mounted snapshot's master job among the associated jobs.
const int32_t kMountedMasterJobKind = 59;

const Volume& VolumeAt(const Info& info, size_t i) { return info.GetListMsgAs<Volume>(Info::kDatastoreReplications, i); }

}  // namespace

SnapDRRepInfo::SnapDRRepInfo() {}

SnapDRRepInfo::SnapDRRepInfo(const Api::SnapDRReplicationInfo& info) { SetRepInfo(info); }

SnapDRRepInfo::SnapDRRepInfo(const SnapDRRepInfo& other) : AppRepInfo(other) {
  ZnCriticalSectionLock theirs(&other.m_lock);
  ZnCriticalSectionLock mine(&m_lock);
  m_mountInfo = other.m_mountInfo;
  m_info = other.m_info;
  m_vmInfo = other.m_vmInfo;
}

// Copies out under the other record's lock, then in under this one's: the
// two are never held together, so two records assigned to each other on two
// threads cannot wait on each other.
SnapDRRepInfo& SnapDRRepInfo::operator=(const SnapDRRepInfo& other) {
  if (this == &other) return *this;
  SDRMountInfo mount;
  Info info;
  Ida::VirtualMachine vm;
  {
    ZnCriticalSectionLock theirs(&other.m_lock);
    mount = other.m_mountInfo;
    info = other.m_info;
    vm = other.m_vmInfo;
  }
  AppRepInfo::operator=(other);
  ZnCriticalSectionLock mine(&m_lock);
  m_mountInfo = std::move(mount);
  m_info = std::move(info);
  m_vmInfo = std::move(vm);
  return *this;
}

SnapDRRepInfo::~SnapDRRepInfo() {}

CNMessageBase& SnapDRRepInfo::GetBaseRepInfo() { return m_info; }

const SAppRepFieldTable& SnapDRRepInfo::SnapFieldTable() {
  static const SAppRepFieldTable kTable = {
      Info::kReplicationId,   kNoRepField,           Info::kSubtask,          Info::kSourceEntity,
      Info::kDestinationEntity, Info::kSyncStatus,   Info::kFailoverStatus,   Info::kSourceVMGuid,
      Info::kDestinationVMGuid, Info::kProxyVMName,  Info::kProxyVMGuid,      Info::kTestFailoverStatus,
      Info::kLastSyncedBackupJobId, Info::kIndexingV2,
  };
  return kTable;
}

const SAppRepFieldTable& SnapDRRepInfo::GetFieldTable() const { return SnapFieldTable(); }

std::string SnapDRRepInfo::GetSourceName() { return ReadText(Info::kSourceVMName); }

std::string SnapDRRepInfo::GetDestinationName() { return ReadText(Info::kDestinationVMName); }

std::string SnapDRRepInfo::GetDestinationGuid() { return ReadText(Info::kDestinationVMGuid); }

// ---- the message ----

void SnapDRRepInfo::SetRepInfo(const Api::SnapDRReplicationInfo& info) {
  ZnCriticalSectionLock lock(&m_lock);
  m_info = info;
  if (!info.Has(Info::kMountRecord)) return;
  const MountRecord& m = info.GetMsgAs<MountRecord>(Info::kMountRecord);
  m_mountInfo.afileId = m.GetInt32(MountRecord::kAfileId);
  m_mountInfo.vmAppId = m.GetInt32(MountRecord::kVMAppId);
  m_mountInfo.jobId = static_cast<uint64_t>(m.GetInt64(MountRecord::kJobId));
  m_mountInfo.firstText = m.Has(MountRecord::kFirstText) ? m.GetString(MountRecord::kFirstText) : std::string();
  m_mountInfo.secondText = m.Has(MountRecord::kSecondText) ? m.GetString(MountRecord::kSecondText) : std::string();
  m_mountInfo.mountHostId = m.GetInt32(MountRecord::kMountHostId);
  m_mountInfo.mountStatus = m.GetInt32(MountRecord::kMountStatus);
  m_mountInfo.vmClientId = m.GetInt32(MountRecord::kVMClientId);
  m_mountInfo.masterJobId = static_cast<uint64_t>(info.GetInt64(Info::kLastSyncedBackupJobId));
}

Api::SnapDRReplicationInfo SnapDRRepInfo::GetRepInfo() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_info;
}

void SnapDRRepInfo::SetDestinationName(const std::string& name) {
  ZnCriticalSectionLock lock(&m_lock);
  m_info.SetString(Info::kDestinationVMName, name);
}

void SnapDRRepInfo::SetDestinationGUID(const std::string& guid) {
  ZnCriticalSectionLock lock(&m_lock);
  m_info.SetString(Info::kDestinationVMGuid, guid);
}

int SnapDRRepInfo::GetCopyId() { return ReadInt32(Info::kCopyId); }

bool SnapDRRepInfo::IsToolsInstalled() { return ReadInt32(Info::kToolsInstalled) != 0; }

std::string SnapDRRepInfo::GetDestEsxHost() {
  ZnCriticalSectionLock lock(&m_lock);
  if (!m_info.Has(Info::kRestoreOptions)) return std::string();
  const CNMessageBase& options = m_info.GetMsg(Info::kRestoreOptions);
  return options.Has(TMMsg::VMWAdvancedRestoreOptions::kEsxHost)
             ? options.GetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost)
             : std::string();
}

void SnapDRRepInfo::GetRestoreOpts(TMMsg::VMWAdvancedRestoreOptions& out) {
  ZnCriticalSectionLock lock(&m_lock);
  out = m_info.Has(Info::kRestoreOptions) ? m_info.GetMsgAs<TMMsg::VMWAdvancedRestoreOptions>(Info::kRestoreOptions)
                                          : TMMsg::VMWAdvancedRestoreOptions();
}

// ---- datastore volumes ----

std::vector<Api::DatastoreReplication> SnapDRRepInfo::GetDatastoreVolumes() {
  ZnCriticalSectionLock lock(&m_lock);
  std::vector<Api::DatastoreReplication> out;
  for (size_t i = 0; i < m_info.ListSize(Info::kDatastoreReplications); ++i) out.push_back(VolumeAt(m_info, i));
  return out;
}

void SnapDRRepInfo::GetSourceDatastores(std::vector<VirtualServer::VMDatastoreInfo>& out) {
  out.clear();
  std::set<std::string> seen;
  ZnCriticalSectionLock lock(&m_lock);
  for (size_t i = 0; i < m_info.ListSize(Info::kDatastoreReplications); ++i) {
    const VirtualServer::VMDatastoreInfo& ds =
        VolumeAt(m_info, i).GetMsgAs<VirtualServer::VMDatastoreInfo>(Volume::kSourceDatastore);
    if (seen.insert(ds.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName)).second) out.push_back(ds);
  }
}

unsigned SnapDRRepInfo::GetDSCount() {
  std::vector<VirtualServer::VMDatastoreInfo> datastores;
  GetSourceDatastores(datastores);
  return static_cast<unsigned>(datastores.size());
}

unsigned SnapDRRepInfo::GetSourceDSCount() { return GetDSCount(); }

bool SnapDRRepInfo::IsAllVolumeRelationsBroken() {
  ZnCriticalSectionLock lock(&m_lock);
  for (size_t i = 0; i < m_info.ListSize(Info::kDatastoreReplications); ++i) {
    if (VolumeAt(m_info, i).GetInt32(Volume::kRelationshipStatus) != VOLUME_RELATIONSHIP_BROKEN) return false;
  }
  return true;
}

int64_t SnapDRRepInfo::GetLastDRJobId() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_info.GetInt64(Info::kLastDRJobId);
}

void SnapDRRepInfo::SetLastDRJobId(int64_t jobId) {
  ZnCriticalSectionLock lock(&m_lock);
  m_info.SetInt64(Info::kLastDRJobId, jobId);
}

int64_t SnapDRRepInfo::GetLastTestDRJobId() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_info.Has(Info::kLastTestDRJobId) ? m_info.GetInt64(Info::kLastTestDRJobId)
                                            : m_info.GetInt64(Info::kLastDRJobId);
}

void SnapDRRepInfo::SetLastTestDRJobId(int64_t jobId) {
  ZnCriticalSectionLock lock(&m_lock);
  m_info.SetInt64(Info::kLastTestDRJobId, jobId);
}

bool SnapDRRepInfo::HasBrokenVolumeRelationship() {
  ZnCriticalSectionLock lock(&m_lock);
  for (size_t i = 0; i < m_info.ListSize(Info::kDatastoreReplications); ++i) {
    if (VolumeAt(m_info, i).GetInt32(Volume::kRelationshipStatus) == VOLUME_RELATIONSHIP_BROKEN) return true;
  }
  return false;
}

std::set<int> SnapDRRepInfo::GetReplicaGroupIds() {
  ZnCriticalSectionLock lock(&m_lock);
  std::set<int> ids;
  for (size_t i = 0; i < m_info.ListSize(Info::kDatastoreReplications); ++i) {
    const Volume& v = VolumeAt(m_info, i);
    if (v.Has(Volume::kReplicaGroupId)) ids.insert(v.GetInt32(Volume::kReplicaGroupId));
  }
  return ids;
}

int SnapDRRepInfo::SetVolumeRelationshipStatus(int replicaGroupId, E_VOLUME_RELATIONSHIP_STATUS status) {
  ZnCriticalSectionLock lock(&m_lock);
  int written = 0;
  for (size_t i = 0; i < m_info.ListSize(Info::kDatastoreReplications); ++i) {
    CNMessageBase& v = m_info.MutableListMsg(Info::kDatastoreReplications, i);
    if (!v.Has(Volume::kReplicaGroupId) || v.GetInt32(Volume::kReplicaGroupId) != replicaGroupId) continue;
    v.SetInt32(Volume::kRelationshipStatus, status);
    ++written;
  }
  return written;
}

// ---- the snapshot mount ----

SDRMountInfo SnapDRRepInfo::GetMountInfo() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo;
}

void SnapDRRepInfo::SetMountInfo(const SDRMountInfo& mount) {
  ZnCriticalSectionLock lock(&m_lock);
  m_mountInfo = mount;
}

int SnapDRRepInfo::GetAfileId() {
  ZnCriticalSectionLock lock(&m_lock);
  return static_cast<int>(m_mountInfo.afileId);
}

int SnapDRRepInfo::GetVMAppId() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo.vmAppId;
}

int SnapDRRepInfo::GetVMAfileMountStatus() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo.mountStatus;
}

int SnapDRRepInfo::GetVMAfileMountHostId() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo.mountHostId;
}

bool SnapDRRepInfo::IsAfileMountedFromDR() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo.failoverMount;
}

bool SnapDRRepInfo::IsVMAfileMounted() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo.mountStatus == SDRMountInfo::kMounted || m_mountInfo.mountStatus == SDRMountInfo::kMountedByDR;
}

bool SnapDRRepInfo::IsVMAfileUnMounted() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_mountInfo.mountStatus == SDRMountInfo::kNotMounted || m_mountInfo.mountStatus == SDRMountInfo::kUnmounted;
}

bool SnapDRRepInfo::CanUnmount() {
  ZnCriticalSectionLock lock(&m_lock);
  return IsVMAfileMounted() && m_mountInfo.mountHostId >= 1;
}

void SnapDRRepInfo::SetVMAfileMounted(int hostId) {
  ZnCriticalSectionLock lock(&m_lock);
  m_mountInfo.mountHostId = hostId;
  m_mountInfo.mountStatus = SDRMountInfo::kMounted;
}

void SnapDRRepInfo::SetVMAfileUnMounted() {
  ZnCriticalSectionLock lock(&m_lock);
  m_mountInfo.mountHostId = 0;
  m_mountInfo.mountStatus = SDRMountInfo::kUnmounted;
}

uint64_t SnapDRRepInfo::GetMountJobId(EJobLvl level) {
  ZnCriticalSectionLock lock(&m_lock);
  switch (level) {
    case JOB_LVL_MASTER: return m_mountInfo.masterJobId;
    case JOB_LVL_CHILD: return m_mountInfo.jobId;
    default: return static_cast<uint64_t>(m_info.GetInt64(Info::kLastSyncedBackupJobId));
  }
}

void SnapDRRepInfo::SetMountedMasterJob() {
  ZnCriticalSectionLock lock(&m_lock);
  if (m_mountInfo.masterJobId == 0) return;
  m_info.ListClear(Info::kAssociatedJobs);
  CNMessageBase& job = m_info.AddMsg(Info::kAssociatedJobs);
  job.SetInt32(AssociatedJob::kJobKind, kMountedMasterJobKind);
  job.SetInt64(AssociatedJob::kJobId, static_cast<int64_t>(m_mountInfo.masterJobId));
}

App::ReplicasyncAssociatedJob SnapDRRepInfo::GetMountedMasterJob() {
  ZnCriticalSectionLock lock(&m_lock);
  if (m_info.ListSize(Info::kAssociatedJobs) > 0) {
    return m_info.GetListMsgAs<AssociatedJob>(Info::kAssociatedJobs, 0);
  }
  AssociatedJob none;
  none.SetInt64(AssociatedJob::kJobId, 0);
  return none;
}

Ida::VirtualMachine SnapDRRepInfo::GetVMInfo() {
  ZnCriticalSectionLock lock(&m_lock);
  return m_vmInfo;
}

void SnapDRRepInfo::SetVMInfo(const Ida::VirtualMachine& vm) {
  ZnCriticalSectionLock lock(&m_lock);
  m_vmInfo = vm;
}
