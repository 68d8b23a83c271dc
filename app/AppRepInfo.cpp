#include "AppRepInfo.h"

namespace {

using Info = App::ReplicaSyncReplicationInfo;
using Entity = ZnEntities::SubClientEntity;

// GetBaseRepInfo may hand out a message of another class (the storage-array
// record hands out its own), and the getters read it by this record's index
// pairs all the same; so they pass the pairs of the constants, not the
// constants, whose class check would refuse that message.
bool Has(const CNMessageBase& m, const SMsgField& f) { return m.Has(f.a); }
int32_t Int(const CNMessageBase& m, const SMsgField& f) { return m.GetInt32(f.b); }
const std::string& Text(const CNMessageBase& m, const SMsgField& f) { return m.GetString(f.a, f.b); }
const CNMessageBase& Sub(const CNMessageBase& m, const SMsgField& f) { return m.GetMsg(f.a, f.b); }
void SetInt(CNMessageBase& m, const SMsgField& f, int32_t value) { m.SetInt32(f.a, f.b, value); }

}  // namespace

AppRepInfo::AppRepInfo() {}

AppRepInfo::AppRepInfo(const App::ReplicaSyncReplicationInfo& info) : m_info(info) {}

AppRepInfo::~AppRepInfo() {}

CNMessageBase& AppRepInfo::GetBaseRepInfo() { return m_info; }

int AppRepInfo::GetReplId() { return Int(GetBaseRepInfo(), Info::kReplicationId); }

std::string AppRepInfo::GetSourceName() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSourceEntity) ? Sub(m, Info::kSourceEntity).GetString(Entity::kName) : std::string();
}

std::string AppRepInfo::GetSourceGuid() { return Text(GetBaseRepInfo(), Info::kSourceGuid); }

std::string AppRepInfo::GetDestinationName() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kDestinationEntity) ? Sub(m, Info::kDestinationEntity).GetString(Entity::kName) : std::string();
}

long AppRepInfo::GetDestInstanceId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kDestinationEntity) ? Sub(m, Info::kDestinationEntity).GetInt32(Entity::kInstanceId) : 0;
}

long AppRepInfo::GetSrcInstanceId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSourceEntity) ? Sub(m, Info::kSourceEntity).GetInt32(Entity::kInstanceId) : 0;
}

std::string AppRepInfo::GetDestinationGuid() { return Text(GetBaseRepInfo(), Info::kDestinationGuid); }

int AppRepInfo::GetTaskId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSubtask) ? Sub(m, Info::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kTaskId) : 0;
}

int AppRepInfo::GetSubTaskId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSubtask) ? Sub(m, Info::kSubtask).GetInt32(ZnEntities::SubtaskEntity::kSubtaskId) : 0;
}

long AppRepInfo::getSubclientId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSourceEntity) ? Sub(m, Info::kSourceEntity).GetInt32(Entity::kSubclientId) : 0;
}

long AppRepInfo::GetSourceVClientId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSourceEntity) ? Sub(m, Info::kSourceEntity).GetInt32(Entity::kClientId) : 0;
}

int AppRepInfo::GetApplicationId() {
  CNMessageBase& m = GetBaseRepInfo();
  return Has(m, Info::kSourceEntity) ? Sub(m, Info::kSourceEntity).GetInt32(Entity::kApplicationId) : 0;
}

App::VSAReplicationStatus AppRepInfo::GetStatus() {
  return static_cast<App::VSAReplicationStatus>(Int(GetBaseRepInfo(), Info::kSyncStatus));
}

App::VSAFailoverStatus AppRepInfo::GetFailoverStatus() {
  return static_cast<App::VSAFailoverStatus>(Int(GetBaseRepInfo(), Info::kFailoverStatus));
}

void AppRepInfo::setSyncStatus(App::VSAReplicationStatus status) {
  SetInt(GetBaseRepInfo(), Info::kSyncStatus, status);
}

void AppRepInfo::setFailoverStatus(App::VSAFailoverStatus status) {
  SetInt(GetBaseRepInfo(), Info::kFailoverStatus, status);
}
