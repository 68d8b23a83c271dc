// Where the simulated server finds the replications a task or a subclient
// has, whatever replicates them: every kind of replication (VMs today;
// application databases and storage-array volumes later) registers one
// source, and the task manager and the job simulator ask all of them
// through this one lookup rather than any store directly.
//
// Replication ids are unique across the kinds: a lookup by id takes the
// first source that knows the replication.
//
// Registration is explicit (each kind's Register, from CSimulators::Install);
// a test may replace a source with a CScopedHandler on Sources().
// Threads: every member may be called from any thread; sources run outside
// the registry's lock.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/HandlerRegistry.h"
#include "core/StoreResult.h"

// One replication as a task request sees it.
struct SSourcedReplication {
  int replicationId = 0;
  std::string sourceGuid;  // what is backed up (a VM's GUID)
  int sourceClientId = 0;  // the client of what is backed up; 0 when not known
  // The stored failover and test-failover statuses (App::VSAFailoverStatus,
  // App::DRTestFailoverStatus); -1 where the kind keeps none.
  int failoverStatus = -1;
  int testFailoverStatus = -1;
  // The stored sync status (App::VSAReplicationStatus); -1 where the kind
  // keeps none.
  int syncStatus = -1;
};

// A kind of replication. Each lookup answers kOk (possibly with nothing),
// kMissing (get: not a replication of this kind) or kFailed (logged).
struct SReplicationSource {
  std::function<EStoreResult(int taskId, std::vector<SSourcedReplication>& out)> ofTask;
  std::function<EStoreResult(int subclientId, std::vector<SSourcedReplication>& out)> ofSubclient;
  std::function<EStoreResult(int replicationId, SSourcedReplication& out)> get;
};

using ReplicationSourceRegistry = CHandlerRegistry<std::string, SReplicationSource>;

// What a store answers about its own replications, from which FromIds makes
// its source: the ids of a task's or subclient's replications, and one
// replication by id.
using ReplicationIdsLookup = std::function<EStoreResult(int key, std::vector<int>& ids)>;
using ReplicationGet = std::function<EStoreResult(int replicationId, SSourcedReplication& out)>;

class CReplicationSources {
 public:
  static void Register(const std::string& kind, SReplicationSource source);
  // A source over a store's id lookups: a task's or subclient's
  // replications are got one by one (one removed meanwhile is left out).
  static SReplicationSource FromIds(ReplicationIdsLookup ofTask, ReplicationIdsLookup ofSubclient, ReplicationGet get);
  static ReplicationSourceRegistry& Sources();

  // The replications of a replication (sync) task, or of the subclient that
  // backs them up, from every source, by replication id. kFailed when any
  // source cannot be read (nothing is answered then).
  static EStoreResult OfTask(int taskId, std::vector<SSourcedReplication>& out);
  static EStoreResult OfSubclient(int subclientId, std::vector<SSourcedReplication>& out);
  // The same as ids only.
  static EStoreResult IdsOfTask(int taskId, std::vector<int>& out);
  static EStoreResult IdsOfSubclient(int subclientId, std::vector<int>& out);
  // One replication by id: kMissing when no source knows it.
  static EStoreResult Get(int replicationId, SSourcedReplication& out);
};
