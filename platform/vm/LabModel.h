// The records of the simulated hypervisor lab (CHypervisorLab): two or more
// sites (virtualization instances) with their regions, the proxies that
// serve them, the VMs with their snapshots, the replicas that tie a source
// VM to its DR VM, the faults a test plants and the journal of every VM
// operation the lab carried out. CHypervisorStore keeps them.
#pragma once

#include <string>
#include <vector>

// A network of a region, with its subnets.
struct SLabNetwork {
  std::string name;
  std::vector<std::string> subnets;
};

// A VM size a region offers.
struct SLabVMSize {
  std::string name;
  int cpus = 0;
  int memoryMB = 0;
  int disks = 0;
};

// A datacenter (or cloud region) of an instance and what it offers.
struct SLabRegion {
  std::string name;
  std::vector<std::string> datastores;
  std::vector<SLabNetwork> networks;
  std::vector<SLabVMSize> sizes;
};

// A virtualization instance: one site of the lab.
struct SLabInstance {
  long long id = 0;
  std::string name;    // unique among instances and proxies (drjob lab down NAME)
  int vendor = 0;      // Common::VSVendor
  std::string host;    // the instance's host ("Virtual Server Host")
  std::string user;
  int clientId = 0;    // the client the instance belongs to (its application)
  int fbrClientId = 0; // the Unix file-recovery media agent; 0 none
  bool down = false;   // every call to the site fails
  std::vector<SLabRegion> regions;
};

// A proxy (member server) and the instances it serves, each at a position
// of that instance's proxy order.
struct SLabProxyInstance {
  long long instanceId = 0;
  int position = 0;
};
struct SLabProxy {
  long long clientId = 0;
  std::string name;
  bool down = false;  // a call through it is a connection failure (-100)
  std::string installDirectory;
  std::vector<SLabProxyInstance> instances;
};

struct SLabNic {
  std::string network;
  bool connected = true;
};

struct SLabVM {
  std::string guid;
  std::string name;
  long long instanceId = 0;
  bool poweredOn = false;
  bool toolsInstalled = true;
  std::string ip;    // reported only while on, with tools and a connected NIC
  std::string host;  // the hypervisor host it runs on
  std::vector<std::string> datastores;
  std::vector<SLabNic> nics;
  std::string size;  // the VM size's name
  int diskCount = 1;
  long long diskSizeMB = 0;
  long long content = 0;  // what its disks hold; tests bump it
  int clientId = 0;       // its client of the management server; 0 none
  bool clone = false;     // made by a clone operation
  std::string projectId;  // the client's cloud project (vendor 16)
  std::string placementXml;  // the placement last recorded (Ida::VMPlacement)
};

// A hypervisor snapshot: what the VM held, whether it ran and its network
// cards (networks and connected flags) when it was taken: a revert puts all
// of it back. A snapshot stored before the lab kept cards has none kept
// (cardsKept false), and a revert leaves the VM's cards as they are.
struct SLabSnapshot {
  std::string ref;
  long long instanceId = 0;
  std::string vmGuid;
  std::string name;
  std::string description;
  int position = 0;  // order of creation within the VM
  long long content = 0;
  bool poweredOn = false;
  bool cardsKept = false;
  std::vector<SLabNic> nics;
};

// A replication as the hypervisors see it: the source VM, its DR VM and
// the content the last backup and the last sync carried.
struct SLabReplica {
  int replicationId = 0;
  long long sourceInstanceId = 0;
  std::string sourceGuid;
  long long destInstanceId = 0;
  std::string destGuid;
  std::string destName;
  long long backedUpContent = -1;  // -1: no backup recorded
  long long syncedContent = -1;    // -1: never synced
};

enum class ELabFault {
  kError = 1,            // the call fails with the fault's code and text
  kConnectionFailure,    // the call answers -100
  kMountedElsewhere,     // the call answers 270
  kHang,                 // the call blocks until released or its time runs out
  kRenamedVM,            // response: the VM comes back under the fault's text as its name
  kNoCreatedEntity,      // response: a new VM without its entity (field 3)
  kNoSnapshotRef,        // response: snapshots without their reference
  kNoRefreshError,       // response: a refresh without its error record
  kKillJob,              // trigger: the call's DR job gets a kill request as the call starts; the call goes on
  kSuspendJob,           // trigger: the same with a suspend request
};

// A fault for the calls fromCall..toCall (counted from 1 among the calls it
// matches) of an operation type (kAnyOperation: every type) on a VM, named
// by GUID or, for a VM a call creates, by name (empty: every VM).
struct SLabFault {
  int id = 0;
  int opType = -1;
  std::string vm;
  int fromCall = 1;
  int toCall = 1;
  ELabFault kind = ELabFault::kError;
  int code = 0;       // kError: a positive code
  std::string text;   // kError: the error text; kRenamedVM: the name reported
};

// One VM operation call as the lab journals it.
struct SLabCall {
  long long seq = 0;
  long long at = 0;  // platform epoch seconds
  int opType = 0;
  long long instanceId = 0;
  std::string vmGuid;
  std::string vmName;
  long long proxyId = 0;
  int result = 0;
  std::string errorText;
  std::string detail;  // what the operation carried: a script, a placement, a mount
  long long jobId = 0;
};

// A datastore of an instance: the proxy holding it (0: any) and what is
// mounted on it.
struct SLabDatastore {
  long long instanceId = 0;
  std::string name;
  long long holderProxyId = 0;
  std::string mountedVm;
  bool testFailover = false;
};

// A mount or unmount the lab carried out, for whoever keeps mount records.
struct SLabMountEvent {
  int opType = 0;  // 55 mount, 56 unmount
  long long instanceId = 0;
  std::string vmGuid;
  std::string vmName;
  std::string datastore;
  long long proxyId = 0;
  bool testFailover = false;
  bool hasSource = false;  // the live-mount source below was given
  int subclientId = 0;
  int afileId = 0;
  long long jobId = 0;
  int copyId = 0;
};
