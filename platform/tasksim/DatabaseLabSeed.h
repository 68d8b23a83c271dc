// Building database (replica-sync) DR set-ups in a few calls: the clients
// with their instances and Oracle homes, the databases on the clients'
// hosts, the replications as the management server keeps them, the storage
// policy of their subclients and their replica-sync task. For tests and for
// "drjob seed"; each call goes through the owners of the tables and answers
// false (the owner logged why) when something could not be stored.
//
// Threads and processes: as the owners (any thread).
#pragma once

#include <string>
#include <vector>

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

// One site of a database replication: the instance and its client.
struct SSeedDBSite {
  int clientId = 0;
  std::string clientName;
  int instanceId = 0;
  std::string instanceName;
  std::string home;      // the instance's Oracle home
  bool running = false;  // its database on the host
};

struct SSeedDBReplication {
  int replicationId = 0;
  int subclientId = 0;
  int taskId = 0;
  int applicationId = 22;  // an Oracle database
  SSeedDBSite source;
  SSeedDBSite destination;
  App::VSAReplicationStatus syncStatus = App::VSA_REPL_STATUS_IN_SYNC;
  App::VSAFailoverStatus failoverStatus = App::VSA_FAILOVER_STATUS_NONE;
};

// Replications sharing one replica-sync task and one storage policy (a
// primary copy) that every subclient of theirs backs up to.
struct SSeedDBLab {
  int taskId = 0;
  int storagePolicyId = 0;
  int primaryCopyId = 0;
  std::vector<SSeedDBReplication> replications;
};

class CDatabaseLabSeed {
 public:
  // A replication of a simple shape: source instance 100+id "ORCL<id>" on
  // client "src<id>" (id 10+id, home /u01/src<id>, running), destination
  // instance 200+id "ORCL<id>DR" on "dst<id>" (20+id, home /u01/dst<id>,
  // stopped).
  static SSeedDBReplication Simple(int replicationId, int subclientId, int taskId);
  // The sample lab: replications 1 and 2 of task 41, each of its own
  // subclient (31, 32), backed up to storage policy 6 (primary copy 61).
  static SSeedDBLab Sample();

  // The subclient entity of a site, and the replication message (nothing is
  // stored).
  static ZnEntities::SubClientEntity Entity(const SSeedDBSite& site, int subclientId, int applicationId);
  static App::ReplicaSyncReplicationInfo Replication(const SSeedDBReplication& replication);

  // One site: its client, its instance with the Oracle home (none when
  // withHome is false) and the database on the client's host.
  static bool AddSite(const SSeedDBSite& site, bool withHome = true);
  // The replication's record alone.
  static bool StoreReplication(const SSeedDBReplication& replication);
  // The replication with both sites.
  static bool AddReplication(const SSeedDBReplication& replication);
  // The storage policy, its subclients, the replica-sync task and every
  // replication with its sites.
  static bool AddLab(const SSeedDBLab& lab);
};
