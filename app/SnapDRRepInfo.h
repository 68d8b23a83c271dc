// The record of one VM replicated by storage-array snapshots: the
// replication message (Api::SnapDRReplicationInfo), the state of the VM's
// snapshot mount and the VM description a VM-information step reported.
// GetBaseRepInfo hands out the storage-array message and GetFieldTable says
// where it keeps each meaning, so the inherited getters and setters act on
// it.
//
// Threads: one record is read by its machine's worker while others change
// it (the data manager writes the relationship status of a replica group
// into every record that uses the group, reloads replace records, status
// stores copy the whole message). Every operation here, and every inherited
// accessor (through MessageGuard), holds the record's own lock for its read
// or write, and hands out copies, never references into the message. The
// lock is the innermost one: nothing is called while it is held.
#pragma once

#include <stdint.h>

#include <set>
#include <string>
#include <vector>

#include "AppRepInfo.h"
#include "drorch/ZnCriticalSection.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

// The snapshot mount of a replication's VM, as the archive-file rows (or the
// replication's mount record) give it.
struct SDRMountInfo {
  // Mount states: 59 and 78 mounted (78 by DR), 39 and 79 not mounted.
  static constexpr int kMounted = 59;
  static constexpr int kMountedByDR = 78;
  static constexpr int kNotMounted = 39;
  static constexpr int kUnmounted = 79;

  int64_t afileId = 0;  // a 32-bit id
  uint64_t masterJobId = 0;
  uint64_t jobId = 0;
  std::string firstText;   // the VM's name as the archive file gives it
  std::string secondText;
  int32_t vmClientId = 0;
  int32_t vmAppId = 0;
  int32_t mountStatus = 0;
  int32_t mountHostId = 0;  // the proxy client holding the mount
  bool failoverMount = true;
};

// Which job of a mount GetMountJobId answers.
enum EJobLvl : int32_t {
  JOB_LVL_MASTER = 1,  // the snapshot's master (backup) job
  JOB_LVL_CHILD = 2,   // the VM's own job
};

class SnapDRRepInfo : public AppRepInfo {
 public:
  SnapDRRepInfo();
  // A record holding the message as SetRepInfo stores it.
  explicit SnapDRRepInfo(const Api::SnapDRReplicationInfo& info);
  SnapDRRepInfo(const SnapDRRepInfo& other);
  SnapDRRepInfo& operator=(const SnapDRRepInfo& other);
  ~SnapDRRepInfo() override;

  // ---- overrides ----
  std::string GetSourceName() override;
  std::string GetDestinationName() override;
  std::string GetDestinationGuid() override;
  // Only for the inherited accessors, which hold the record's lock; the
  // inherited GetLSReplicationInfo hands the message out unguarded, so
  // readers on other threads take a copy (GetRepInfo) instead.
  CNMessageBase& GetBaseRepInfo() override DR_REQUIRES(m_lock);
  const SAppRepFieldTable& GetFieldTable() const override;
  // Where the storage-array message keeps each meaning.
  static const SAppRepFieldTable& SnapFieldTable();

  // ---- the message ----
  // Stores a copy; a message with a mount record (field 43) also gives the
  // mount information its afile, job, texts, VM ids, host and status, and
  // the last synced job as master job. Without one the mount information
  // stays as it was.
  void SetRepInfo(const Api::SnapDRReplicationInfo& info);
  Api::SnapDRReplicationInfo GetRepInfo();
  void SetDestinationName(const std::string& name);
  void SetDestinationGUID(const std::string& guid);
  int GetCopyId();
  bool IsToolsInstalled();
  // The ESX host of the restore options (field 5); empty without one.
  std::string GetDestEsxHost();
  void GetRestoreOpts(TMMsg::VMWAdvancedRestoreOptions& out);
  // The DR job that stored the record's statuses last (0 when none has):
  // what tells a restart that its own earlier attempt left a status.
  int64_t GetLastDRJobId();
  void SetLastDRJobId(int64_t jobId);
  // The DR job that stored the test failover status last: a failover or
  // an undo stores its own status over the record between a test job's
  // attempts, and is no owner of the test status that job left under way.
  // A record stored before this was kept names it as GetLastDRJobId.
  int64_t GetLastTestDRJobId();
  void SetLastTestDRJobId(int64_t jobId);

  // ---- datastore volumes ----
  std::vector<Api::DatastoreReplication> GetDatastoreVolumes();
  // Clears out, then one entry per distinct source datastore name, in the
  // order of the datastore volumes (the first of a name wins).
  void GetSourceDatastores(std::vector<VirtualServer::VMDatastoreInfo>& out);
  unsigned GetDSCount();
  unsigned GetSourceDSCount();
  // Every volume's relationship broken (1); true without volumes.
  bool IsAllVolumeRelationsBroken();
  // Some volume's relationship broken (1), as the record last stored it.
  bool HasBrokenVolumeRelationship();
  // The replica groups the volumes name (a volume without one names none).
  std::set<int> GetReplicaGroupIds();
  // Writes the relationship status into every volume of the group; the
  // number of volumes written.
  int SetVolumeRelationshipStatus(int replicaGroupId, E_VOLUME_RELATIONSHIP_STATUS status);

  // ---- the snapshot mount ----
  SDRMountInfo GetMountInfo();
  void SetMountInfo(const SDRMountInfo& mount);
  int GetAfileId();
  int GetVMAppId();
  int GetVMAfileMountStatus();
  int GetVMAfileMountHostId();
  bool IsAfileMountedFromDR();
  bool IsVMAfileMounted();
  bool IsVMAfileUnMounted();
  // Mounted, by a known host.
  bool CanUnmount();
  void SetVMAfileMounted(int hostId);
  void SetVMAfileUnMounted();
  // JOB_LVL_MASTER the master job, JOB_LVL_CHILD the job (0 when not known,
  // never another job); any other level the last synced job.
  uint64_t GetMountJobId(EJobLvl level);
  // Records the master job as the one associated job (kind 59); nothing
  // without a master job.
  void SetMountedMasterJob();
  // The first associated job; job id 0 and no kind when there is none.
  App::ReplicasyncAssociatedJob GetMountedMasterJob();

  // The VM description a VM-information step last reported for the DR VM.
  Ida::VirtualMachine GetVMInfo();
  void SetVMInfo(const Ida::VirtualMachine& vm);

 protected:
  ZnCriticalSection* MessageGuard() override DR_RETURN_CAPABILITY(m_lock) { return &m_lock; }

 private:
  mutable ZnCriticalSection m_lock;
  SDRMountInfo m_mountInfo DR_GUARDED_BY(m_lock);
  Api::SnapDRReplicationInfo m_info DR_GUARDED_BY(m_lock);
  Ida::VirtualMachine m_vmInfo DR_GUARDED_BY(m_lock);
};
