// The simulated management server's application (database) replications,
// replicated by a replica-sync task, and the one owner of their table
// (APP_ReplicaSyncReplication). A replication is one row: its id, the
// replication (sync) task, the subclient that backs up its source, and the
// replication message (App::ReplicaSyncReplicationInfo) as stored XML. The
// task and subclient columns follow the message's subtask and source entity
// on every write, so the task manager and the job simulator find a task's or
// a subclient's replications by them.
//
// The store is the replication source "replica-sync" (CReplicationSources).
//
// Faults for the DR job's adapter (ReplicaSyncReplication), stored as lab
// knobs so they hold for every process on the database until cleared: the
// query of one replication fails or answers nothing; a store of one
// replication (of one field of it, or of any) fails. The store's own
// operations ignore them: the simulators' writes always happen.
//
// Threads: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "msg/MsgClasses.h"

enum class EReplicaSyncFault { kNone = 0, kQueryFails = 1, kQueryEmpty = 2, kStoreFails = 3 };

class CReplicaSyncStore {
 public:
  static constexpr const char* kTable = "APP_ReplicaSyncReplication";
  static constexpr const char* kSourceKind = "replica-sync";

  // Creates a replication; false when the message has no id, the id is
  // taken, or the database cannot be written.
  static bool Create(const App::ReplicaSyncReplicationInfo& info);
  // The stored replication; kMissing when there is none with that id.
  static EStoreResult Find(int replicationId, App::ReplicaSyncReplicationInfo& out);
  // Merges a partial replication into the stored one: every field the
  // message holds replaces the stored field (msg/MsgMerge.h); 0 on success,
  // otherwise non-zero with the reason in error (4: no such replication).
  static int Merge(const App::ReplicaSyncReplicationInfo& partial, std::string& error);
  // Every replication's id, in id order; the messages are not read, so one
  // whose stored message does not read is listed too.
  static EStoreResult Ids(std::vector<int>& out);
  // The replications of a replication task, or of a subclient, in id order.
  static EStoreResult IdsOfTask(int taskId, std::vector<int>& out);
  static EStoreResult IdsOfSubclient(int subclientId, std::vector<int>& out);

  // The adapter's faults. For kStoreFails, field names the message field
  // (its a index) whose store fails, 0 any store of the replication.
  static bool SetFault(int replicationId, EReplicaSyncFault fault, int field = 0);
  static EReplicaSyncFault Fault(int replicationId, int& field);

  // Registers the replication source (CSimulators::Install).
  static void Register();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
