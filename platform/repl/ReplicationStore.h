// The simulated management server's VM replications, and the one owner of
// their tables. A replication is its
// row of APP_VSAReplication, its property rows in APP_VSAReplicationProp
// (one per property, in insertion order) and the stored replication message
// for every field that has no column (sub-records, vendors, tracking ids).
//
// A replication exists while its APP_VSAReplication row exists. Reads put
// the three together again: the stored message, overlaid with the columns,
// with the property rows as its property list (field 25).
//
// The store is the replication source (CReplicationSources) of the VM
// replications: a VM's source client is its property kPropSourceVMClientId.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "msg/MsgClasses.h"

class CReplicationStore {
 public:
  // The tables the replication store owns.
  static constexpr const char* kTables[] = {"APP_VSAReplication", "APP_VSAReplicationProp", "PLT_VSAReplicationMsg"};
  // The kind of replication the store's source answers for.
  static constexpr const char* kSourceKind = "vm";
  // The replication property holding the source VM's client id.
  static constexpr int kPropSourceVMClientId = 2221;
  // What a DR job leaves on a replication for the lab to show: the source's
  // and the DR VM's snapshot, the point-in-time snapshot it came up from,
  // and the failback schedule that lists it.
  static constexpr int kPropSourceSnapMoref = 2209;
  static constexpr int kPropFailbackTaskId = 2212;
  static constexpr int kPropDestSnapMoref = 2213;
  static constexpr int kPropPitSnapshotId = 2214;

  // Stores the whole replication, replacing what was stored under its id
  // (properties included). False when the message has no replication id or
  // the database cannot be written.
  static bool Put(const App::VSAReplicationInfo& info, int taskId);
  // The text of a replication's property; empty when it has none.
  static std::string PropertyOf(const App::VSAReplicationInfo& info, int propertyId);
  // The stored replication; false when there is none with that id.
  static bool Get(int replicationId, App::VSAReplicationInfo& out);
  // The same, telling a failed read (kFailed, logged) from none (kMissing).
  static EStoreResult Find(int replicationId, App::VSAReplicationInfo& out);
  // Removes the replication with its properties; kMissing when there was none.
  static EStoreResult Remove(int replicationId);
  // Merges a partial replication into the stored one: only the fields the
  // message holds change (a present empty text counts as set), and each
  // property of its list (field 25) is updated or added by property id.
  // 0 on success; otherwise non-zero with the reason in error.
  static int Merge(const App::VSAReplicationInfo& partial, std::string& error);
  // Ids of the replications of a replication (sync) task, in id order.
  static std::vector<int> IdsOfTask(int taskId);
  // The same, telling a failed read (kFailed, logged) from none.
  static EStoreResult IdsOfTask(int taskId, std::vector<int>& out);
  // Ids of the replications whose subclient (the one that backs the VM up,
  // field kSubclient) is subclientId, in id order.
  static EStoreResult IdsOfSubclient(int subclientId, std::vector<int>& out);

  // Answers App::GetVSAReplicationReq with every requested
  // replication that exists, in request order.
  static int HandleGetReplications(int userId, std::string& xml, std::string& error);
  // Registers the request handler and the VM replication source
  // (CSimulators::Install).
  static void Register();
  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the replication tables on the calling thread's database.
  static bool CreateTables();
};
