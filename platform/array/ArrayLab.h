// The array lab: the storage arrays and the management server's side of
// storage-array replications, persistent in the management database and
// steered from C++ (tests, "drjob seed").
//
// What it is made of, one owner per table:
// - arrays by control host id (CArrayStore), their volume relationships
//   (CArrayRelationshipStore) and LUNs (CArrayLunStore), which the
//   storage-array library's calls act on (NASSnapUtil, ManageONTAP);
// - the call journal (CArrayCallJournal);
// - the snapshot replications (CSnapReplicationStore), the snapshot
//   archive files (CAfileStore) and the replica-group report rows
//   (CReplicaGroupReportStore), which the management requests and
//   procedures below answer from.
//
// What Register installs (CSimulators::Install):
// - App_ExecuteSP Api::GetSnapDRReplicationReq: the requested replications
//   of the request's DR group that exist, in request order, each with the
//   server's fields: the mount record (field 43) from the afile of its last
//   synced job under that job's id (none when there is no such afile, or
//   while SetMountRecordOmitted holds) and the proxy VM of a test mount;
// - App_ExecuteSP Api::SetSnapDRReplicationReq: stores each record whole,
//   all or none (a record the DR group does not have fails the request);
//   the server's fields stay as they were whatever the request sends;
// - procedure AppGetSnapDRArchiveFiles: the afiles of the input's master
//   jobs, by afile id; each call is journalled with its snapshot-mount flag;
// - procedure MM_SMNetAppOpenReplReport: the report rows of the input
//   entity's copy, by replica group id;
// - the replication source "snap" (CReplicationSources), so a backup of a
//   subclient covers its storage-array VMs.
// The four take the stand-in faults (CStandIns) under the names below:
// kFails and kErrorCode fail the call, kEmptyAnswer answers nothing.
//
// Threads and processes: every member may be called from any thread; each
// change is one write transaction.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"
#include "msg/MsgClasses.h"

// A mount of a snapshot (an afile) by DR, as the hypervisor lab's mount
// operation reports it.
struct SArrayMount {
  int afileId = 0;         // the live-mount source's afile
  int proxyClientId = 0;   // the executing proxy: the mount host
  bool test = false;       // the operation's test flag
  // The VM a test mount brings up; it becomes the replication's proxy VM.
  std::string proxyVMName;
  std::string proxyVMGuid;
};

class CArrayLab {
 public:
  // Stand-in names of the management requests and procedures (faults).
  static constexpr const char* kGetReplications = "GetSnapDRReplication";
  static constexpr const char* kSetReplications = "SetSnapDRReplication";
  static constexpr const char* kArchiveFiles = "AppGetSnapDRArchiveFiles";
  static constexpr const char* kReplicaGroupReport = "MM_SMNetAppOpenReplReport";
  // The replication source's kind.
  static constexpr const char* kSourceKind = "snap";
  // The job simulator's end writer of aux copies (SnapshotCopied for the
  // snapshots a copy brought to a storage-array copy).
  static constexpr const char* kAuxCopyWriterName = "array snapshot copy";

  static void Register();
  // The tables of the lab's stores (a test that needs only this lab).
  static bool CreateTables();

  // While set, replication reads answer no mount record (stored, so it
  // holds for every process until cleared).
  static bool SetMountRecordOmitted(bool omitted);
  static bool MountRecordOmitted();

  // A replication as the read request answers it: the stored record with
  // the server's fields. kMissing when there is none.
  static EStoreResult AnsweredReplication(int replicationId, Api::SnapDRReplicationInfo& out);

  // A backup job's snapshot reached a copy: each replication of the copy
  // that the backup covered gets it as its last synced job and one
  // unmounted afile under it as master job (the VM's child job of the
  // backup as the afile's job, else the backup). A backup the job
  // simulator knows covered the VMs it lists; any other covered every
  // replication of the copy. Again for the same copy and job: no second
  // afile. False (logged, nothing changed) for a job id that does not fit
  // the afile columns or when the lab cannot be read or written.
  static bool SnapshotCopied(int copyId, long long backupJobId);

  // DR mounted an afile (78 on the executing proxy, a failover mount; a
  // test mount also sets the replications' proxy VM) or unmounted it (79,
  // host 0, their proxy VM cleared). False when there is no such afile.
  static bool RecordMount(const SArrayMount& mount);
  static bool RecordUnmount(int afileId);
  // Another process holds the snapshot mounted (59 on that host, not a
  // failover mount).
  static bool SeedForeignMount(int afileId, int hostId);
};
