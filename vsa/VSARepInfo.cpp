#include "VSARepInfo.h"

#include <errno.h>
#include <stdlib.h>

namespace {

enum {
  kId = 1,
  kReplGuid = 2,
  kSourceGuid = 3,
  kSourceName = 4,
  kDestGuid = 5,
  kDestName = 6,
  kLastRestoreTime = 7,
  kSubtask = 9,
  kSourceSubclient = 10,
  kTrackingIds = 12,
  kSyncStatus = 17,
  kFlags = 18,
  kFailoverStatus = 23,
  kProperties = 25,
  kDestInstance = 27,
  kTarget = 31,
  kDestProxy = 33,
  kSubclient = 38,
  kCopyPrecedence = 50,
  kCopyPrecedenceApplicable = 51,
  kDestVendor = 54,
  kSourceVendor = 58,
  kToolsInstalled = 64,
  kLastSyncedJob = 66,
  kIndexingV2 = 70,
};

// Subclient sub-record fields.
const int kSubclientId = 0;
const int kSubclientClientId = 2;
const int kSubclientInstanceId = 7;

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

int VSARepInfo::GetReplId() { return m_info.GetInt32(kId); }

int VSARepInfo::GetCopyPrecedence() { return m_info.GetInt32(kCopyPrecedence); }

bool VSARepInfo::IsCopyPrecedenceApplicable() { return m_info.GetInt32(kCopyPrecedenceApplicable) != 0; }

std::string VSARepInfo::GetSourceName() { return m_info.GetString(kSourceName, kSourceName); }

std::string VSARepInfo::GetSourceGuid() { return m_info.GetString(kSourceGuid, kSourceGuid); }

std::string VSARepInfo::GetDestinationName() { return m_info.GetString(kDestName, kDestName); }

long VSARepInfo::GetDestInstanceId() {
  if (!m_info.Has(kDestInstance)) return 0;
  return m_info.GetMsg(kDestInstance, kDestInstance).GetInt32(0);
}

long VSARepInfo::GetSrcInstanceId() {
  const CNMessageBase* entity = GetEntity();
  return entity != nullptr ? entity->GetInt32(kSubclientInstanceId) : 0;
}

std::string VSARepInfo::GetDestinationGuid() { return m_info.GetString(kDestGuid, kDestGuid); }

int VSARepInfo::GetTaskId() {
  if (!m_info.Has(kSubtask)) return 0;
  return m_info.GetMsg(kSubtask, kSubtask).GetInt32(1);
}

long VSARepInfo::GetTargetId() {
  if (!m_info.Has(kTarget)) return 0;
  return m_info.GetMsg(kTarget, kTarget).GetInt32(0);
}

int VSARepInfo::GetSubTaskId() {
  if (!m_info.Has(kSubtask)) return 0;
  return m_info.GetMsg(kSubtask, kSubtask).GetInt32(0);
}

long VSARepInfo::getSubclientId() {
  const CNMessageBase* entity = GetEntity();
  return entity != nullptr ? entity->GetInt32(kSubclientId) : 0;
}

long VSARepInfo::GetSourceVClientId() {
  const CNMessageBase* entity = GetEntity();
  return entity != nullptr ? entity->GetInt32(kSubclientClientId) : 0;
}

int VSARepInfo::GetApplicationId() { return kVSAApplicationId; }

bool VSARepInfo::RunPreChecks() { return GetDestinationVendor() != 0; }

bool VSARepInfo::IsIndexingV2() { return m_info.GetInt32(kIndexingV2) != 0; }

const CNMessageBase* VSARepInfo::GetEntity() const {
  if (m_info.Has(kSubclient) && m_info.GetMsg(kSubclient, kSubclient).Has(kSubclientId)) {
    return &m_info.GetMsg(kSubclient, kSubclient);
  }
  if (m_info.Has(kSourceSubclient) && m_info.GetMsg(kSourceSubclient, kSourceSubclient).Has(kSubclientId)) {
    return &m_info.GetMsg(kSourceSubclient, kSourceSubclient);
  }
  return nullptr;
}

std::string VSARepInfo::GetReplicationGuid() { return m_info.GetString(kReplGuid, kReplGuid); }

App::VSAReplicationStatus VSARepInfo::GetStatus() {
  return static_cast<App::VSAReplicationStatus>(m_info.GetInt32(kSyncStatus));
}

App::VSAFailoverStatus VSARepInfo::GetFailoverStatus() {
  return static_cast<App::VSAFailoverStatus>(m_info.GetInt32(kFailoverStatus));
}

int VSARepInfo::GetFlags() { return m_info.GetInt32(kFlags); }

int64_t VSARepInfo::GetLastSyncedBackupJobId() { return m_info.GetInt64(kLastSyncedJob); }

int32_t VSARepInfo::GetDestinationVendor() { return m_info.GetInt32(kDestVendor); }

int32_t VSARepInfo::GetSourceVendor() { return m_info.GetInt32(kSourceVendor); }

bool VSARepInfo::IsToolsInstalled() { return m_info.GetInt32(kToolsInstalled) != 0; }

int VSARepInfo::GetDestInstanceClientId() {
  if (!m_info.Has(kDestInstance)) return 0;
  return m_info.GetMsg(kDestInstance, kDestInstance).GetInt32(1);
}

int VSARepInfo::GetDestProxyId() {
  if (!m_info.Has(kDestProxy)) return 0;
  return m_info.GetMsg(kDestProxy, kDestProxy).GetInt32(0);
}

std::string VSARepInfo::GetDestProxyName() {
  if (!m_info.Has(kDestProxy)) return std::string();
  return m_info.GetMsg(kDestProxy, kDestProxy).GetString(1, 1);
}

bool VSARepInfo::GetTrackingIds(std::vector<App::VSAReplicationTrakingIdInfo>& out) {
  const size_t n = m_info.ListSize(kTrackingIds, kTrackingIds);
  if (n == 0) return false;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(m_info.GetListMsgAs<App::VSAReplicationTrakingIdInfo>(kTrackingIds, kTrackingIds, i));
  }
  return true;
}

void VSARepInfo::setSyncStatus(App::VSAReplicationStatus status) {
  m_info.SetInt32(kSyncStatus, kSyncStatus, status);
}

void VSARepInfo::setFailoverStatus(App::VSAFailoverStatus status) {
  m_info.SetInt32(kFailoverStatus, kFailoverStatus, status);
}

void VSARepInfo::setLastRestoreTime(int64_t time) { m_info.SetInt64(kLastRestoreTime, kLastRestoreTime, time); }

void VSARepInfo::SetDestinationName(const std::string& name) { m_info.SetString(kDestName, kDestName, name); }

void VSARepInfo::SetDestinationGuid(const std::string& guid) { m_info.SetString(kDestGuid, kDestGuid, guid); }

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
  const size_t n = m_info.ListSize(kProperties, kProperties);
  for (size_t i = 0; i < n; ++i) {
    const CNMessageBase& p = m_info.GetListMsg(kProperties, kProperties, i);
    if (p.GetInt32(1) == propertyId) return &p;
  }
  return nullptr;
}

long VSARepInfo::GetDestBackupTaskId() {
  const CNMessageBase* p = FindProperty(kPropDestBackupTaskId);
  return p != nullptr ? ToLong(p->GetString(2, 2)) : 0;
}

long VSARepInfo::GetReverseReplicationTaskId() {
  const CNMessageBase* p = FindProperty(kPropReverseReplicationTaskId);
  return p != nullptr ? ToLong(p->GetString(2, 2)) : 0;
}

int VSARepInfo::GetCloneVMCount() {
  const CNMessageBase* p = FindProperty(kPropCloneVMCount);
  return p != nullptr ? LeadingInt(p->GetString(2, 2)) : 0;
}

int VSARepInfo::GetSourceVMClientId() {
  const CNMessageBase* p = FindProperty(kPropSourceVMClientId);
  return p != nullptr ? LeadingInt(p->GetString(2, 2)) : 0;
}

std::string VSARepInfo::GetHostName() {
  const CNMessageBase* p = FindProperty(kPropHostName);
  return p != nullptr ? p->GetString(2, 2) : std::string();
}

std::string VSARepInfo::GetSourceSnapMorefProp() {
  const CNMessageBase* p = FindProperty(kPropSourceSnapMoref);
  return p != nullptr ? p->GetString(2, 2) : std::string();
}

std::string VSARepInfo::GetDestinationSnapMorefProp() {
  const CNMessageBase* p = FindProperty(kPropDestSnapMoref);
  return p != nullptr ? p->GetString(2, 2) : std::string();
}

bool VSARepInfo::IsReplicaSyncFromSnap() { return FindProperty(kPropReplicaSyncFromSnap) != nullptr; }
