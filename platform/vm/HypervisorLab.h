// The simulated hypervisor lab: the sites (virtualization instances), the
// proxies that serve them and the VMs a DR job's VM operations act on, kept
// in the management database (CHypervisorStore) so that what one process
// does, another sees and steers ("drjob lab", tests).
//
// What it serves, registered by Register (CSimulators::Install):
// - VmOperation::PerformRemoteVMOperation, every operation type: the call
//   goes to the instance of the request's Ida::VMOpReq::kInstance; the proxy
//   is the request's kProxyClientId (it must serve the instance), else the
//   instance's first proxy that is up (without retry, the first proxy; a
//   down one is a connection failure). Answers 0, -100 (the proxy is down,
//   or a planted fault), 270 (a mount through a proxy other than the
//   datastore's holder, or a fault) or a positive ELabCode, never -1. The
//   response is replaced; it always holds the error record (0 and an empty
//   text on success) and, once a proxy was chosen, the executing proxy.
//   Every call is one transaction with one journal row (Calls()).
// - VmAuxOps::getVMInfo, on every VM and clone of the lab.
// - XML requests EVGui::GetVirtualMachineDestinationsReq (what a region
//   offers) and EVGui::DiscoverVMDetailsReq (a VM's snapshots).
// - The stored procedure AppGetVSMemberServers: an instance's proxies in
//   order (counted: MemberServerCalls()).
// - Job effects, as job-simulator end writers (in the ending's transaction):
//   a successful backup records each replicated VM's content; a successful
//   sync copies it onto each DR VM, which keeps exactly one "__OB_BACKUP__"
//   snapshot; a successful restore (failback) copies each DR VM's content
//   back onto its source VM, unless the source's site is down (then the
//   replication's sync fails, as a call there would).
//
// The rows of the management server that describe the lab (the instance's
// host property, its file-recovery media agent, its application and client,
// the proxies' and VM clients' clients and properties, a clone's client and
// VM row) are written through their tables' owners.
//
// Threads: every member may be called from any thread and process; a hung
// call blocks only its own thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/HandlerRegistry.h"
#include "core/StoreResult.h"
#include "vm/LabModel.h"

// The lab's own failure codes (positive, clear of the entry's 9001/9002).
enum ELabCode {
  kLabUnknownInstance = 7001,
  kLabSiteDown = 7002,
  kLabNoProxy = 7003,
  kLabProxyNotServing = 7004,
  kLabVMNotFound = 7005,
  kLabNoTools = 7006,
  kLabSnapshotNotFound = 7007,
  kLabNameTaken = 7008,
  kLabNoReplica = 7009,
  kLabBadRequest = 7010,
  kLabUnsupported = 7011,
  kLabTimedOut = 7012,
  kLabStoreFailed = 7013,
};

// Told of every mount and unmount the lab carries out; a non-zero answer
// fails the operation with that code (a negative one with kLabBadRequest).
using LabMountHook = std::function<int(const SLabMountEvent&)>;
using LabMountHookRegistry = CHandlerRegistry<std::string, LabMountHook>;

class CHypervisorLab {
 public:
  // The lab's snapshot of a replicated VM's backup.
  static constexpr const char* kBackupSnapshotName = "__OB_BACKUP__";
  // Clones take client ids from here on.
  static constexpr int kFirstCloneClientId = 10001;
  // Counters: snapshot mounts or unmounts that met another on a datastore
  // (violations), and the time one takes, in scaled ms (0: none).
  static constexpr const char* kMountOverlapCounter = "mount-overlaps";
  static constexpr const char* kMountDurationCounter = "mount-duration-ms";

  // ---- building the lab (each replaces what it names)
  // An instance with its regions, and its rows of the management server:
  // its client (clientId, named after the instance), its application, its
  // "Virtual Server Host" and file-recovery media agent properties.
  static bool AddInstance(const SLabInstance& instance);
  // A proxy and its client (with its installation folder).
  static bool AddProxy(const SLabProxy& proxy);
  // A VM; with a client id it is also a VM client of the server: client,
  // instance UUID and project id properties, its VM row.
  static bool AddVM(const SLabVM& vm);
  static bool AddSnapshot(SLabSnapshot& snapshot);  // ref "" takes a new one
  static bool AddReplica(const SLabReplica& replica);
  // The proxy holding a datastore: a mount through any other answers 270.
  static bool SetDatastoreHolder(long long instanceId, const std::string& datastore, long long proxyId);

  // ---- steering
  // An instance or a proxy by its name: kMissing when none has it.
  static EStoreResult SetDown(const std::string& name, bool down);
  static EStoreResult SetInstanceDown(long long instanceId, bool down);
  static EStoreResult SetProxyDown(long long proxyId, bool down);
  // Adds one to a VM's content (a write in the guest).
  static EStoreResult BumpContent(long long instanceId, const std::string& guid);
  // Plants a fault (fault.id is set). A kError fault needs a positive code.
  static bool AddFault(SLabFault& fault);
  static bool ClearFaults();
  // Ends every call hung now, in any process: each carries its operation out.
  static bool ReleaseHangs();
  // The calls of this process that hang now.
  static int HungCalls();
  // Tests only: runs in each VM operation between its read of the release
  // mark and its read of the planted faults, where a release from another
  // process can land; null (the default) runs nothing.
  using ReadsSeam = void (*)();
  static void SetReleaseMarkSeam(ReadsSeam seam);

  // ---- reading back
  static EStoreResult Instances(std::vector<SLabInstance>& out);
  static EStoreResult Proxies(std::vector<SLabProxy>& out);
  static EStoreResult GetVM(long long instanceId, const std::string& guid, SLabVM& out);
  static EStoreResult FindVMByName(long long instanceId, const std::string& name, SLabVM& out);
  static EStoreResult VMs(long long instanceId, std::vector<SLabVM>& out);  // 0: every instance
  static EStoreResult Snapshots(long long instanceId, const std::string& guid, std::vector<SLabSnapshot>& out);
  static EStoreResult GetReplica(int replicationId, SLabReplica& out);
  static EStoreResult Replicas(std::vector<SLabReplica>& out);
  static EStoreResult Calls(std::vector<SLabCall>& out);
  static EStoreResult GetDatastore(long long instanceId, const std::string& name, SLabDatastore& out);
  // What a VM reports as its address now ("" while off, without tools or
  // without a connected NIC).
  static std::string ReportedIp(const SLabVM& vm);
  // Calls of AppGetVSMemberServers so far.
  static long long MemberServerCalls();

  static LabMountHookRegistry& MountHooks();
  static bool SetMountDurationMs(long long ms);
  // Overlapping mounts journalled so far; -1 when it cannot be read.
  static long long MountOverlaps();
  // Mount and unmount calls in flight now, in any process; -1 when it cannot
  // be read.
  static long long MountsInFlight();

  // Registers the lab's handlers (CSimulators::Install).
  static void Register();
  // The tables of the lab's stores (a test that needs only this lab).
  static bool CreateTables();
};
