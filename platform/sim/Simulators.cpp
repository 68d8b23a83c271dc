#include "sim/Simulators.h"

#include "appmgr/ActivityControlStore.h"
#include "appmgr/ClientActivityStore.h"
#include "jobs/StandIns.h"
#include "appmgr/AppVMStore.h"
#include "appmgr/ApplicationStore.h"
#include "array/AfileStore.h"
#include "array/ArrayLab.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/InstancePropStore.h"
#include "appmgr/RemoteExecStore.h"
#include "appmgr/SubclientActivityStore.h"
#include "appmgr/VirtualAppPropStore.h"
#include "appmgr/VmAllocationPolicyStore.h"
#include "db/ZNGlobalParam.h"
#include "jobs/JobRequestHandlers.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/PhaseRowProcedure.h"
#include "jobs/PhaseRowStore.h"
#include "jobs/TaskStore.h"
#include "jobsim/JobManagerRows.h"
#include "jobsim/JobSimulator.h"
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

}  // namespace

void CSimulators::Install() {
  // Every table the system reaches through its bindings is described by its
  // owner here, before anything can ask for it.
  CApplicationStore::DescribeTables();
  CAppVMStore::DescribeTables();
  CClientStore::DescribeTables();
  ClientProperties::DescribeTables();
  CInstancePropStore::DescribeTables();
  CJobManagerRows::DescribeTables();
  CPhaseRowStore::DescribeTables();
  CReplicationStore::DescribeTables();
  CVirtualAppPropStore::DescribeTables();
  CVmAllocationPolicyStore::DescribeTables();
  ZNGlobalParam::DescribeTables();
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
  struct SOwner {
    const char* name;
    bool (*create)();
  };
  static const SOwner kOwners[] = {
      {"jobs", CJobStore::CreateTables},
      {"lab", CLabStore::CreateTables},
      {"tasks", CTaskStore::CreateTables},
      {"phase rows", CPhaseRowStore::CreateTables},
      {"replications", CReplicationStore::CreateTables},
      {"replica-sync replications", CReplicaSyncStore::CreateTables},
      {"clients", CClientStore::CreateTables},
      {"applications", CApplicationStore::CreateTables},
      {"application VMs", CAppVMStore::CreateTables},
      {"instance properties", CInstancePropStore::CreateTables},
      {"DR group properties", CVirtualAppPropStore::CreateTables},
      {"VM allocation policies", CVmAllocationPolicyStore::CreateTables},
      {"global parameters", ZNGlobalParam::CreateTables},
      {"remote commands", CRemoteExecStore::CreateTables},
      {"database hosts", CDatabaseHosts::CreateTables},
      {"client properties", ClientProperties::CreateTables},
      {"subclient activity", CSubclientActivityStore::CreateTables},
      {"client activity", CClientActivityStore::CreateTables},
      {"job simulator", CJobSimulator::CreateTables},
      {"activity control", CActivityControlStore::CreateTables},
      {"VM backup status", CVMStatusStore::CreateTables},
      {"hypervisor lab", CHypervisorLab::CreateTables},
      {"array lab", CArrayLab::CreateTables},
  };
  for (const SOwner& owner : kOwners) {
    if (!owner.create()) {
      error = std::string("cannot create the tables of the ") + owner.name;
      return false;
    }
  }
  return true;
}

std::vector<std::string> CSimulators::TableNames() {
  std::vector<std::string> names = {CJobStore::kTable,        CTaskStore::kTable,
                                    CPhaseRowStore::kTable,   CClientStore::kTable,
                                    ClientProperties::kTable, CSubclientActivityStore::kTable,
                                    CActivityControlStore::kTable,   CReplicaSyncStore::kTable,
                                    CApplicationStore::kTable,       CAppVMStore::kTable,
                                    CInstancePropStore::kTable,      CVirtualAppPropStore::kTable,
                                    CVmAllocationPolicyStore::kTable, ZNGlobalParam::kTable,
                                    CClientActivityStore::kTable};
  for (const char* t : CLabStore::kTables) names.push_back(t);
  for (const char* t : CReplicationStore::kTables) names.push_back(t);
  for (const char* t : CRemoteExecStore::kTables) names.push_back(t);
  for (const char* t : CDatabaseHosts::kTables) names.push_back(t);
  for (const std::string& t : CJobSimulator::TableNames()) names.push_back(t);
  for (const char* t : CVMStatusStore::kTables) names.push_back(t);
  for (const std::string& t : CHypervisorLab::TableNames()) names.push_back(t);
  for (const std::string& t : CArrayLab::TableNames()) names.push_back(t);
  return names;
}
