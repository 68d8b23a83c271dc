#include "VSARepInfo.h"

#include <errno.h>
#include <stdlib.h>

namespace {

using Info = App::VSAReplicationInfo;
using Subclient = ZnEntities::SubClientEntity;

const int kVSAApplicationId = 106;

// A base-10 number; 0 when the text is not one.
long ToLong(const std::string& text) {
  if (text.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return 0;
  return value;
}

// The leading decimal number of the text; 0 when it has none.
int LeadingInt(const std::string& text) { return atoi(text.c_str()); }

}  // namespace

VSARepInfo::VSARepInfo() {}

VSARepInfo::VSARepInfo(const App::VSAReplicationInfo& info) : m_info(info) {}

VSARepInfo::~VSARepInfo() {}

int VSARepInfo::GetReplId() { return m_info.GetInt32(Info::kReplicationId); }

int VSARepInfo::GetCopyPrecedence() { return m_info.GetInt32(Info::kCopyPrecedence); }

bool VSARepInfo::IsCopyPrecedenceApplicable() { return m_info.GetInt32(Info::kCopyPrecedenceApplicable) != 0; }

std::string VSARepInfo::GetSourceName() { return m_info.GetString(Info::kSourceVMName); }

std::string VSARepInfo::GetSourceGuid() { return m_info.GetString(Info::kSourceVMGuid); }

std::string VSARepInfo::GetDestinationName() { return m_info.GetString(Info::kDestinationVMName); }

long VSARepInfo::GetDestInstanceId() {
  if (!m_info.Has(Info::kDestinationInstance)) return 0;
  return m_info.GetMsg(Info::kDestinationInstance).GetInt32(ZnEntities::InstanceEntity::kInstanceId);
}

long VSARepInfo::GetSrcInstanceId() {
  const CNMessageBase* entity = GetEntity();
  return entity != nullptr ? entity->GetInt32(Subclient::kInstanceId) : 0;
}

std::string VSARepInfo::GetDestinationGuid() { return m_info.GetString(Info::kDestinationVMGuid); }

int VSARepInfo::GetTaskId() {
  if (!m_info.Has(Info::kSubtask)) return 0;
  return m_info.GetMsg(Info::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kTaskId);
}

long VSARepInfo::GetTargetId() {
  if (!m_info.Has(Info::kReplicationTarget)) return 0;
  return m_info.GetMsg(Info::kReplicationTarget).GetInt32(ZnEntities::ReplicationTargetEntity::kTargetId);
}

int VSARepInfo::GetSubTaskId() {
  if (!m_info.Has(Info::kSubtask)) return 0;
  return m_info.GetMsg(Info::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kSubtaskId);
}

long VSARepInfo::getSubclientId() {
  const CNMessageBase* entity = GetEntity();
  return entity != nullptr ? entity->GetInt32(Subclient::kSubclientId) : 0;
}

long VSARepInfo::GetSourceVClientId() {
  const CNMessageBase* entity = GetEntity();
  return entity != nullptr ? entity->GetInt32(Subclient::kClientId) : 0;
}

int VSARepInfo::GetApplicationId() { return kVSAApplicationId; }

bool VSARepInfo::RunPreChecks() { return GetDestinationVendor() != 0; }

bool VSARepInfo::IsIndexingV2() { return m_info.GetInt32(Info::kIndexingV2) != 0; }

const CNMessageBase* VSARepInfo::GetEntity() const {
  if (m_info.Has(Info::kSubclient) && m_info.GetMsg(Info::kSubclient).Has(Subclient::kSubclientId)) {
    return &m_info.GetMsg(Info::kSubclient);
  }
  if (m_info.Has(Info::kSourceSubclient) && m_info.GetMsg(Info::kSourceSubclient).Has(Subclient::kSubclientId)) {
    return &m_info.GetMsg(Info::kSourceSubclient);
  }
  return nullptr;
}

std::string VSARepInfo::GetReplicationGuid() { return m_info.GetString(Info::kReplicationGuid); }

App::VSAReplicationStatus VSARepInfo::GetStatus() {
  return static_cast<App::VSAReplicationStatus>(m_info.GetInt32(Info::kSyncStatus));
}

App::VSAFailoverStatus VSARepInfo::GetFailoverStatus() {
  return static_cast<App::VSAFailoverStatus>(m_info.GetInt32(Info::kFailoverStatus));
}

int VSARepInfo::GetFlags() { return m_info.GetInt32(Info::kFlags); }

int64_t VSARepInfo::GetLastSyncedBackupJobId() { return m_info.GetInt64(Info::kLastSyncedBackupJobId); }

int32_t VSARepInfo::GetDestinationVendor() { return m_info.GetInt32(Info::kDestinationVendor); }

int32_t VSARepInfo::GetSourceVendor() { return m_info.GetInt32(Info::kSourceVendor); }

bool VSARepInfo::IsToolsInstalled() { return m_info.GetInt32(Info::kToolsInstalled) != 0; }

int VSARepInfo::GetDestInstanceClientId() {
  if (!m_info.Has(Info::kDestinationInstance)) return 0;
  return m_info.GetMsg(Info::kDestinationInstance).GetInt32(ZnEntities::InstanceEntity::kClientId);
}

int VSARepInfo::GetDestProxyId() {
  if (!m_info.Has(Info::kDestinationProxy)) return 0;
  return m_info.GetMsg(Info::kDestinationProxy).GetInt32(ZnEntities::ClientEntity::kClientId);
}

std::string VSARepInfo::GetDestProxyName() {
  if (!m_info.Has(Info::kDestinationProxy)) return std::string();
  return m_info.GetMsg(Info::kDestinationProxy).GetString(ZnEntities::ClientEntity::kClientName);
}

bool VSARepInfo::GetTrackingIds(std::vector<App::VSAReplicationTrakingIdInfo>& out) {
  const size_t n = m_info.ListSize(Info::kTrackingIds);
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(m_info.GetListMsgAs<App::VSAReplicationTrakingIdInfo>(Info::kTrackingIds, i));
  }
  return true;
}

void VSARepInfo::setSyncStatus(App::VSAReplicationStatus status) { m_info.SetInt32(Info::kSyncStatus, status); }

void VSARepInfo::setFailoverStatus(App::VSAFailoverStatus status) { m_info.SetInt32(Info::kFailoverStatus, status); }

void VSARepInfo::setLastRestoreTime(int64_t time) { m_info.SetInt64(Info::kLastRestoreTime, time); }

void VSARepInfo::SetDestinationName(const std::string& name) { m_info.SetString(Info::kDestinationVMName, name); }

void VSARepInfo::SetDestinationGuid(const std::string& guid) { m_info.SetString(Info::kDestinationVMGuid, guid); }

void VSARepInfo::SetRepInfo(const App::VSAReplicationInfo& info) { m_info = info; }

void VSARepInfo::addSnapshotInfo(SDRSnapshotInfo& snap) {
  snap.replId = GetReplId();
  m_snapshots.push_back(snap);
}

SDRSnapshotInfo* VSARepInfo::getSnapshotInfo(SDRSnapshotInfo& snap) {
  for (SDRSnapshotInfo& stored : m_snapshots) {
    if (stored.IsSame(snap)) return &stored;
  }
  return nullptr;
}

void VSARepInfo::removeSnapshotInfo(SDRSnapshotInfo& snap) {
  for (auto it = m_snapshots.begin(); it != m_snapshots.end(); ++it) {
    if (it->IsSame(snap)) {
      m_snapshots.erase(it);
      return;
    }
  }
}

const CNMessageBase* VSARepInfo::FindProperty(int propertyId) const {
  const size_t n = m_info.ListSize(Info::kProperties);
  for (size_t i = 0; i < n; ++i) {
    const CNMessageBase& p = m_info.GetListMsg(Info::kProperties, i);
    if (p.GetInt32(App::VSAReplicationProperties::kPropertyId) == propertyId) return &p;
  }
  return nullptr;
}

long VSARepInfo::GetDestBackupTaskId() {
  const CNMessageBase* p = FindProperty(kPropDestBackupTaskId);
  return p != nullptr ? ToLong(p->GetString(App::VSAReplicationProperties::kValue)) : 0;
}

long VSARepInfo::GetReverseReplicationTaskId() {
  const CNMessageBase* p = FindProperty(kPropReverseReplicationTaskId);
  return p != nullptr ? ToLong(p->GetString(App::VSAReplicationProperties::kValue)) : 0;
}

int64_t VSARepInfo::GetLastDRJobId() {
  const CNMessageBase* p = FindProperty(kPropLastDRJobId);
  return p != nullptr ? ToLong(p->GetString(App::VSAReplicationProperties::kValue)) : 0;
}

int VSARepInfo::GetCloneVMCount() {
  const CNMessageBase* p = FindProperty(kPropCloneVMCount);
  return p != nullptr ? LeadingInt(p->GetString(App::VSAReplicationProperties::kValue)) : 0;
}

int VSARepInfo::GetSourceVMClientId() {
  const CNMessageBase* p = FindProperty(kPropSourceVMClientId);
  return p != nullptr ? LeadingInt(p->GetString(App::VSAReplicationProperties::kValue)) : 0;
}

std::string VSARepInfo::GetHostName() {
  const CNMessageBase* p = FindProperty(kPropHostName);
  return p != nullptr ? p->GetString(App::VSAReplicationProperties::kValue) : std::string();
}

std::string VSARepInfo::GetSourceSnapMorefProp() {
  const CNMessageBase* p = FindProperty(kPropSourceSnapMoref);
  return p != nullptr ? p->GetString(App::VSAReplicationProperties::kValue) : std::string();
}

std::string VSARepInfo::GetDestinationSnapMorefProp() {
  const CNMessageBase* p = FindProperty(kPropDestSnapMoref);
  return p != nullptr ? p->GetString(App::VSAReplicationProperties::kValue) : std::string();
}

bool VSARepInfo::IsReplicaSyncFromSnap() { return FindProperty(kPropReplicaSyncFromSnap) != nullptr; }

void VSARepInfo::RemoveProperty(int propertyId) {
  for (size_t i = m_info.ListSize(Info::kProperties); i > 0; --i) {
    const CNMessageBase& p = m_info.GetListMsg(Info::kProperties, i - 1);
    if (p.GetInt32(App::VSAReplicationProperties::kPropertyId) == propertyId) {
      m_info.ListRemove(Info::kProperties, i - 1);
    }
  }
}
