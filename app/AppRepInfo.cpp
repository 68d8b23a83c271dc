#include "AppRepInfo.h"

#include "engine/ZnCriticalSectionLock.h"

namespace {

using Info = App::ReplicaSyncReplicationInfo;
using Entity = ZnEntities::SubClientEntity;

bool IsNone(const SMsgField& f) { return f.module == 0 && f.id == 0; }

}  // namespace

AppRepInfo::AppRepInfo() {}

AppRepInfo::AppRepInfo(const App::ReplicaSyncReplicationInfo& info) : m_info(info) {}

AppRepInfo::~AppRepInfo() {}

CNMessageBase& AppRepInfo::GetBaseRepInfo() { return m_info; }

const SAppRepFieldTable& AppRepInfo::ApplicationFieldTable() {
  static const SAppRepFieldTable kTable = {
      Info::kReplicationId,     Info::kLastRestoreTime, Info::kSubtask,          Info::kSourceEntity,
      Info::kDestinationEntity, Info::kSyncStatus,      Info::kFailoverStatus,   Info::kSourceGuid,
      Info::kDestinationGuid,   Info::kProxyVMName,     Info::kProxyVMGuid,      Info::kTestFailoverStatus,
      Info::kLastSyncedJobId,   Info::kIndexingV2,
  };
  return kTable;
}

const SAppRepFieldTable& AppRepInfo::GetFieldTable() const { return ApplicationFieldTable(); }

// ---- field access by meaning ----

bool AppRepInfo::HasField(const SMsgField& field) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  return !IsNone(field) && GetBaseRepInfo().Has(field);
}

int32_t AppRepInfo::ReadInt32(const SMsgField& field) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  return HasField(field) ? GetBaseRepInfo().GetInt32(field) : 0;
}

int64_t AppRepInfo::ReadInt64(const SMsgField& field) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  return HasField(field) ? GetBaseRepInfo().GetInt64(field) : 0;
}

std::string AppRepInfo::ReadText(const SMsgField& field) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  return HasField(field) ? GetBaseRepInfo().GetString(field) : std::string();
}

int32_t AppRepInfo::EntityInt(const SMsgField& entity, const SMsgField& field) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  if (!HasField(entity)) return 0;
  const CNMessageBase& e = GetBaseRepInfo().GetMsg(entity);
  return e.Has(field) ? e.GetInt32(field) : 0;
}

std::string AppRepInfo::EntityText(const SMsgField& entity, const SMsgField& field) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  if (!HasField(entity)) return std::string();
  const CNMessageBase& e = GetBaseRepInfo().GetMsg(entity);
  return e.Has(field) ? e.GetString(field) : std::string();
}

void AppRepInfo::WriteInt32(const SMsgField& field, int32_t value) {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  if (!IsNone(field)) GetBaseRepInfo().SetInt32(field, value);
}

// ---- IRepInfo ----

int AppRepInfo::GetReplId() { return ReadInt32(GetFieldTable().replicationId); }

std::string AppRepInfo::GetSourceName() { return EntityText(GetFieldTable().sourceEntity, Entity::kName); }

std::string AppRepInfo::GetSourceGuid() { return ReadText(GetFieldTable().sourceGuid); }

std::string AppRepInfo::GetDestinationName() { return EntityText(GetFieldTable().destinationEntity, Entity::kName); }

long AppRepInfo::GetDestInstanceId() { return EntityInt(GetFieldTable().destinationEntity, Entity::kInstanceId); }

long AppRepInfo::GetSrcInstanceId() { return EntityInt(GetFieldTable().sourceEntity, Entity::kInstanceId); }

std::string AppRepInfo::GetDestinationGuid() { return ReadText(GetFieldTable().destinationGuid); }

int AppRepInfo::GetTaskId() { return EntityInt(GetFieldTable().subtask, ZnEntities::SubtaskEntity::kTaskId); }

int AppRepInfo::GetSubTaskId() { return EntityInt(GetFieldTable().subtask, ZnEntities::SubtaskEntity::kSubtaskId); }

long AppRepInfo::getSubclientId() { return EntityInt(GetFieldTable().sourceEntity, Entity::kSubclientId); }

long AppRepInfo::GetSourceVClientId() { return EntityInt(GetFieldTable().sourceEntity, Entity::kClientId); }

int AppRepInfo::GetApplicationId() { return EntityInt(GetFieldTable().sourceEntity, Entity::kApplicationId); }

bool AppRepInfo::IsIndexingV2() { return ReadInt32(GetFieldTable().indexingV2) != 0; }

// ---- the record's own ----

App::VSAReplicationStatus AppRepInfo::GetStatus() {
  return static_cast<App::VSAReplicationStatus>(ReadInt32(GetFieldTable().syncStatus));
}

App::VSAFailoverStatus AppRepInfo::GetFailoverStatus() {
  return static_cast<App::VSAFailoverStatus>(ReadInt32(GetFieldTable().failoverStatus));
}

App::DRTestFailoverStatus AppRepInfo::GetTestFailoverStatus() {
  return static_cast<App::DRTestFailoverStatus>(ReadInt32(GetFieldTable().testFailoverStatus));
}

int64_t AppRepInfo::GetLastSyncedJobId() { return ReadInt64(GetFieldTable().lastSyncedJobId); }

ZnEntities::SubClientEntity AppRepInfo::GetSource() {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  const SMsgField& f = GetFieldTable().sourceEntity;
  return HasField(f) ? ZnEntities::SubClientEntity(GetBaseRepInfo().GetMsg(f)) : ZnEntities::SubClientEntity();
}

ZnEntities::SubClientEntity AppRepInfo::GetDestination() {
  ZnCriticalSection* guard = MessageGuard();
  ZnCriticalSectionLock lock(guard);
  const SMsgField& f = GetFieldTable().destinationEntity;
  return HasField(f) ? ZnEntities::SubClientEntity(GetBaseRepInfo().GetMsg(f)) : ZnEntities::SubClientEntity();
}

std::string AppRepInfo::GetProxyVMName() { return ReadText(GetFieldTable().proxyVMName); }

std::string AppRepInfo::GetProxyVMGuid() { return ReadText(GetFieldTable().proxyVMGuid); }

void AppRepInfo::setSyncStatus(App::VSAReplicationStatus status) { WriteInt32(GetFieldTable().syncStatus, status); }

void AppRepInfo::setFailoverStatus(App::VSAFailoverStatus status) {
  WriteInt32(GetFieldTable().failoverStatus, status);
}

void AppRepInfo::setTestFailoverStatus(App::DRTestFailoverStatus status) {
  WriteInt32(GetFieldTable().testFailoverStatus, status);
}

void AppRepInfo::setLastRestoreTime(int time) { WriteInt32(GetFieldTable().lastRestoreTime, time); }

void AppRepInfo::SetRepInfo(const App::ReplicaSyncReplicationInfo& info) { m_info = info; }
