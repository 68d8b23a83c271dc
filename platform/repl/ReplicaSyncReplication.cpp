#include "repl/ReplicaSyncReplication.h"

#include "msg/MsgSlot.h"
#include "repl/ReplicaSyncStore.h"

namespace {

using Info = App::ReplicaSyncReplicationInfo;

// A planted store fault for the field (0: any) hits a message that holds it.
bool StoreFaultHits(const Info& info, int field) {
  if (field == 0) return true;
  for (const SMsgSlot& slot : info.Slots()) {
    if (slot.field->a == field) return true;
  }
  return false;
}

}  // namespace

ReplicaSyncReplication::ReplicaSyncReplication() : AdaptersBase() {}

ReplicaSyncReplication::~ReplicaSyncReplication() {}

int ReplicaSyncReplication::getSiteReplication(App::ReplicaSyncReplicationInfo* query,
                                               std::vector<App::ReplicaSyncReplicationInfo>& out, std::string& error,
                                               void*) {
  out.clear();
  if (query == nullptr || !query->Has(Info::kReplicationId)) {
    error = "No replication id given";
    m_lastError = error;
    return -1;
  }
  const int id = query->GetInt32(Info::kReplicationId);
  int field = 0;
  const EReplicaSyncFault fault = CReplicaSyncStore::Fault(id, field);
  if (fault == EReplicaSyncFault::kQueryFails) {
    error = "Query of replication [" + std::to_string(id) + "] failed (injected)";
    m_lastError = error;
    return 6;
  }
  if (fault == EReplicaSyncFault::kQueryEmpty) return 0;
  Info info;
  const EStoreResult read = CReplicaSyncStore::Find(id, info);
  if (read == EStoreResult::kFailed) {
    error = "Cannot read replication [" + std::to_string(id) + "]";
    m_lastError = error;
    return 2;
  }
  if (read == EStoreResult::kOk) out.push_back(info);
  return 0;
}

int ReplicaSyncReplication::setSiteReplication(App::ReplicaSyncReplicationInfo* info, std::string& error, void*) {
  if (info == nullptr) {
    error = "No replication given";
    m_lastError = error;
    return -1;
  }
  int field = 0;
  if (info->Has(Info::kReplicationId) &&
      CReplicaSyncStore::Fault(info->GetInt32(Info::kReplicationId), field) == EReplicaSyncFault::kStoreFails &&
      StoreFaultHits(*info, field)) {
    error = "Store of replication [" + std::to_string(info->GetInt32(Info::kReplicationId)) + "] failed (injected)";
    m_lastError = error;
    return 6;
  }
  const int rc = CReplicaSyncStore::Merge(*info, error);
  if (rc != 0) m_lastError = error;
  return rc;
}
