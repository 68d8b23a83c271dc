// Application (database) replications for the tests: the replication
// message as the management server keeps it, and the lab around it (the
// clients, their instances with Oracle homes, the databases on the hosts),
// built by the lab's seeding (CDatabaseLabSeed), and readers of what a run
// left on them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "appmgr/DatabaseHosts.h"
#include "appmgr/RemoteExecStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicaSyncStore.h"
#include "tasksim/DatabaseLabSeed.h"

namespace drtest {

// The lab's own shapes (CDatabaseLabSeed); the tests name them briefly.
using SDBSite = SSeedDBSite;
using SDBReplication = SSeedDBReplication;

inline ZnEntities::SubClientEntity DBEntity(const SDBSite& site, int subclientId, int applicationId) {
  return CDatabaseLabSeed::Entity(site, subclientId, applicationId);
}

inline App::ReplicaSyncReplicationInfo DBReplicationInfo(const SDBReplication& r) {
  return CDatabaseLabSeed::Replication(r);
}

// The start-ups and shut-downs sent to the client (0: to any), in order: a
// status query (a job's end asks where each workload runs) changes nothing
// on a host and is left out.
inline std::vector<SRemoteExecEntry> DBScriptsSent(int clientId) {
  std::vector<SRemoteExecEntry> entries;
  EXPECT_EQ(EStoreResult::kOk, CRemoteExecStore::Entries(entries, clientId));
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [](const SRemoteExecEntry& e) {
                                 return e.argv.size() >= 2 && e.argv[1] == CDatabaseHosts::kStatusScript;
                               }),
                entries.end());
  return entries;
}

// CDatabaseLabSeed::Simple, of subclient 31 and task 41 unless told.
inline SDBReplication SimpleDBReplication(int replicationId, int subclientId = 31, int taskId = 41) {
  return CDatabaseLabSeed::Simple(replicationId, subclientId, taskId);
}

inline void SeedDBSite(const SDBSite& site, bool withHome = true) {
  ASSERT_TRUE(CDatabaseLabSeed::AddSite(site, withHome)) << site.clientName;
}

inline void StoreDBReplication(const SDBReplication& r) {
  ASSERT_TRUE(CDatabaseLabSeed::StoreReplication(r)) << r.replicationId;
}

inline void SeedDBReplication(const SDBReplication& r) {
  ASSERT_TRUE(CDatabaseLabSeed::AddReplication(r)) << r.replicationId;
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
