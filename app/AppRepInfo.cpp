#include "AppRepInfo.h"

namespace {

enum {
  kId = 1,
  kSubtask = 4,
  kSource = 5,
  kDestination = 6,
  kSyncStatus = 8,
  kFailoverStatus = 14,
  kSourceGuid = 19,
  kDestGuid = 20,
};

// Entity sub-record fields.
const int kEntitySubclientId = 0;
const int kEntityClientId = 2;
const int kEntityAppId = 3;
const int kEntityInstanceId = 7;
const int kEntityName = 8;

}  // namespace

AppRepInfo::AppRepInfo() {}

AppRepInfo::AppRepInfo(const App::ReplicaSyncReplicationInfo& info) : m_info(info) {}

AppRepInfo::~AppRepInfo() {}

CNMessageBase& AppRepInfo::GetBaseRepInfo() { return m_info; }

int AppRepInfo::GetReplId() { return GetBaseRepInfo().GetInt32(kId); }

std::string AppRepInfo::GetSourceName() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSource) ? m.GetMsg(kSource, kSource).GetString(kEntityName, kEntityName) : std::string();
}

std::string AppRepInfo::GetSourceGuid() { return GetBaseRepInfo().GetString(kSourceGuid, kSourceGuid); }

std::string AppRepInfo::GetDestinationName() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kDestination) ? m.GetMsg(kDestination, kDestination).GetString(kEntityName, kEntityName)
                             : std::string();
}

long AppRepInfo::GetDestInstanceId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kDestination) ? m.GetMsg(kDestination, kDestination).GetInt32(kEntityInstanceId) : 0;
}

long AppRepInfo::GetSrcInstanceId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSource) ? m.GetMsg(kSource, kSource).GetInt32(kEntityInstanceId) : 0;
}

std::string AppRepInfo::GetDestinationGuid() { return GetBaseRepInfo().GetString(kDestGuid, kDestGuid); }

int AppRepInfo::GetTaskId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSubtask) ? m.GetMsg(kSubtask, kSubtask).GetInt32(1) : 0;
}

int AppRepInfo::GetSubTaskId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSubtask) ? m.GetMsg(kSubtask, kSubtask).GetInt32(0) : 0;
}

long AppRepInfo::getSubclientId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSource) ? m.GetMsg(kSource, kSource).GetInt32(kEntitySubclientId) : 0;
}

long AppRepInfo::GetSourceVClientId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSource) ? m.GetMsg(kSource, kSource).GetInt32(kEntityClientId) : 0;
}

int AppRepInfo::GetApplicationId() {
  CNMessageBase& m = GetBaseRepInfo();
  return m.Has(kSource) ? m.GetMsg(kSource, kSource).GetInt32(kEntityAppId) : 0;
}

App::VSAReplicationStatus AppRepInfo::GetStatus() {
  return static_cast<App::VSAReplicationStatus>(GetBaseRepInfo().GetInt32(kSyncStatus));
}

App::VSAFailoverStatus AppRepInfo::GetFailoverStatus() {
  return static_cast<App::VSAFailoverStatus>(GetBaseRepInfo().GetInt32(kFailoverStatus));
}

void AppRepInfo::setSyncStatus(App::VSAReplicationStatus status) {
  GetBaseRepInfo().SetInt32(kSyncStatus, kSyncStatus, status);
}

void AppRepInfo::setFailoverStatus(App::VSAFailoverStatus status) {
  GetBaseRepInfo().SetInt32(kFailoverStatus, kFailoverStatus, status);
}
