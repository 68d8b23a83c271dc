#include "sim/Simulators.h"

#include <iterator>

#include "appmgr/ActivityControlStore.h"
#include "appmgr/AppVMStore.h"
#include "appmgr/ApplicationStore.h"
#include "appmgr/ClientActivityStore.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/InstancePropStore.h"
#include "appmgr/RemoteExecStore.h"
#include "appmgr/SubclientActivityStore.h"
#include "appmgr/VirtualAppPropStore.h"
#include "appmgr/VmAllocationPolicyStore.h"
#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ArrayLab.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "array/ReplicaGroupReportStore.h"
#include "array/SnapReplicationStore.h"
#include "array/VolumeSnapStore.h"
#include "db/ZNGlobalParam.h"
#include "jobs/JobRequestHandlers.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/PhaseRowProcedure.h"
#include "jobs/MachineVerdictStore.h"
#include "jobs/PhaseRowStore.h"
#include "jobs/StandIns.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobManagerRows.h"
#include "jobsim/JobNotices.h"
#include "jobsim/JobSimulator.h"
#include "jobsim/SimJobStore.h"
#include "jobsim/StoragePolicyStore.h"
#include "msg/MsgEnums.h"
#include "repl/DeleteOptionsProcedure.h"
#include "repl/ReplicaSyncStore.h"
#include "repl/ReplicationStore.h"
#include "settings/ZNPlatformInfo.h"
#include "tasksim/BackupEffects.h"
#include "tasksim/ManagementQueries.h"
#include "tasksim/ReplicaSyncEffects.h"
#include "tasksim/TaskManagerSim.h"
#include "tasksim/VMStatusStore.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorStore.h"

namespace {

const char kServerHostKnob[] = "dromhall.host";

// The lab can name another management server, or none (an empty name).
bool LabServerName(std::string& name) {
  if (!CLabStore::HasKnob(kServerHostKnob)) return false;
  name = CLabStore::GetKnob(kServerHostKnob);
  return true;
}

// The hypervisor lab's snapshot mounts (55) and unmounts (56) of an afile
// (the request's live-mount source) change the afile in the array lab, in
// the operation's own transaction. A mount without an afile is not a
// storage-array snapshot's; an afile the array lab does not have refuses
// the operation.
const char kArrayMountHook[] = "array";

int RecordArrayMount(const SLabMountEvent& event) {
  if (!event.hasSource || event.afileId <= 0) return 0;
  SSnapAfile afile;
  const EStoreResult read = CAfileStore::Get(event.afileId, afile);
  if (read == EStoreResult::kMissing) return kLabBadRequest;
  if (read != EStoreResult::kOk) return kLabStoreFailed;
  bool recorded = false;
  if (event.opType == TMMsg::VM_OPERATION_SNAP_MOUNT) {
    SArrayMount mount;
    mount.afileId = event.afileId;
    mount.proxyClientId = static_cast<int>(event.proxyId);
    mount.test = event.testFailover;
    mount.proxyVMName = event.vmName;
    mount.proxyVMGuid = event.vmGuid;
    recorded = CArrayLab::RecordMount(mount);
  } else {
    recorded = CArrayLab::RecordUnmount(event.afileId);
  }
  return recorded ? 0 : kLabStoreFailed;
}

// Every stored table of the simulated server, by its one owner: what
// Install describes, CreateTables creates and TableNames lists, and what the
// tree rules check the architecture notes and the sources against.
template <size_t N>
std::vector<std::string> Names(const char* const (&tables)[N]) {
  return std::vector<std::string>(std::begin(tables), std::end(tables));
}

struct SOwnerEntry {
  SSimTableOwner owner;
  void (*describe)();  // null for an owner that creates its tables from its own text
  bool (*create)();
};

const std::vector<SOwnerEntry>& Entries() {
  static const std::vector<SOwnerEntry>* entries = new std::vector<SOwnerEntry>{
      {{"jobs", "CJobStore", "platform/jobs/JobStore", {CJobStore::kTable}}, nullptr, CJobStore::CreateTables},
      {{"lab", "CLabStore", "platform/jobs/LabStore", Names(CLabStore::kTables)}, nullptr, CLabStore::CreateTables},
      {{"tasks", "CTaskStore", "platform/jobs/TaskStore", {CTaskStore::kTable}}, nullptr, CTaskStore::CreateTables},
      {{"phase rows", "CPhaseRowStore", "platform/jobs/PhaseRowStore", {CPhaseRowStore::kTable}},
       CPhaseRowStore::DescribeTables, CPhaseRowStore::CreateTables},
      {{"machine verdicts", "CMachineVerdictStore", "platform/jobs/MachineVerdictStore",
        {CMachineVerdictStore::kTable}},
       nullptr, CMachineVerdictStore::CreateTables},
      {{"replications", "CReplicationStore", "platform/repl/ReplicationStore", Names(CReplicationStore::kTables)},
       CReplicationStore::DescribeTables, CReplicationStore::CreateTables},
      {{"replica-sync replications", "CReplicaSyncStore", "platform/repl/ReplicaSyncStore",
        {CReplicaSyncStore::kTable}},
       nullptr, CReplicaSyncStore::CreateTables},
      {{"clients", "CClientStore", "platform/appmgr/ClientStore", {CClientStore::kTable}},
       CClientStore::DescribeTables, CClientStore::CreateTables},
      {{"client properties", "ClientProperties", "platform/appmgr/ClientProperties", {ClientProperties::kTable}},
       ClientProperties::DescribeTables, ClientProperties::CreateTables},
      {{"application VMs", "CAppVMStore", "platform/appmgr/AppVMStore", {CAppVMStore::kTable}},
       CAppVMStore::DescribeTables, CAppVMStore::CreateTables},
      {{"DR group properties", "CVirtualAppPropStore", "platform/appmgr/VirtualAppPropStore",
        {CVirtualAppPropStore::kTable}},
       CVirtualAppPropStore::DescribeTables, CVirtualAppPropStore::CreateTables},
      {{"VM allocation policies", "CVmAllocationPolicyStore", "platform/appmgr/VmAllocationPolicyStore",
        {CVmAllocationPolicyStore::kTable}},
       CVmAllocationPolicyStore::DescribeTables, CVmAllocationPolicyStore::CreateTables},
      {{"instance properties", "CInstancePropStore", "platform/appmgr/InstancePropStore",
        {CInstancePropStore::kTable}},
       CInstancePropStore::DescribeTables, CInstancePropStore::CreateTables},
      {{"applications", "CApplicationStore", "platform/appmgr/ApplicationStore", {CApplicationStore::kTable}},
       CApplicationStore::DescribeTables, CApplicationStore::CreateTables},
      {{"subclient activity", "CSubclientActivityStore", "platform/appmgr/SubclientActivityStore",
        {CSubclientActivityStore::kTable}},
       nullptr, CSubclientActivityStore::CreateTables},
      {{"client activity", "CClientActivityStore", "platform/appmgr/ClientActivityStore",
        {CClientActivityStore::kTable}},
       nullptr, CClientActivityStore::CreateTables},
      {{"activity control", "CActivityControlStore", "platform/appmgr/ActivityControlStore",
        {CActivityControlStore::kTable}},
       nullptr, CActivityControlStore::CreateTables},
      {{"remote commands", "CRemoteExecStore", "platform/appmgr/RemoteExecStore", Names(CRemoteExecStore::kTables)},
       nullptr, CRemoteExecStore::CreateTables},
      {{"database hosts", "CDatabaseHosts", "platform/appmgr/DatabaseHosts", Names(CDatabaseHosts::kTables)},
       nullptr, CDatabaseHosts::CreateTables},
      {{"global parameters", "ZNGlobalParam", "platform/db/ZNGlobalParam", {ZNGlobalParam::kTable}},
       ZNGlobalParam::DescribeTables, ZNGlobalParam::CreateTables},
      {{"simulated jobs", "CSimJobStore", "platform/jobsim/SimJobStore", Names(CSimJobStore::kTables)}, nullptr,
       CSimJobStore::CreateTables},
      {{"job manager rows", "CJobManagerRows", "platform/jobsim/JobManagerRows", Names(CJobManagerRows::kTables)},
       CJobManagerRows::DescribeTables, CJobManagerRows::CreateTables},
      {{"completion notices", "CJobNotices", "platform/jobsim/JobNotices", {CJobNotices::kTable}}, nullptr,
       CJobNotices::CreateTables},
      {{"storage policies", "CStoragePolicyStore", "platform/jobsim/StoragePolicyStore",
        {CStoragePolicyStore::kTable}},
       nullptr, CStoragePolicyStore::CreateTables},
      {{"VM backup status", "CVMStatusStore", "platform/tasksim/VMStatusStore", Names(CVMStatusStore::kTables)},
       nullptr, CVMStatusStore::CreateTables},
      {{"hypervisor lab", "CHypervisorStore", "platform/vm/HypervisorStore", Names(CHypervisorStore::kTables)},
       nullptr, CHypervisorStore::CreateTables},
      {{"arrays", "CArrayStore", "platform/array/ArrayStore", {CArrayStore::kTable}}, nullptr,
       CArrayStore::CreateTables},
      {{"array relationships", "CArrayRelationshipStore", "platform/array/ArrayRelationshipStore",
        {CArrayRelationshipStore::kTable}},
       nullptr, CArrayRelationshipStore::CreateTables},
      {{"array LUNs", "CArrayLunStore", "platform/array/ArrayLunStore", Names(CArrayLunStore::kTables)}, nullptr,
       CArrayLunStore::CreateTables},
      {{"array calls", "CArrayCallJournal", "platform/array/ArrayCallJournal", {CArrayCallJournal::kTable}},
       nullptr, CArrayCallJournal::CreateTables},
      {{"snap replications", "CSnapReplicationStore", "platform/array/SnapReplicationStore",
        {CSnapReplicationStore::kTable}},
       nullptr, CSnapReplicationStore::CreateTables},
      {{"afiles", "CAfileStore", "platform/array/AfileStore", {CAfileStore::kTable}}, nullptr,
       CAfileStore::CreateTables},
      {{"replica group reports", "CReplicaGroupReportStore", "platform/array/ReplicaGroupReportStore",
        {CReplicaGroupReportStore::kTable}},
       nullptr, CReplicaGroupReportStore::CreateTables},
      {{"volume snapshots", "CVolumeSnapStore", "platform/array/VolumeSnapStore", {CVolumeSnapStore::kTable}},
       nullptr, CVolumeSnapStore::CreateTables},
  };
  return *entries;
}

}  // namespace

void CSimulators::Install() {
  // Every table the system reaches through its bindings is described by its
  // owner here, before anything can ask for it.
  for (const SOwnerEntry& e : Entries()) {
    if (e.describe != nullptr) e.describe();
  }
  CJobRequestHandlers::Register();
  CReplicationStore::Register();
  CReplicaSyncStore::Register();
  CDatabaseHosts::Register();
  CPhaseRowProcedure::Register();
  CTaskStore::Register();
  CJobSimulator::Register();
  CTaskManagerSim::Register();
  CBackupEffects::Register();
  CReplicaSyncEffects::Register();
  CManagementQueries::Register();
  CActivityControlStore::Register();
  CStandIns::Register();
  CDeleteOptionsProcedure::Register();
  CHypervisorLab::Register();
  CArrayLab::Register();
  CHypervisorLab::MountHooks().Register(kArrayMountHook, RecordArrayMount);
  ZNPlatformInfo::SetServerNameSource(LabServerName);
}

bool CSimulators::CreateTables(std::string& error) {
  for (const SOwnerEntry& e : Entries()) {
    if (!e.create()) {
      error = std::string("cannot create the tables of the ") + e.owner.what;
      return false;
    }
  }
  return true;
}

std::vector<std::string> CSimulators::TableNames() {
  std::vector<std::string> names;
  for (const SOwnerEntry& e : Entries()) names.insert(names.end(), e.owner.tables.begin(), e.owner.tables.end());
  return names;
}

std::vector<SSimTableOwner> CSimulators::Owners() {
  std::vector<SSimTableOwner> owners;
  for (const SOwnerEntry& e : Entries()) owners.push_back(e.owner);
  return owners;
}
