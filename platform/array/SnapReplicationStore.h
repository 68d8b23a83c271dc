// The management server's storage-array replications, and the one owner of
// PLT_SnapReplications: each replication's message (Api::SnapDRReplicationInfo)
// under its id and DR group, with the columns it is looked up by (copy,
// subclient, source VM GUID) and the proxy VM of a test mount.
//
// The mount record (field 43) and the proxy VM name and GUID are the
// server's: the stored message never holds them (Add and Replace drop
// them); the proxy VM is kept in its own columns, set by the lab's mounts,
// and the mount record is derived on every read (CArrayLab).
//
// Threads and processes: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "msg/MsgClasses.h"

struct SSnapReplication {
  int replicationId = 0;
  int drGroupId = 0;
  Api::SnapDRReplicationInfo info;  // without the server's fields
  std::string proxyVMName;
  std::string proxyVMGuid;
};

class CSnapReplicationStore {
 public:
  static constexpr const char* kTable = "PLT_SnapReplications";

  // Adds a replication of a DR group; false (logged) without a replication
  // id (field 4) or DR group, or when the id is taken.
  static bool Add(int drGroupId, const Api::SnapDRReplicationInfo& info);
  // Stores the whole record in place of the one of that id; kMissing when
  // the DR group has no replication of that id (nothing is stored). The
  // stored last synced backup job stays: only SetLastSyncedJob moves it.
  static EStoreResult Replace(int drGroupId, const Api::SnapDRReplicationInfo& info);
  static EStoreResult Get(int replicationId, SSnapReplication& out);
  static EStoreResult All(std::vector<SSnapReplication>& out);
  // Every replication's id, in id order; the messages are not read, so one
  // whose stored message does not read (which fails All) is listed too.
  static EStoreResult Ids(std::vector<int>& out);
  // By id, each: the replications read from a copy, backed up by a
  // subclient (the source entity's), or of a source VM.
  static EStoreResult OfCopy(int copyId, std::vector<SSnapReplication>& out);
  static EStoreResult OfSubclient(int subclientId, std::vector<SSnapReplication>& out);
  static EStoreResult OfSourceGuid(const std::string& guid, std::vector<SSnapReplication>& out);

  static EStoreResult SetLastSyncedJob(int replicationId, long long jobId);
  // Empty texts clear the proxy VM.
  static EStoreResult SetProxyVM(int replicationId, const std::string& name, const std::string& guid);

  // Removes what the server keeps for itself from a message.
  static void DropServerFields(Api::SnapDRReplicationInfo& info);

  static bool CreateTables();
};
