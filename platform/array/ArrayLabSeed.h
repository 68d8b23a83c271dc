// Building storage-array DR setups in the array lab in a few calls: the
// replication records of VMs whose datastores lie on array volumes, and
// replica groups (a volume relationship on its destination array, its LUNs
// and its row of the replica-group report). For tests and for "drjob seed";
// each call goes through the owners of the tables and answers false (the
// owner logged why) when something could not be added.
//
// Threads and processes: as the owners (any thread).
#pragma once

#include <string>
#include <vector>

#include "array/ArrayStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

// One datastore of a VM: where its volume's relationship is and what the
// replication record says about the volume.
struct SSeedDatastore {
  std::string name;
  int replicaGroupId = 0;  // 0: the record names no replica group
  // The volume sub-record: the destination volume and array it names (empty
  // and 0: not given, the replica-group report's are used).
  std::string volume;
  int arrayNumber = 0;
};

// A VM replicated by array snapshots, as the management server keeps it.
// The instances go into the source and destination entities.
struct SSeedSnapVM {
  int replicationId = 0;
  int drGroupId = 0;
  std::string name;
  std::string guid;
  std::string destinationName;  // empty: not set
  std::string destinationEsxHost;  // the restore options' ESX host; empty: none
  int subclientId = 0;
  int clientId = 0;
  int applicationId = 0;
  int copyId = 0;
  // The virtualization instances of the VM's sites (0: not given).
  int sourceInstanceId = 0;
  int destinationInstanceId = 0;
  bool toolsInstalled = true;
  std::vector<SSeedDatastore> datastores;
};

// A replica group: one relationship from a source volume to a destination
// volume on the destination array (the array must exist), reported for one
// storage copy of a subclient.
struct SSeedReplicaGroup {
  int replicaGroupId = 0;
  int copyId = 0;
  int subclientId = 0;
  int storagePolicyId = 0;
  int defaultCopyId = 0;
  int pairId = 0;
  int controlHostId = 0;      // the destination array
  std::string sourceArray;
  std::string targetArray;
  std::string sourcePath;     // "vserver:volume"
  std::string targetPath;     // "vserver:volume"
  std::string mirrorState = "snapmirrored";
  // LUN paths of the destination volume, mapped; another copy's report row
  // for a relationship already added adds no second relationship.
  std::vector<std::string> mappedLuns;
};

// A storage-array DR set-up whole: the arrays; one storage policy with its
// primary copy and the array copy the replications are read from, given to
// every subclient of the VMs; the replica groups and VMs of that copy; and
// a first snapshot already copied to it (its backup job the VMs' last
// synced job, one afile per VM).
struct SSeedArrayLab {
  std::vector<SLabArray> arrays;
  int storagePolicyId = 0;
  int primaryCopyId = 0;
  int arrayCopyId = 0;
  // Their copy, storage policy and default copy are the lab's.
  std::vector<SSeedReplicaGroup> replicaGroups;
  // Their copy is the lab's.
  std::vector<SSeedSnapVM> vms;
  long long firstSnapshotJobId = 0;
};

class CArrayLabSeed {
 public:
  // The replication message of a VM (nothing is stored).
  static Api::SnapDRReplicationInfo Replication(const SSeedSnapVM& vm);
  // Stores the VM's replication in its DR group.
  static bool AddVM(const SSeedSnapVM& vm);
  // The report row of the group's copy, and the relationship and LUNs on
  // the destination array unless it already has a relationship of that
  // destination path.
  static bool AddReplicaGroup(const SSeedReplicaGroup& group);
  // Everything of the set-up, in that order; false with what could not be
  // stored.
  static bool AddLab(const SSeedArrayLab& lab, std::string& error);
};
