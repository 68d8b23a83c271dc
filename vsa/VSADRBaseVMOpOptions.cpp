// What a VM operation request carries for its machine, by operation type,
// and what a successful answer changes in the machine's replication record.
#include <string>

#include "VSADRBase.h"
#include "VSARepInfo.h"
#include "app/SnapDRRepInfo.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"
#include "settings/ZNPlatformInfo.h"
#include "vm/VmAuxOps.h"

namespace {

using VMEntity = ZnEntities::VirtualMachineEntity;

CNMessageBase& EntityOf(Ida::VMOpReq& request) {
  return request.MutableMsg(Ida::VMOpReq::kVirtualMachine).MutableMsg(Ida::VirtualMachine::kEntity);
}

const CNMessageBase& EntityOf(const Ida::VMOpReq& request) {
  return request.GetMsg(Ida::VMOpReq::kVirtualMachine).GetMsg(Ida::VirtualMachine::kEntity);
}

// The priority's VM-sequence entry of the replication; null when none.
const CNMessageBase* SequenceEntry(CDRInfo* info) {
  SDRPriority* priority = info->GetPriority();
  if (priority == nullptr) return nullptr;
  const TMMsg::VMGroup& group = priority->vmGroup;
  for (size_t i = 0; i < group.ListSize(TMMsg::VMGroup::kVMSequence); ++i) {
    const CNMessageBase& entry = group.GetListMsg(TMMsg::VMGroup::kVMSequence, i);
    if (entry.GetInt64(TMMsg::VMDependencyOrder::kReplicationId) == info->GetReplId()) return &entry;
  }
  return nullptr;
}

// The snapshot record a snapshot step left for the context's site and kind.
SDRSnapshotInfo* SnapshotRecord(VSARepInfo* vsa, const SDROperationCtx& ctx) {
  SDRSnapshotInfo key;
  key.replId = vsa->GetReplId();
  key.site = ctx.site;
  key.snapType = ctx.snapType;
  return vsa->getSnapshotInfo(key);
}

}  // namespace

// =============================================================================
// Requests
// =============================================================================

bool CVSADRBase::LoadVMOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, Ida::VMOpReq& request,
                                    TMMsg::VMProvisioningOption& option) {
  request.MutableMsg(Ida::VMOpReq::kInstance)
      .SetInt64(ZnEntities::PolicyInstanceFields::kInstanceId,
                DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, ctx.site));
  option.SetInt32(TMMsg::VMProvisioningOption::kOperationType, DRHelper::GetVMPhaseMapping(ctx.phase));
  // An asynchronous operation outlives the DR job, so it names none.
  if (!IsVMOperationAsyncRequired(ctx)) request.SetInt64(Ida::VMOpReq::kJobId, m_jobId);
  Api::DRSite site = ctx.site;
  if (!DRInfoUtils::PopulateVMOpReq(request, site, info)) {
    m_event.Error("LoadVMOpReqOptions", "Incomplete information to populate VMOpReq");
    return false;
  }
  return _LoadVMOpReqOptions(ctx, info, request, option);
}

bool CVSADRBase::_LoadVMOpReqOptions(SDROperationCtx& ctx, CDRInfo* info, Ida::VMOpReq& request,
                                     TMMsg::VMProvisioningOption& option) {
  switch (option.GetInt32(TMMsg::VMProvisioningOption::kOperationType)) {
    case TMMsg::VM_OPERATION_CREATE_VM:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading Create VM Req options");
      return LoadCreateVMReqOptions(info, request);
    case TMMsg::VM_OPERATION_SHUTDOWN:
    case TMMsg::VM_OPERATION_POWER_OFF: {
      const CNMessageBase& entity = EntityOf(request);
      if (entity.GetString(VMEntity::kGuid).empty() && entity.GetString(VMEntity::kName).empty()) {
        m_event.Error("_LoadVMOpReqOptions", "VM name and GUID not available for [%s]",
                      DRHelper::GetPhaseNameStr(ctx.phase).c_str());
        return false;
      }
      return true;
    }
    case TMMsg::VM_OPERATION_CREATE_SNAPSHOT:
    case TMMsg::VM_OPERATION_REVERT_SNAPSHOT:
    case TMMsg::VM_OPERATION_DELETE_SNAPSHOT:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading VM Snap Req options");
      return LoadVMSnapReqOptions(info, option, request, ctx);
    case TMMsg::VM_OPERATION_CLONE_VM:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading Clone VM Req options");
      return LoadCloneVMReqOptions(info, request);
    case TMMsg::VM_OPERATION_POWER_ON:
      if (!DRInfoUtils::IsToolsInstalled(info)) {
        m_event.Debug("_LoadVMOpReqOptions", "Tools not found for vm [%s]",
                      EntityOf(static_cast<const Ida::VMOpReq&>(request)).GetString(VMEntity::kName).c_str());
        request.SetInt32(Ida::VMOpReq::kFlags, 2);
      }
      return true;
    case TMMsg::VM_OPERATION_REFRESH_VM:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading Refresh VM Req options");
      return LoadRefreshDRVMReqOptions(info, request);
    case TMMsg::VM_OPERATION_SCRIPT_EXECUTION:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading VM Script Req options");
      return LoadVMScriptReqOptions(info, request, ctx.preScript);
    case TMMsg::VM_OPERATION_CREATE_DR_VM:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading Create DR VM Req options");
      return LoadCreateDRVMReqOptions(info, request);
    case TMMsg::VM_OPERATION_POST_VM_FAILOVER:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading Post VM Failover Req options");
      return _SetDatacenterInfoInVMOpReq(info, request);
    case TMMsg::VM_OPERATION_DELETE_DR_VM:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "Loading Delete DR VM Req options");
      return LoadDeleteDRVMReqOptions(info, request);
    default:
      m_event.DebugLvl(2, "_LoadVMOpReqOptions", "No op specific params loaded");
      return true;
  }
}

bool CVSADRBase::LoadCreateVMReqOptions(CDRInfo* info, Ida::VMOpReq& request) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) {
    m_event.Error("LoadCreateVMReqOptions", "Failed to load create DR-VM options");
    return false;
  }
  request.SetInt32(Ida::VMOpReq::kFlag13, 1);
  request.SetMsg(Ida::VMOpReq::kVirtualMachine, vsa->GetVMInfo());
  return true;
}

bool CVSADRBase::LoadCloneVMReqOptions(CDRInfo* info, Ida::VMOpReq& request) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) {
    m_event.Error("LoadCloneVMReqOptions", "Failed to load clone DR-VM options");
    return false;
  }
  request.SetMsg(Ida::VMOpReq::kVirtualMachine, vsa->GetVMInfo());
  CNMessageBase& source = request.MutableMsg(Ida::VMOpReq::kCloneSourceVM);
  source.SetString(VMEntity::kName, vsa->GetDestinationName());
  source.SetString(VMEntity::kGuid, vsa->GetDestinationGuid());
  if (m_appManager != nullptr && m_appManager->IsCreateDRVMOptionEnabled(vsa->GetTaskId())) {
    source.SetString(VMEntity::kGuid, "");
  }
  // Without a placement the clone still goes out, only without disk details.
  if (_SetDatacenterInfoInVMOpReq(info, request)) DRInfoUtils::PopulateVMOpReqToFillDiskDetails(info, request);
  CNMessageBase& entity = EntityOf(request);
  entity.SetString(VMEntity::kName, DRInfoUtils::GetCloneVMName(info));
  entity.SetString(VMEntity::kGuid, "");
  request.SetInt32(Ida::VMOpReq::kFlag13, 1);
  request.SetInt32(Ida::VMOpReq::kFlag18, 1);
  const Ida::VMAllocationPolicy policy = vsa->GetVmAllocationPolicy();
  request.SetInt32(Ida::VMOpReq::kFlag19, policy.GetInt32(Ida::VMAllocationPolicy::kFlag98) != 0 ? 1 : 0);
  request.SetInt32(Ida::VMOpReq::kRestoreAsManagedVM,
                   policy.GetInt32(Ida::VMAllocationPolicy::kRestoreAsManagedVM) != 0 ? 1 : 0);
  return true;
}

bool CVSADRBase::LoadRefreshDRVMReqOptions(CDRInfo* info, Ida::VMOpReq& request) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) {
    m_event.Error("LoadRefreshDRVMReqOptions", "Failed to load refresh DR-VM options");
    return false;
  }
  CNMessageBase& vm = request.MutableMsg(Ida::VMOpReq::kVirtualMachine);
  vm.SetInt64(Ida::VirtualMachine::kTargetId, vsa->GetTargetId());
  vm.MutableMsg(Ida::VirtualMachine::kPlacement).SetString(Ida::VMPlacement::kEsxHost, vsa->GetHostName());
  request.SetInt32(Ida::VMOpReq::kFlags, 1);
  return true;
}

bool CVSADRBase::LoadCreateDRVMReqOptions(CDRInfo* info, Ida::VMOpReq& request) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa != nullptr && m_appManager != nullptr && m_appManager->IsCreateDRVMOptionEnabled(vsa->GetTaskId())) {
    request.MutableMsg(Ida::VMOpReq::kVirtualMachine).SetInt32(Ida::VirtualMachine::kReplicationId, vsa->GetReplId());
    if (_SetDatacenterInfoInVMOpReq(info, request) && DRInfoUtils::PopulateVMOpReqToFillDiskDetails(info, request)) {
      return true;
    }
  }
  m_event.Error("LoadCreateDRVMReqOptions", "Failed to load create DR-VM options");
  return false;
}

bool CVSADRBase::LoadDeleteDRVMReqOptions(CDRInfo* info, Ida::VMOpReq& request) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  // A first-time sync during failover creates the DR VM whatever the task's
  // deploy option says; its clean-up deletes it again.
  if (vsa != nullptr && m_appManager != nullptr &&
      (m_appManager->IsCreateDRVMOptionEnabled(vsa->GetTaskId()) || m_appManager->IsFirstTimeSyncDuringFailoverSet()) &&
      _SetDatacenterInfoInVMOpReq(info, request)) {
    return true;
  }
  m_event.Error("LoadDeleteDRVMReqOptions", "Failed to load Delete DR VM options");
  return false;
}

bool CVSADRBase::_SetDatacenterInfoInVMOpReq(CDRInfo* info, Ida::VMOpReq& request) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  std::string esxHost, datastore, datacenter, cluster, newVMName;
  if (vsa == nullptr || m_appManager == nullptr ||
      !m_appManager->GetDatacenterInfoFromTask(vsa->GetTaskId(), vsa->GetSourceName(), esxHost, datastore, datacenter,
                                               cluster, newVMName)) {
    m_event.Error("_SetDatacenterInfoInVMOpReq",
                  "Failed to set ESX, data store, data center and cluster name in VMOpREq");
    return false;
  }
  EntityOf(request).SetString(VMEntity::kName, newVMName.empty() ? vsa->GetDestinationName() : newVMName);
  CNMessageBase& placement =
      request.MutableMsg(Ida::VMOpReq::kVirtualMachine).MutableMsg(Ida::VirtualMachine::kPlacement);
  placement.SetString(Ida::VMPlacement::kEsxHost, esxHost);
  placement.SetString(Ida::VMPlacement::kDatacenter, datacenter);
  placement.SetString(Ida::VMPlacement::kCluster, cluster);
  placement.MutableMsg(Ida::VMPlacement::kDatastore).SetString(ZnEntities::DataStoreEntity::kDatastoreName, datastore);
  return true;
}

bool CVSADRBase::LoadVMScriptReqOptions(CDRInfo* info, Ida::VMOpReq& request, bool preScript) {
  if (info == nullptr || !info->IsScriptsConfigured(!preScript) || !request.Has(Ida::VMOpReq::kVirtualMachine)) {
    m_event.Debug("LoadVMScriptReqOptions", "Scripts info incomplete");
    return false;
  }
  const CNMessageBase* entry = SequenceEntry(info);
  if (entry == nullptr) {
    m_event.Error("LoadVMScriptReqOptions", "Failed to load VM script options.");
    return false;
  }
  const CNMessageBase& script =
      entry->GetMsg(preScript ? TMMsg::VMDependencyOrder::kPreScript : TMMsg::VMDependencyOrder::kPostScript);
  CNMessageBase& settings = request.MutableMsg(Ida::VMOpReq::kVirtualMachine)
                                .MutableMsg(Ida::VirtualMachine::kGuestOptions)
                                .MutableMsg(Ida::VMGuestOptions::kScriptSettings);
  settings.SetInt32(Ida::VMScriptSettings::kFlag, script.GetInt32(TMMsg::ScriptFields::kFlag) != 0 ? 1 : 0);
  settings.SetMsg(Ida::VMScriptSettings::kSubRecord8, script.GetMsg(TMMsg::ScriptFields::kSubRecord7));
  settings.SetString(Ida::VMScriptSettings::kScriptText, script.GetString(TMMsg::ScriptFields::kScriptText));
  settings.SetMsg(Ida::VMScriptSettings::kSubRecord5, script.GetMsg(TMMsg::ScriptFields::kSubRecord4));
  return true;
}

bool CVSADRBase::LoadVMSnapReqOptions(CDRInfo* info, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                      SDROperationCtx& ctx) {
  Ida::VMSnapOpReq snapRequest;
  const std::string description = GetSnapshotDescription();
  VSARepInfo* vsa = GetVSARepInfo(info);
  SDRSnapshotInfo* record = vsa != nullptr ? SnapshotRecord(vsa, ctx) : nullptr;
  if (record == nullptr) {
    m_event.Error("LoadVMSnapReqOptions", "No snapshot record for replication [%d] on site [%s]",
                  info != nullptr ? info->GetReplId() : 0, DRHelper::GetSiteStr(ctx.site).c_str());
    return false;
  }
  CNMessageBase& snapshot = snapRequest.MutableMsg(Ida::VMSnapOpReq::kSnapshot);
  snapshot.SetString(Ida::VMSnapshot::kDescription, description);
  snapshot.SetString(Ida::VMSnapshot::kName, record->snapName);
  std::string moref;
  const int opType = option.GetInt32(TMMsg::VMProvisioningOption::kOperationType);
  if (opType == TMMsg::VM_OPERATION_REVERT_SNAPSHOT || opType == TMMsg::VM_OPERATION_DELETE_SNAPSHOT) {
    if (!ctx.useStoredSnapRef) {
      moref = record->snapRef;
    } else if (ctx.site == Api::DR_SITE_SOURCE) {
      moref = vsa->GetSourceSnapMorefProp();
    } else if (ctx.site == Api::DR_SITE_DESTINATION) {
      moref = vsa->GetDestinationSnapMorefProp();
    }
    snapshot.MutableMsg(Ida::VMSnapshot::kReference).SetString(Ida::SnapshotReference::kMoref, moref);
    DRInfoUtils::PopulateAdditionalVMSnapOpReq(info, request);
  }
  m_event.Debug("LoadVMSnapReqOptions",
                "Snapshot operation with snapshot Name [%s], snapshot description [%s], snapshot Moref [%s] requesting",
                record->snapName.c_str(), description.c_str(), moref.c_str());
  if (!request.Has(Ida::VMOpReq::kVirtualMachine) ||
      !request.GetMsg(Ida::VMOpReq::kVirtualMachine).Has(Ida::VirtualMachine::kEntity)) {
    m_event.Debug("LoadVMSnapReqOptions", "VMInfo information incomplete in VMOpReq");
    return false;
  }
  const CNMessageBase& entity = EntityOf(static_cast<const Ida::VMOpReq&>(request));
  CNMessageBase& snapVM = snapshot.MutableMsg(Ida::VMSnapshot::kVMEntity);
  snapVM.SetString(VMEntity::kGuid, entity.GetString(VMEntity::kGuid));
  snapVM.SetString(VMEntity::kName, entity.GetString(VMEntity::kName));
  option.AppendMsg(TMMsg::VMProvisioningOption::kSnapOpRequests, snapRequest);
  return true;
}

std::string CVSADRBase::GetSnapshotDescription() {
  return "Snapshot created by Korlith for DR job " + std::to_string(m_jobId) + " from " +
         ZNPlatformInfo::getPhysicalMachine();
}

// =============================================================================
// Responses
// =============================================================================

bool CVSADRBase::LoadVMOpRespOptions(CDRInfo* info, Ida::VMOpResp& response, SDROperationCtx& ctx) {
  switch (ctx.phase) {
    case Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT:
    case Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT:
    case Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT:
      m_event.DebugLvl(2, "LoadVMOpRespOptions", "Load VM Snap Op resp options");
      LoadVMSnapRespOptions(info, response, ctx);
      break;
    case Api::VIRTUAL_APP_PHASE_CREATE_VIRTUAL_MACHINE:
    case Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE:
    case Api::VIRTUAL_APP_PHASE_CLONE_VM:
      m_event.DebugLvl(2, "LoadVMOpRespOptions", "Load Clone VM Op resp options");
      LoadCreateVMRespOptions(info, response);
      break;
    case Api::VIRTUAL_APP_PHASE_GET_VM_INFO:
      m_event.DebugLvl(2, "LoadVMOpRespOptions", "Load Get VM Info Op resp options");
      LoadGetVMInfoVMRespOptions(info, response);
      break;
    case Api::VIRTUAL_APP_PHASE_REFRESH_VM:
      m_event.DebugLvl(2, "LoadVMOpRespOptions", "Load Refresh VM Info Op resp options");
      LoadRefreshVMRespOptions(info, response);
      break;
    default:
      m_event.DebugLvl(2, "LoadVMOpRespOptions", "No op specific params loaded");
      break;
  }
  return true;
}

bool CVSADRBase::LoadVMSnapRespOptions(CDRInfo* info, Ida::VMOpResp& response, SDROperationCtx& ctx) {
  if (ctx.phase != Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT || response.ListSize(Ida::VMOpResp::kSnapshots) == 0) {
    return true;
  }
  std::string moref = response.GetListMsg(Ida::VMOpResp::kSnapshots, 0)
                          .GetMsg(Ida::VMSnapshot::kReference)
                          .GetString(Ida::SnapshotReference::kMoref);
  if (moref.empty()) return true;
  SetSnapMoref(info, ctx, moref, false);
  if (!PersistSnapMoref(info, ctx.site, moref)) m_event.Error("LoadVMSnapRespOptions", "Error persisting snap moref !");
  return true;
}

bool CVSADRBase::LoadCreateVMRespOptions(CDRInfo* info, Ida::VMOpResp& response) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || !response.Has(Ida::VMOpResp::kCreatedVM)) return true;
  const CNMessageBase& created = response.GetMsg(Ida::VMOpResp::kCreatedVM);
  vsa->SetDestinationName(created.GetString(VMEntity::kName));
  vsa->SetDestinationGuid(created.GetString(VMEntity::kGuid));
  return true;
}

bool CVSADRBase::LoadGetVMInfoVMRespOptions(CDRInfo* info, Ida::VMOpResp& response) {
  if (info == nullptr || response.ListSize(Ida::VMOpResp::kVirtualMachines) == 0) return true;
  const Ida::VirtualMachine& vm = response.GetListMsgAs<Ida::VirtualMachine>(Ida::VMOpResp::kVirtualMachines, 0);
  if (VSARepInfo* vsa = GetVSARepInfo(info)) {
    vsa->SetVMInfo(vm);
  } else if (SnapDRRepInfo* snap = DRInfoUtils::GetSnapRepInfo(info)) {
    snap->SetVMInfo(vm);
  }
  return true;
}

bool CVSADRBase::LoadRefreshVMRespOptions(CDRInfo* info, Ida::VMOpResp& response) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || !response.Has(Ida::VMOpResp::kError)) return true;
  const CNMessageBase& error = response.GetMsg(Ida::VMOpResp::kError);
  if (error.GetInt32(ZNGui::GenericResp::kErrorCode) != 0 || !error.GetString(ZNGui::GenericResp::kErrorText).empty()) {
    return true;
  }
  QSMServer::QVirtualMachineReq refresh;
  if (VmAuxOps::getVMInfo(vsa->GetDestinationGuid(), refresh) != 0) {
    m_event.Error("LoadRefreshVMRespOptions", "RefreshVMInfo failed for VM [%s] [%s]",
                  vsa->GetDestinationName().c_str(), vsa->GetDestinationGuid().c_str());
  }
  vsa->SetVMRefreshInfo(refresh);
  return true;
}

bool CVSADRBase::SetSnapMoref(CDRInfo* info, SDROperationCtx& ctx, std::string& moref, bool) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  SDRSnapshotInfo* record = vsa != nullptr ? SnapshotRecord(vsa, ctx) : nullptr;
  if (record == nullptr) return false;
  record->snapRef = moref;
  return true;
}
