// The one owner of the hypervisor lab's tables: instances and their
// regions, proxies and the instances they serve, VMs, snapshots, replicas,
// the call journal, planted faults, counters and datastores. Every write
// joins the caller's transaction, so one VM operation is one transaction
// with its journal row. CHypervisorLab is the lab's API; only it and the
// lab's services use this class.
//
// Reads answer kOk, kMissing (no such record) or kFailed (logged).
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "vm/LabModel.h"

class CHypervisorStore {
 public:
  static constexpr const char* kTables[] = {
      "PLT_HvInstances", "PLT_HvRegions",  "PLT_HvProxies", "PLT_HvProxyInstances",
      "PLT_HvVMs",       "PLT_HvSnapshots", "PLT_HvReplicas", "PLT_HvCalls",
      "PLT_HvFaults",    "PLT_HvCounters",  "PLT_HvDatastores", "PLT_HvMountsInFlight"};

  // Instances, with their regions (replaced whole).
  static bool PutInstance(const SLabInstance& instance);
  static EStoreResult GetInstance(long long id, SLabInstance& out);
  static EStoreResult FindInstanceByName(const std::string& name, SLabInstance& out);
  static EStoreResult Instances(std::vector<SLabInstance>& out);
  static EStoreResult SetInstanceDown(long long id, bool down);

  // Proxies, with the instances they serve (replaced whole).
  static bool PutProxy(const SLabProxy& proxy);
  static EStoreResult GetProxy(long long clientId, SLabProxy& out);
  static EStoreResult FindProxyByName(const std::string& name, SLabProxy& out);
  static EStoreResult Proxies(std::vector<SLabProxy>& out);
  // The proxies of an instance in its order.
  static EStoreResult ProxiesOfInstance(long long instanceId, std::vector<SLabProxy>& out);
  static EStoreResult SetProxyDown(long long clientId, bool down);

  // VMs: a GUID is unique within its instance.
  static bool PutVM(const SLabVM& vm);
  static EStoreResult GetVM(long long instanceId, const std::string& guid, SLabVM& out);
  static EStoreResult FindVMByName(long long instanceId, const std::string& name, SLabVM& out);
  // The VM with the GUID on any instance (the lowest instance id first).
  static EStoreResult FindVM(const std::string& guid, SLabVM& out);
  // The VMs of an instance, or of every instance for 0, by instance and name.
  static EStoreResult VMs(long long instanceId, std::vector<SLabVM>& out);
  // Removes the VM and its snapshots.
  static EStoreResult RemoveVM(long long instanceId, const std::string& guid);

  // Snapshots: position is given here (after the VM's last one).
  static bool AddSnapshot(SLabSnapshot& snapshot);
  static EStoreResult Snapshots(long long instanceId, const std::string& vmGuid, std::vector<SLabSnapshot>& out);
  static EStoreResult RemoveSnapshot(const std::string& ref);

  static bool PutReplica(const SLabReplica& replica);
  static EStoreResult GetReplica(int replicationId, SLabReplica& out);
  static EStoreResult Replicas(std::vector<SLabReplica>& out);
  // The replicas of a source VM, and those whose DR VM is the one named.
  static EStoreResult ReplicasOfSource(const std::string& sourceGuid, std::vector<SLabReplica>& out);
  static EStoreResult ReplicasOfDest(long long destInstanceId, const std::string& destGuid,
                                     std::vector<SLabReplica>& out);

  // The call journal; seq and time are given here.
  static bool AddCall(SLabCall& call);
  static EStoreResult Calls(std::vector<SLabCall>& out);
  // Calls of the operation type (-1 any) on the VM, by GUID or name (empty:
  // any); -1 when they cannot be counted.
  static long long CountCalls(int opType, const std::string& vm);

  static bool AddFault(SLabFault& fault);
  static EStoreResult Faults(std::vector<SLabFault>& out);
  static bool ClearFaults();

  // Named counters: NextValue adds one and answers the new value (0 on
  // failure, logged); Counter reads one (0 when never counted, -1 on failure).
  static long long NextValue(const std::string& name);
  static long long Counter(const std::string& name);
  static bool SetCounter(const std::string& name, long long value);

  static bool PutDatastore(const SLabDatastore& datastore);
  static EStoreResult GetDatastore(long long instanceId, const std::string& name, SLabDatastore& out);

  // Snapshot mounts and unmounts in flight, per datastore: Begin records
  // the call (token) on each datastore and answers in overlaps how many of
  // them another call held at that moment; it first drops every record of a
  // process that has gone, on any datastore. End drops the call's records
  // (in the caller's transaction when one is open).
  static bool BeginMountInFlight(long long instanceId, const std::vector<std::string>& datastores, long long token,
                                 int& overlaps);
  static bool EndMountInFlight(long long token);
  // The calls in flight (distinct tokens); -1 when they cannot be read.
  static long long MountsInFlight();

  static bool CreateTables();
};
