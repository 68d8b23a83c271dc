// Building the hypervisor lab and the VM replications on it in a few calls:
// the sites (an instance with its region, hosts, datastores, networks and
// sizes, and its proxies), a VM of a site, a replicated VM (its source VM,
// its DR VM as the last sync left it and the replica that ties them), the
// replication as the management server keeps it, the replication tasks' VM
// restore options and the storage policies of the subclients. One
// description for "drjob seed" (Sample) and the tests, so the tests check
// the lab users get; each call goes through the owners of the tables and
// answers false (the owner logged why) when something could not be stored.
//
// Threads and processes: as the owners (any thread).
#pragma once

#include <string>
#include <vector>

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "vm/LabModel.h"

// A proxy of a site.
struct SSeedVMProxy {
  long long clientId = 0;
  std::string name;
};

// A site: one virtualization instance, whose client carries its id. Its
// letter l (the k-th of the alphabet) names what it has: the region "dc-l"
// with datastores "ds-l1" and "ds-l2", networks "net-l" (10.k.0.0/24) and
// "test-net-l" and three VM sizes; the host "esx-l1" its VMs run on; the
// addresses 10.k.x.y of its VMs.
struct SSeedVMSite {
  long long instanceId = 0;
  std::string name;
  char letter = 'a';
  int vendor = 1;
  // In the instance's proxy order.
  std::vector<SSeedVMProxy> proxies;
};

// A replicated VM: the source VM "src-<id>" on the source site (on, with
// tools, its client, content = id), the DR VM "dst-<id>" on the destination
// site as the last sync left it (off, the same content, one "__OB_BACKUP__"
// snapshot of it and the lab's point-in-time snapshots), the replica, and
// the replication record, which reaches the DR VM through the destination
// site's first proxy and restores through the target.
struct SSeedVMReplication {
  int replicationId = 0;
  int subclientId = 0;
  int taskId = 0;
  long long sourceInstanceId = 0;
  long long destinationInstanceId = 0;
  int targetId = 0;
  std::string sourceName;
  std::string destinationName;
  int sourceClientId = 0;
  int diskCount = 1;  // one tracking id per disk
  // Without, neither the lab nor the record has a DR VM yet (a first sync).
  bool drVM = true;
  int failbackTaskId = 0;  // the failback schedule its property names; 0 none
  App::VSAReplicationStatus syncStatus = App::VSA_REPL_STATUS_IN_SYNC;
  App::VSAFailoverStatus failoverStatus = App::VSA_FAILOVER_STATUS_NONE;
  bool indexingV2 = false;
};

// A replication task: VM restore options with the DR switches and the
// placement of each named replication's DR VM on its destination site.
struct SSeedVMTask {
  int taskId = 0;
  bool deployAtFailover = false;
  bool firstSyncDuringFailover = false;
  int jobBucketing = 0;  // sync jobs of that many replications; 0 none
  bool replicaSyncDirect = false;
  std::vector<int> placedReplicationIds;
};

// A storage policy of a primary copy (id * 10 + 1, also the default) and an
// aux copy (id * 10 + 2), and the subclients that back up to it.
struct SSeedVMStoragePolicy {
  int policyId = 0;
  std::vector<int> subclientIds;
};

// A lab whole. Every replication's instances are sites of the lab.
struct SSeedVMLab {
  std::vector<SSeedVMSite> sites;
  std::vector<SSeedVMTask> tasks;
  // In order: the n-th (from 1) has the n-th address of its sites.
  std::vector<SSeedVMReplication> replications;
  std::vector<SSeedVMStoragePolicy> storagePolicies;
  // Each DR VM's point-in-time snapshots "<DR VM>_<t>" (epoch seconds).
  std::vector<long long> pointsInTime;
};

// One VM of the sample: its priority in its DR group, its replication and
// the names of its source VM and DR VM.
struct SSampleVM {
  int priority;
  int replicationId;
  const char* source;
  const char* destination;
  int disks = 1;
};

class CHypervisorLabSeed {
 public:
  // ---- the sample ("drjob seed")
  // Source site "site-a" (instance 3, proxies 31 and 32), destination site
  // "site-b" (4; 41, 42), and the cloud site "site-c" (5, vendor 4; 51) of
  // the test-failover group.
  static constexpr long long kSampleSourceInstanceId = 3;
  static constexpr long long kSampleDestinationInstanceId = 4;
  static constexpr long long kSampleCloudInstanceId = 5;
  static constexpr const char* kSampleSourceSite = "site-a";
  static constexpr const char* kSampleDestinationSite = "site-b";
  static constexpr const char* kSampleCloudSite = "site-c";
  static constexpr int kSampleCloudVendor = 4;
  // The group "Sample": two VMs first, the application VM after them, of
  // subclient 21 and replication task 11, restored through target 301 and
  // failed back by schedule 14; replication 101 has two disks.
  static constexpr SSampleVM kSampleVMs[] = {
      {1, 101, "db-primary", "db-primary-DR", 2},
      {1, 102, "db-replica", "db-replica-DR"},
      {2, 201, "app-server", "app-server-DR"},
  };
  static constexpr int kSampleSubclientId = 21;
  static constexpr int kSampleTaskId = 11;
  static constexpr int kSampleTargetId = 301;
  static constexpr int kSampleFailbackTaskId = 14;
  // The subclient's storage policy.
  static constexpr int kSampleStoragePolicyId = 5;
  // The test-failover group "SampleTest": two VMs of the source site
  // replicated to the cloud site, one priority, of subclient 22 and task
  // 13, through the recovery target 302.
  static constexpr SSampleVM kSampleTestVMs[] = {
      {1, 401, "web-front", "web-front-DR"},
      {1, 402, "web-cache", "web-cache-DR"},
  };
  static constexpr int kSampleTestSubclientId = 22;
  static constexpr int kSampleTestTaskId = 13;
  static constexpr int kSampleTestTargetId = 302;
  // The client of a source VM: this plus its replication id.
  static constexpr int kSampleSourceClientBase = 1000;
  // The times of each sample DR VM's point-in-time snapshots, whose
  // contents are SamplePointInTimeContent.
  static constexpr long long kSamplePointsInTime[] = {1767225600, 1767229200};
  static constexpr long long SamplePointInTimeContent(int replicationId, int point) {
    return replicationId * 100LL + point + 1;
  }
  static constexpr int PrimaryCopyId(int policyId) { return policyId * 10 + 1; }
  static constexpr int AuxCopyId(int policyId) { return policyId * 10 + 2; }

  static SSeedVMSite SampleSourceSite(int vendor = 1);
  static SSeedVMSite SampleDestinationSite(int vendor = 1);
  static SSeedVMSite SampleCloudSite();
  // The groups "Sample" and "SampleTest" on the three sites, the DR VMs
  // with two point-in-time snapshots each. Both tasks place the DR VMs of
  // "Sample".
  static SSeedVMLab Sample();
  // A sample VM's replication, from the source site to a destination.
  static SSeedVMReplication SampleReplication(const SSampleVM& vm, int subclientId, int taskId,
                                              long long destinationInstanceId, int targetId);

  // ---- descriptions (nothing is stored)
  static SLabInstance Instance(const SSeedVMSite& site);
  // The n-th VM of a site (from 1): off, on the site's host, first
  // datastore and network, size "Standard_B1s", 20 GB disks, address
  // 10.k.(n / 200).(10 + n % 200).
  static SLabVM VM(const SSeedVMSite& site, const std::string& guid, const std::string& name, int n);
  // The site of an instance; nullptr when the lab has none.
  static const SSeedVMSite* SiteOf(const SSeedVMLab& lab, long long instanceId);
  // The replication's record; false when the lab has not its sites.
  static bool Replication(const SSeedVMLab& lab, const SSeedVMReplication& replication,
                          App::VSAReplicationInfo& out);
  static bool Task(const SSeedVMLab& lab, const SSeedVMTask& task, TMMsg::TaskInfo& out);

  // ---- storing
  // The instance (with its client and properties) and its proxies.
  static bool AddSite(const SSeedVMSite& site);
  // The replicated VM as the n-th of its sites: VMs, snapshots, replica.
  static bool AddReplicatedVM(const SSeedVMLab& lab, const SSeedVMReplication& replication, int n,
                              std::string& error);
  // The tasks, the replication records, the storage policies, the sites
  // and the replicated VMs, in that order; false with what could not be
  // stored.
  static bool AddLab(const SSeedVMLab& lab, std::string& error);
};
