// Application (database) replications for the tests: the replication
// message as the management server keeps it, stored through its owner.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicaSyncStore.h"

namespace drtest {

// One site of a database replication: the instance and its client.
struct SDBSite {
  int clientId = 0;
  std::string clientName;
  int instanceId = 0;
  std::string instanceName;
};

struct SDBReplication {
  int replicationId = 0;
  int subclientId = 0;
  int taskId = 0;
  int applicationId = 22;  // an Oracle database
  SDBSite source;
  SDBSite destination;
  App::VSAReplicationStatus syncStatus = App::VSA_REPL_STATUS_IN_SYNC;
  App::VSAFailoverStatus failoverStatus = App::VSA_FAILOVER_STATUS_NONE;
};

inline ZnEntities::SubClientEntity DBEntity(const SDBSite& site, int subclientId, int applicationId) {
  using Entity = ZnEntities::SubClientEntity;
  Entity e;
  e.SetInt32(Entity::kSubclientId, subclientId);
  e.SetInt32(Entity::kClientId, site.clientId);
  e.SetString(Entity::kClientName, site.clientName);
  e.SetInt32(Entity::kInstanceId, site.instanceId);
  e.SetString(Entity::kName, site.instanceName);
  e.SetInt32(Entity::kApplicationId, applicationId);
  return e;
}

inline App::ReplicaSyncReplicationInfo DBReplicationInfo(const SDBReplication& r) {
  using Info = App::ReplicaSyncReplicationInfo;
  Info info;
  info.SetInt32(Info::kReplicationId, r.replicationId);
  CNMessageBase& subtask = info.MutableMsg(Info::kSubtask);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, r.taskId * 10);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, r.taskId);
  info.SetMsg(Info::kSourceEntity, DBEntity(r.source, r.subclientId, r.applicationId));
  info.SetMsg(Info::kDestinationEntity, DBEntity(r.destination, r.subclientId, r.applicationId));
  info.SetInt32(Info::kSyncStatus, r.syncStatus);
  info.SetInt32(Info::kFailoverStatus, r.failoverStatus);
  info.SetString(Info::kSourceGuid, "db-src-" + std::to_string(r.replicationId));
  info.SetString(Info::kDestinationGuid, "db-dst-" + std::to_string(r.replicationId));
  return info;
}

// A replication of a simple shape: source instance 100+id on client
// "src<id>" (id 10+id), destination instance 200+id on "dst<id>" (20+id).
inline SDBReplication SimpleDBReplication(int replicationId, int subclientId = 31, int taskId = 41) {
  SDBReplication r;
  r.replicationId = replicationId;
  r.subclientId = subclientId;
  r.taskId = taskId;
  r.source = SDBSite{10 + replicationId, "src" + std::to_string(replicationId), 100 + replicationId,
                     "ORCL" + std::to_string(replicationId)};
  r.destination = SDBSite{20 + replicationId, "dst" + std::to_string(replicationId), 200 + replicationId,
                          "ORCL" + std::to_string(replicationId) + "DR"};
  return r;
}

inline void StoreDBReplication(const SDBReplication& r) {
  ASSERT_TRUE(CReplicaSyncStore::Create(DBReplicationInfo(r))) << r.replicationId;
}

inline App::ReplicaSyncReplicationInfo StoredDBReplication(int replicationId) {
  App::ReplicaSyncReplicationInfo info;
  EXPECT_EQ(EStoreResult::kOk, CReplicaSyncStore::Find(replicationId, info)) << replicationId;
  return info;
}

}  // namespace drtest
