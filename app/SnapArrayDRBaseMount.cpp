// The snapshot mount or unmount of one machine through a proxy, framed by
// the pre-mount hook (the afile query), the datastore locks and the
// post-mount hook (the post-failover step that makes the mounted VM the DR
// VM). The machine's mount record says whether anything must be done; the
// mount proxy table keeps a datastore's mounts on the proxy that holds it.
#include <string>
#include <vector>

#include "SnapArrayDRBase.h"
#include "SnapDRRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/ZnCriticalSectionLock.h"
#include "services/DRAppManager.h"
#include "vm/VmOperation.h"
#include "vsa/VSADRBase.h"

namespace {

using VMEntity = ZnEntities::VirtualMachineEntity;

CNMessageBase& RequestVM(Ida::VMOpReq& request) { return request.MutableMsg(Ida::VMOpReq::kVirtualMachine); }

void SetRequestEntity(Ida::VMOpReq& request, const std::string& name, const std::string& guid) {
  CNMessageBase& entity = RequestVM(request).MutableMsg(Ida::VirtualMachine::kEntity);
  entity.SetString(VMEntity::kName, name);
  entity.SetString(VMEntity::kGuid, guid);
}

std::string RequestVMName(const Ida::VMOpReq& request) {
  return request.GetMsg(Ida::VMOpReq::kVirtualMachine).GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kName);
}

int ResponseClient(const Ida::VMOpResp& response) {
  return static_cast<int>(response.GetInt64(Ida::VMOpResp::kProxyClientId));
}

}  // namespace

bool CanRetryVMOperation(SDROperationCtx& ctx, Ida::VMOpResp& response) {
  if (!DRHelper::IsSnapMount(ctx.phase)) return false;
  if (response.GetMsg(Ida::VMOpResp::kError).GetInt32(ZNGui::GenericResp::kErrorCode) !=
      VmOperation::kMountedThroughOtherProxy) {
    return false;
  }
  EvEvent event;
  event.Debug("CanRetryVMOperation", "Snap is mounted using a proxy client other than [%d].", ResponseClient(response));
  return true;
}

bool CSnapArrayDRBase::PreVMMountOperation(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (m_jobManager->IsQuitFlagSet()) {
    RecordMountNotRun(ctx, DRJobId(), rep, "DR job quit flag is set");
    return false;
  }
  if (rep == nullptr) return false;
  bool queried = true;
  if (IsMultiSnapImageMountAllowed()) {
    m_event.DebugLvl(6, "PreVMMountOperation", "Allow Multiple Snap Image Mount is ENABLED.");
    if (IsQuerySnapDRAfiles(ctx)) {
      m_event.DebugLvl(6, "PreVMMountOperation", "Re-querying afiles for mount per vm for replication [%d]",
                       info->GetReplId());
      queried = QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_MOUNT_AFILES, true);
    }
  }
  if (queried && rep->GetAfileId() != 0) return true;
  if (DRHelper::IsSnapUnmount(ctx.phase) &&
      rep->GetMountedMasterJob().GetInt64(App::ReplicasyncAssociatedJob::kJobId) < 1) {
    m_event.Error("PreVMMountOperation", "No mount job found for replication [%d].", info->GetReplId());
    return true;
  }
  m_event.Error("PreVMMountOperation", "Error querying afiles for mount for replication [%d]", info->GetReplId());
  RecordPhase(ctx, DRJobId(), DRHelper::IsSnapUnmount(ctx.phase) ? rep->GetDestinationName() : rep->GetSourceName(),
              "Error querying afiles for mount for replication", Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  return false;
}

bool CSnapArrayDRBase::VMMountOperation(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr || m_vsaDRBase == nullptr) return false;
  const std::string phaseName = DRHelper::GetPhaseNameStr(ctx.phase);
  std::string vmName = rep->GetSourceName();
  std::string vmGuid = rep->GetSourceGuid();
  std::string message;
  if (ctx.ignoreQuit) {
    m_event.Debug("VMMountOperation", "This is Clean-up [%s] for replication [%d] for vm snap [%d].", phaseName.c_str(),
                  info->GetReplId(), rep->GetAfileId());
  }
  bool done = false;
  if (DRHelper::IsSnapUnmount(ctx.phase)) {
    if (!_LoadUnmountReq(ctx, rep, vmName, vmGuid, message, done)) return false;
    if (done) return true;
  } else if (DRHelper::IsSnapMount(ctx.phase)) {
    if (!_LoadMountReq(ctx, rep, vmName, vmGuid, message, done)) return false;
    if (done) return true;
  }
  TMMsg::VMProvisioningOption option;
  Ida::VMOpReq request;
  Ida::VMOpResp response;
  if (!PopulateSnapOpReqOptions(ctx, info, option, request)) {
    RecordPhase(ctx, DRJobId(), vmName, message, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
    return false;
  }
  option.SetInt32(TMMsg::VMProvisioningOption::kOperationType, DRHelper::GetVMPhaseMapping(ctx.phase));
  SetRequestEntity(request, vmName, vmGuid);
  std::vector<Ida::VMDatastoreReplication> datastores;
  DRHelper::ConstructSiteDatastores(rep->GetDatastoreVolumes(), datastores);
  CNMessageBase& vm = RequestVM(request);
  vm.ListClear(Ida::VirtualMachine::kDatastoreReplications);
  vm.TouchField(Ida::VirtualMachine::kDatastoreReplications);
  for (const Ida::VMDatastoreReplication& d : datastores) vm.AppendMsg(Ida::VirtualMachine::kDatastoreReplications, d);
  ctx.jobId = static_cast<int64_t>(rep->GetMountJobId(JOB_LVL_MASTER));
  bool retry = true;
  SetProxy(ctx, request, retry);
  m_event.Debug("VMMountOperation", "Begin [%s] VM [%s] afile [%d] for replication [%d]", phaseName.c_str(),
                vmName.c_str(), rep->GetAfileId(), info->GetReplId());
  if (!m_vsaDRBase->PerformRemoteVMop(ctx, option, request, response, retry, &CanRetryVMOperation)) {
    m_event.Debug("VMMountOperation", "[%s] on VM [%s] [%s] afile [%d] failed for replication [%d]", phaseName.c_str(),
                  vmName.c_str(), vmGuid.c_str(), rep->GetAfileId(), info->GetReplId());
    return false;
  }
  _LoadMountOpResp(ctx, rep, vmName, vmGuid, response);
  m_event.Debug("VMMountOperation", "[%s] on VM [%s] [%s] afile [%d] successful for replication [%d]",
                phaseName.c_str(), vmName.c_str(), vmGuid.c_str(), rep->GetAfileId(), info->GetReplId());
  return true;
}

bool CSnapArrayDRBase::_LoadUnmountReq(SDROperationCtx& ctx, SnapDRRepInfo* rep, std::string& vmName,
                                       std::string& vmGuid, std::string message, bool& done) {
  vmName = rep->GetDestinationName();
  vmGuid = rep->GetDestinationGuid();
  if (rep->CanUnmount()) return true;
  m_event.Error("_LoadUnmountReq", "Marking  [%s] as [SUCCESS] for replication [%d] as vm snap [%d] is not mounted.",
                DRHelper::GetPhaseNameStr(ctx.phase).c_str(), rep->GetReplId(), rep->GetAfileId());
  RecordPhase(ctx, DRJobId(), vmName, message, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  rep->SetVMAfileUnMounted();
  done = true;
  return true;
}

bool CSnapArrayDRBase::_LoadMountReq(SDROperationCtx& ctx, SnapDRRepInfo* rep, std::string& vmName,
                                     std::string& vmGuid, std::string message, bool& done) {
  if (!rep->IsVMAfileMounted()) return true;
  if (!rep->IsAfileMountedFromDR() && rep->GetVMAfileMountStatus() != SDRMountInfo::kMountedByDR) {
    m_event.Debug("_LoadMountReq", "VM afile [%d] is already mounted by a NON-DR process. Proceeding to fail operation ...",
                  rep->GetAfileId());
    return false;
  }
  if (IsTestFailoverMount(ctx.phase)) {
    if (rep->GetProxyVMGuid().empty()) {
      m_event.Debug("_LoadMountReq", "Cannot find mounted GUID for VM [%s]. Proceeding to fail operation...",
                    vmName.c_str());
      return false;
    }
    vmName = rep->GetProxyVMName();
    vmGuid = rep->GetProxyVMGuid();
  } else {
    // The DR mount registered the VM under the name its request gave it, the
    // source VM's: a DR VM name stored with the replication names no VM the
    // mount made, and a rerun looking for it would fail a mounted machine.
    rep->SetDestinationName(vmName);
    rep->SetDestinationGUID(std::string());
    // The VM-information step sets its own phase; the mount's stays.
    SDROperationCtx describe = OneMachine(ctx, ctx.GetInfo());
    if (!__OP(describe, ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, false)) {
      m_event.Debug("_LoadMountReq", "Cannot find mounted GUID for VM [%s]. Proceeding to fail operation...",
                    vmName.c_str());
      return false;
    }
    const Ida::VirtualMachine described = rep->GetVMInfo();
    if (described.Has(Ida::VirtualMachine::kEntity)) {
      vmName = described.GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kName);
      vmGuid = described.GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kGuid);
    }
  }
  rep->SetDestinationName(vmName);
  rep->SetDestinationGUID(vmGuid);
  // A mount an earlier run of the job made, whose process died before it
  // stored the record, is this job's now: the record names its master job
  // as a mount of this run would, or the undo would query the afile of an
  // earlier mount and leave this one, and its DR VM, in place.
  rep->SetMountedMasterJob();
  const uint64_t masterJob = rep->GetMountJobId(JOB_LVL_MASTER);
  m_event.Debug("_LoadMountReq", "VM [%s] [%s] afile [%d] is already mounted. Mount JobId [%lu]",
                rep->GetDestinationName().c_str(), rep->GetDestinationGuid().c_str(), rep->GetAfileId(),
                static_cast<unsigned long>(masterJob));
  if (!vmGuid.empty() && !vmName.empty() && masterJob != 0) {
    SDRPhaseCtx phase(static_cast<int64_t>(masterJob), ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, ctx.site, true);
    phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, vmName);
    phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientGuid, vmGuid);
    m_vsaDRBase->UpdateVMPhase(ctx, vmName, phase, message, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  }
  done = true;
  return true;
}

bool CSnapArrayDRBase::_LoadMountOpResp(SDROperationCtx& ctx, SnapDRRepInfo* rep, std::string& vmName,
                                        std::string& vmGuid, Ida::VMOpResp& response) {
  if (response.ListSize(Ida::VMOpResp::kVirtualMachines) > 0 && DRHelper::IsSnapMount(ctx.phase)) {
    const Ida::VirtualMachine& vm = response.GetListMsgAs<Ida::VirtualMachine>(Ida::VMOpResp::kVirtualMachines, 0);
    std::vector<Ida::VMDatastoreReplication> vmSide;
    for (size_t i = 0; i < vm.ListSize(Ida::VirtualMachine::kDatastoreReplications); ++i) {
      vmSide.push_back(vm.GetListMsgAs<Ida::VMDatastoreReplication>(Ida::VirtualMachine::kDatastoreReplications, i));
    }
    std::vector<Api::DatastoreReplication> volumes = rep->GetDatastoreVolumes();
    DRHelper::UpdateSiteDatastores(vmSide, volumes, ctx.site, ctx.phase);
    vmName = vm.GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kName);
    vmGuid = vm.GetMsg(Ida::VirtualMachine::kEntity).GetString(VMEntity::kGuid);
    rep->SetDestinationName(vmName);
    rep->SetDestinationGUID(vmGuid);
    rep->SetMountedMasterJob();
    rep->SetVMAfileMounted(ResponseClient(response));
    UpdateDatastoreToMountProxyMapping(ctx);
  }
  if (DRHelper::IsSnapUnmount(ctx.phase)) rep->SetVMAfileUnMounted();
  m_event.Debug("_LoadMountOpResp", "[%s] on VM [%s] [%s] afile [%d] executed using client [%d]",
                DRHelper::GetPhaseNameStr(ctx.phase).c_str(), vmName.c_str(), vmGuid.c_str(), rep->GetAfileId(),
                ResponseClient(response));
  return true;
}

bool CSnapArrayDRBase::PopulateSnapOpReqOptions(SDROperationCtx& ctx, CDRInfo* info,
                                                TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request) {
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr || m_vsaDRBase == nullptr || !m_vsaDRBase->LoadVMOpReqOptions(ctx, info, request, option)) {
    m_event.Error("PopulateSnapOpReqOptions", "Error loading VMOpReq options");
    return false;
  }
  Ida::LiveMountResp mount;
  CNMessageBase& source = mount.MutableMsg(Ida::LiveMountResp::kMountSource);
  const int copyId = rep->GetCopyId();
  const uint64_t jobId = rep->GetMountJobId(JOB_LVL_CHILD);
  const int afileId = rep->GetAfileId();
  const int vmAppId = rep->GetVMAppId();
  source.SetInt32(Ida::TdfsCtx::kCopyId, copyId);
  source.SetInt64(Ida::TdfsCtx::kJobId, static_cast<int64_t>(jobId));
  source.SetInt32(Ida::TdfsCtx::kAfileId, afileId);
  source.MutableMsg(Ida::TdfsCtx::kSubclient).SetInt32(ZnEntities::SubClientEntity::kApplicationId, vmAppId);
  m_event.Debug("PopulateSnapOpReqOptions", "VM Mount afile [%d] appId [%d] jobId [%lu] copyId [%d]", afileId, vmAppId,
                static_cast<unsigned long>(jobId), copyId);
  if (jobId == 0 || afileId == 0 || vmAppId == 0) {
    m_event.Error("PopulateSnapOpReqOptions", "Invalid snapReq Options. ERROR");
    return false;
  }
  option.AppendMsg(TMMsg::VMProvisioningOption::kLiveMounts, mount);
  const std::string esxHost = rep->GetDestEsxHost();
  if (esxHost.empty()) {
    m_orchestrator->LogMessage("PopulateSnapOpReqOptions",
                               "No ESX host specified for mount. Please check ESX host mapping in failover group.",
                               ZNDR::DR_EVENT_MAJOR, true);
    return false;
  }
  RequestVM(request).MutableMsg(Ida::VirtualMachine::kPlacement).SetString(Ida::VMPlacement::kEsxHost, esxHost);
  return true;
}

bool CSnapArrayDRBase::SetProxy(SDROperationCtx& ctx, Ida::VMOpReq& request, bool& retry) {
  SnapDRRepInfo* rep = GetSnapRepInfo(ctx.GetInfo());
  int64_t proxyId = 0;
  if (ctx.phase == Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER) {
    const int64_t instanceId =
        request.GetMsg(Ida::VMOpReq::kInstance).GetInt64(ZnEntities::PolicyInstanceFields::kInstanceId);
    int dbInstanceId = 0;
    App::MemberServer server;
    if (DRInfoUtils::ToDBInstanceId(instanceId, dbInstanceId) && m_appManager->SelectProxy(dbInstanceId, server)) {
      proxyId = server.GetMsg(App::MemberServer::kClientEntity).GetInt64(ZnEntities::GenericEntity::kClientId);
    }
  } else if (DRHelper::IsSnapMount(ctx.phase) && rep != nullptr) {
    std::vector<VirtualServer::VMDatastoreInfo> datastores;
    rep->GetSourceDatastores(datastores);
    ZnCriticalSectionLock lock(&m_mountProxyLock);
    for (const VirtualServer::VMDatastoreInfo& d : datastores) {
      auto found = m_dsMountProxyMap.find(d.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName));
      if (found == m_dsMountProxyMap.end()) continue;
      proxyId = found->second;
      retry = false;
      break;
    }
  } else if (DRHelper::IsSnapUnmount(ctx.phase) && rep != nullptr) {
    proxyId = rep->GetVMAfileMountHostId();
    if (proxyId >= 1) retry = false;
  }
  if (proxyId >= 1) request.SetInt64(Ida::VMOpReq::kProxyClientId, proxyId);
  return true;
}

void CSnapArrayDRBase::UpdateDatastoreToMountProxyMapping(SDROperationCtx& ctx) {
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr) continue;
    const int host = rep->GetVMAfileMountHostId();
    if (host <= 0) continue;
    std::vector<VirtualServer::VMDatastoreInfo> datastores;
    rep->GetSourceDatastores(datastores);
    ZnCriticalSectionLock lock(&m_mountProxyLock);
    for (const VirtualServer::VMDatastoreInfo& d : datastores) {
      m_dsMountProxyMap.emplace(d.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName), host);
    }
  }
}

bool CSnapArrayDRBase::PostVMMountOperation(SDROperationCtx& ctx) {
  const Api::VirtualAppJobPhaseType mountPhase = ctx.phase;
  if (!DRHelper::IsSnapMount(mountPhase)) return true;
  CDRInfo* info = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr || m_vsaDRBase == nullptr) return false;
  if (m_jobManager->IsQuitFlagSet()) {
    if (m_jobManager->IsJobKillIssued()) {
      m_event.Error("PostVMMountOperation", "Unmounting snap as job kill is issued");
      CleanupMount(info, mountPhase);
    }
    return false;
  }
  m_orchestrator->Refresh();
  ctx.phase = Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER;
  const std::string phaseName = DRHelper::GetPhaseNameStr(ctx.phase);
  const std::string vmName = rep->GetDestinationName();
  const std::string vmGuid = rep->GetDestinationGuid();
  TMMsg::VMProvisioningOption option;
  Ida::VMOpReq request;
  Ida::VMOpResp response;
  if (!m_vsaDRBase->LoadVMOpReqOptions(ctx, info, request, option)) {
    m_event.Error("PostVMMountOperation", "Error loading VMOpReq options");
    return false;
  }
  if (!DRInfoUtils::IsToolsInstalled(info)) {
    m_event.Debug("PostVMMountOperation", "Tools not found for vm [%s]", RequestVMName(request).c_str());
    request.SetInt32(Ida::VMOpReq::kFlags, 2);
  }
  RequestVM(request)
      .MutableMsg(Ida::VirtualMachine::kPlacement)
      .SetString(Ida::VMPlacement::kEsxHost, ctx.site == Api::DR_SITE_DESTINATION ? rep->GetDestEsxHost() : "");
  CNMessageBase& restore = option.AddMsg(TMMsg::VMProvisioningOption::kVirtualServerRestoreOptions);
  TMMsg::VMWAdvancedRestoreOptions advanced;
  rep->GetRestoreOpts(advanced);
  restore.MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
      .AppendMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, advanced);
  const long instanceId =
      static_cast<long>(request.GetMsg(Ida::VMOpReq::kInstance).GetInt64(ZnEntities::PolicyInstanceFields::kInstanceId));
  std::string fbrServer;
  if (m_appManager->QueryFBRServerForInstance(instanceId, fbrServer) && !fbrServer.empty()) {
    option.SetString(TMMsg::VMProvisioningOption::kFBRServer, fbrServer);
    m_event.Debug("PostVMMountOperation", "Set FBR server [%s] for instance [%ld]", fbrServer.c_str(), instanceId);
  }
  option.SetInt32(TMMsg::VMProvisioningOption::kOperationType,
                  DRHelper::GetVMPhaseMapping(Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER));
  SetRequestEntity(request, vmName, vmGuid);
  bool retry = true;
  SetProxy(ctx, request, retry);
  option.SetInt32(TMMsg::VMProvisioningOption::kTestFailover, IsTestFailoverMount(mountPhase) ? 1 : 0);
  m_event.Debug("PostVMMountOperation", "Begin [%s] VM [%s] afile [%d] for replication [%d]", phaseName.c_str(),
                vmName.c_str(), rep->GetAfileId(), info->GetReplId());
  if (!m_vsaDRBase->PerformVMOp(ctx, option, request, response, retry)) {
    m_event.Debug("PostVMMountOperation", "[%s] on VM [%s] [%s] afile [%d] failed for replication [%d]",
                  phaseName.c_str(), vmName.c_str(), vmGuid.c_str(), rep->GetAfileId(), info->GetReplId());
    CleanupMount(info, mountPhase);
    return false;
  }
  // A kill that came while the step ran: the machine did not complete, and a
  // killed run leaves no mount behind.
  if (m_jobManager->IsQuitFlagSet() && m_jobManager->IsJobKillIssued()) {
    m_event.Error("PostVMMountOperation", "Unmounting snap as job kill is issued");
    RecordPhase(ctx, DRJobId(), vmName, "Unmounting snap as job kill is issued", Api::VIRTUAL_APP_PHASE_STATE_FAILED);
    CleanupMount(info, mountPhase);
    return false;
  }
  m_event.Debug("PostVMMountOperation", "[%s] on VM [%s] [%s] afile [%d] successful for replication [%d] using client [%d]",
                phaseName.c_str(), vmName.c_str(), vmGuid.c_str(), rep->GetAfileId(), info->GetReplId(),
                ResponseClient(response));
  m_event.Debug("PostVMMountOperation", "DR complete for replication [%d] VM [%s] => [SUCCESS]", info->GetReplId(),
                vmName.c_str());
  info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  return true;
}
