// Application (database) replications for the tests: the replication
// message as the management server keeps it, and the lab around it (the
// clients, their instances with Oracle homes, the databases on the hosts),
// all written through the owners of their tables.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "appmgr/ClientStore.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/InstanceProperties.h"
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
  std::string home;      // the instance's Oracle home
  bool running = false;  // its database on the host
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
// "src<id>" (id 10+id, home /u01/src<id>, running), destination instance
// 200+id on "dst<id>" (20+id, home /u01/dst<id>, stopped).
inline SDBReplication SimpleDBReplication(int replicationId, int subclientId = 31, int taskId = 41) {
  SDBReplication r;
  r.replicationId = replicationId;
  r.subclientId = subclientId;
  r.taskId = taskId;
  const std::string n = std::to_string(replicationId);
  r.source = SDBSite{10 + replicationId, "src" + n, 100 + replicationId, "ORCL" + n, "/u01/src" + n, true};
  r.destination = SDBSite{20 + replicationId, "dst" + n, 200 + replicationId, "ORCL" + n + "DR", "/u01/dst" + n,
                          false};
  return r;
}

// One site in the lab: its client, its instance with the Oracle home (none
// when withHome is false), and the database on the client's host.
inline void SeedDBSite(const SDBSite& site, bool withHome = true) {
  SClientRecord client;
  client.id = site.clientId;
  client.name = site.clientName;
  ASSERT_TRUE(CClientStore::PutClient(client)) << site.clientName;
  InstanceProperties instance(site.instanceId);
  ASSERT_EQ(0, instance.putInstance(site.clientId, site.instanceName)) << site.instanceName;
  if (withHome) {
    ASSERT_EQ(0, instance.setAttribute(ZN_PROP_ORACLE_HOME, site.home)) << site.instanceName;
  }
  ASSERT_TRUE(CDatabaseHosts::PutDatabase(site.clientId, withHome ? site.home : std::string(), site.running));
}

inline void StoreDBReplication(const SDBReplication& r) {
  ASSERT_TRUE(CReplicaSyncStore::Create(DBReplicationInfo(r))) << r.replicationId;
}

// The replication with both sites in the lab.
inline void SeedDBReplication(const SDBReplication& r) {
  SeedDBSite(r.source);
  SeedDBSite(r.destination);
  StoreDBReplication(r);
}

inline bool DatabaseRunning(const SDBSite& site) {
  bool running = false;
  EXPECT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(site.clientId, site.home, running)) << site.clientName;
  return running;
}

inline App::ReplicaSyncReplicationInfo StoredDBReplication(int replicationId) {
  App::ReplicaSyncReplicationInfo info;
  EXPECT_EQ(EStoreResult::kOk, CReplicaSyncStore::Find(replicationId, info)) << replicationId;
  return info;
}

}  // namespace drtest
