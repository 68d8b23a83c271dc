// The record of one VM replication (a source VM replicated to a DR VM) as
// the VM replication data manager holds it: the stored replication message,
// and the working data of the DR job (its snapshots, the VM description, the
// VM refresh request and the VM allocation policy).
//
// Every getter answers from the message and never fails: a missing field or
// sub-record gives 0 or an empty text. Setters change the record only; the
// data manager stores changes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "engine/IRepInfo.h"
#include "SDRSnapshotInfo.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class VSARepInfo : public IRepInfo {
 public:
  // Replication properties read or written by the VM DR steps.
  enum {
    kPropDestBackupTaskId = 2204,
    kPropReplicaSyncFromSnap = 2205,
    kPropHostName = 2207,
    kPropSourceSnapMoref = 2209,
    kPropReverseReplicationTaskId = 2212,
    kPropDestSnapMoref = 2213,
    kPropPitSnapshotId = 2214,
    kPropLastDRJobId = 2216,
    kPropCloneVMCount = 2220,
    kPropSourceVMClientId = 2221,
    kPropDestVMIpAddress = 2222,
  };

  VSARepInfo();
  explicit VSARepInfo(const App::VSAReplicationInfo& info);
  VSARepInfo(const VSARepInfo&) = default;
  VSARepInfo& operator=(const VSARepInfo&) = default;
  ~VSARepInfo();

  // ---- IRepInfo ----
  int GetReplId() override;
  int GetCopyPrecedence() override;
  bool IsCopyPrecedenceApplicable() override;
  std::string GetSourceName() override;
  std::string GetSourceGuid() override;
  std::string GetDestinationName() override;
  long GetDestInstanceId() override;
  long GetSrcInstanceId() override;
  std::string GetDestinationGuid() override;
  int GetTaskId() override;
  long GetTargetId() override;
  int GetSubTaskId() override;
  long getSubclientId() override;
  long GetSourceVClientId() override;
  // Always 106: every VM replication is a virtual-server application.
  int GetApplicationId() override;
  // Only a replication whose destination vendor is known can be checked.
  bool RunPreChecks() override;
  bool IsIndexingV2() override;

  // ---- VM replication ----
  // The subclient sub-record of the replicated VM: field 38 when it carries
  // a subclient id, else field 10 when it does; null when neither.
  const CNMessageBase* GetEntity() const;
  std::string GetReplicationGuid();
  App::VSAReplicationStatus GetStatus();
  App::VSAFailoverStatus GetFailoverStatus();
  int GetFlags();
  int64_t GetLastSyncedBackupJobId();
  int32_t GetDestinationVendor();
  int32_t GetSourceVendor();
  bool IsToolsInstalled();
  int GetDestInstanceClientId();
  int GetDestProxyId();
  std::string GetDestProxyName();
  // Appends every tracking-id entry in stored order; false (nothing
  // appended) when there is none.
  bool GetTrackingIds(std::vector<App::VSAReplicationTrakingIdInfo>& out);

  void setSyncStatus(App::VSAReplicationStatus status);
  void setFailoverStatus(App::VSAFailoverStatus status);
  // Restore times are seconds since the epoch and kept in 64 bits.
  void setLastRestoreTime(int64_t time);
  void SetDestinationName(const std::string& name);
  void SetDestinationGuid(const std::string& guid);
  void SetRepInfo(const App::VSAReplicationInfo& info);
  const App::VSAReplicationInfo& GetRepInfoMsg() const { return m_info; }

  // ---- working data of the DR job ----
  Ida::VirtualMachine GetVMInfo() const { return m_vmInfo; }
  void SetVMInfo(const Ida::VirtualMachine& vm) { m_vmInfo = vm; }
  QSMServer::QVirtualMachineReq GetVMRefreshInfo() const { return m_vmRefreshReq; }
  void SetVMRefreshInfo(const QSMServer::QVirtualMachineReq& req) { m_vmRefreshReq = req; }
  Ida::VMAllocationPolicy GetVmAllocationPolicy() const { return m_allocationPolicy; }
  void SetVmAllocationPolicy(const Ida::VMAllocationPolicy& policy) { m_allocationPolicy = policy; }

  // Stores a copy under this replication's id.
  void addSnapshotInfo(SDRSnapshotInfo& snap);
  // The first stored snapshot with the same replication, site and kind;
  // null when none.
  SDRSnapshotInfo* getSnapshotInfo(SDRSnapshotInfo& snap);
  // Removes the first such snapshot; nothing when none matches.
  void removeSnapshotInfo(SDRSnapshotInfo& snap);

  // ---- properties (field 25; the first entry of an id wins) ----
  long GetDestBackupTaskId();
  long GetReverseReplicationTaskId();
  int GetCloneVMCount();
  int GetSourceVMClientId();
  std::string GetHostName();
  std::string GetSourceSnapMorefProp();
  std::string GetDestinationSnapMorefProp();
  // The DR job that last stored the replication's status (2216); 0 when none.
  int64_t GetLastDRJobId();
  // The property's presence alone counts.
  bool IsReplicaSyncFromSnap();
  // Drops every entry of the id: the record follows a property the job
  // removed from the store, so a later step of the job does not act on it.
  void RemoveProperty(int propertyId);

 private:
  // The first property entry of the id; null when none.
  const CNMessageBase* FindProperty(int propertyId) const;

  App::VSAReplicationInfo m_info;
  std::vector<SDRSnapshotInfo> m_snapshots;
  Ida::VirtualMachine m_vmInfo;
  QSMServer::QVirtualMachineReq m_vmRefreshReq;
  Ida::VMAllocationPolicy m_allocationPolicy;
};
