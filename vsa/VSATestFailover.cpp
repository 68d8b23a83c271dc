#include "VSATestFailover.h"

#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "VSARepInfo.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ZNClient.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "engine/ZnCriticalSectionLock.h"
#include "services/DRAppManager.h"
#include "vm/VmAuxOps.h"

namespace {

const int kRefreshWaitMs = 30000;

bool IsStepSucceeded(CDRInfo* info, Api::VirtualAppJobPhaseType phase) {
  return info != nullptr &&
         info->GetPhaseState(phase, Api::DR_SITE_DESTINATION) == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
}

}  // namespace

CVSATestFailover::CVSATestFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator) { m_event.setJobId(m_jobId); }

CVSATestFailover::~CVSATestFailover() { m_event.DebugLvl(2, "~CVSATestFailover", "Invoking CVSATestFailover destructor"); }

// =============================================================================
// The priority and its subclient groups
// =============================================================================

bool CVSATestFailover::ProcessPriority(const SDRPriority& priority) {
  if (m_orchestrator == nullptr) return false;
  m_event.Debug("ProcessPriority", "Priority [%d] is a [VSA Replication] type priority", priority.order);
  std::vector<SDROSubclient> subclients;
  return m_orchestrator->ProcessSubclientsInPriority(priority, subclients, this);
}

bool CVSATestFailover::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  ctx.site = Api::DR_SITE_DESTINATION;
  if (!PerformCloneDRVM(ctx)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_REFRESH_VM_DESTINATION, true)) return false;
  if (!SetCloneVMClientProperties(ctx)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, true)) return false;
  SDROperationCtx booted(ctx);
  m_orchestrator->FilterSuccessList(booted);
  for (CDRInfo* info : booted.drInfoList) MarkSuccess(info, Api::DR_SITE_DESTINATION);
  return true;
}

bool CVSATestFailover::PerformCloneDRVM(SDROperationCtx& ctx) {
  if (!IsCloneOpValid(ctx)) return false;
  RemoveEarlierRunClones(ctx);
  std::unordered_map<long, std::vector<CDRInfo*>> taskMap;
  DRInfoUtils::GetDRInfoTaskMap(taskMap, ctx.drInfoList);
  std::vector<int> replicationIds;
  DRInfoUtils::GetReplIds(ctx.drInfoList, replicationIds);
  for (const auto& task : taskMap) {
    long long backupJobId = ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0;
    std::vector<JobManager::JobInfo> running;
    m_jobManager->WaitonRunningSyncJobs(task.first, backupJobId, replicationIds, running);
  }
  if (!__OP(ctx, ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, true)) return false;
  if (!SetVMConfigSettingsForCloneVM(ctx)) return false;
  if (!__OP(ctx, ZNDR::BATCH_OP_CREATE_VM_DESTINATION, true)) return false;
  // What each record names before the clone step: the DR VM.
  VMNames drVMs;
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa != nullptr) drVMs[info->GetReplId()] = std::make_pair(vsa->GetDestinationName(), vsa->GetDestinationGuid());
  }
  if (!__OP(ctx, ZNDR::BATCH_OP_CLONE_VM_DESTINATION, true)) return false;
  FailClonesWithoutVM(ctx, drVMs);
  SDROperationCtx cloned(ctx);
  m_orchestrator->FilterSuccessList(cloned);
  if (cloned.drInfoList.empty()) return false;
  m_jobManager->Wait(kRefreshWaitMs, "REFRESH VM timeout [30s].");
  return true;
}

void CVSATestFailover::FailClonesWithoutVM(SDROperationCtx& ctx, const VMNames& before) {
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    auto drVM = before.find(info != nullptr ? info->GetReplId() : 0);
    if (vsa == nullptr || drVM == before.end() || !IsStepSucceeded(info, Api::VIRTUAL_APP_PHASE_CLONE_VM)) continue;
    const std::string guid = vsa->GetDestinationGuid();
    if (!guid.empty() && guid != drVM->second.second) continue;
    // The record still names the DR VM (or no VM at all): nothing after this
    // may act on it, and the clone, if the proxy made one, bears the name
    // the request gave it.
    m_event.Error("FailClonesWithoutVM", "Clone of VM [%s] [%s] for replication [%d] reported no new VM. Clone failed",
                  drVM->second.first.c_str(), drVM->second.second.c_str(), info->GetReplId());
    vsa->SetDestinationName(drVM->second.first);
    vsa->SetDestinationGuid(drVM->second.second);
    SDRPhaseCtx phase(m_jobId, Api::VIRTUAL_APP_PHASE_CLONE_VM, Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                      Api::DR_SITE_DESTINATION, true);
    phase.message = "The clone was reported created without the new VM";
    phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, DRInfoUtils::GetCloneVMName(info));
    info->UpdatePhase(phase);
    RemoveClone(info);
  }
}

// =============================================================================
// The clone's settings
// =============================================================================

bool CVSATestFailover::SetVMConfigSettingsForCloneVM(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> kept;
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) continue;
    Ida::VMAllocationPolicy policy;
    if (!QueryVMAllocationPolicy(info, policy)) continue;
    vsa->SetVmAllocationPolicy(policy);
    Ida::VirtualMachine vm = vsa->GetVMInfo();
    SetVMSizeSettingsForCloneVM(info, vm);
    // Once, on the description that is kept: each call adds an adapter.
    if (!SetNetworkSettingsForCloneVM(info, vm)) {
      m_event.Error("SetVMConfigSettingsForCloneVM", "Failed to set network settings for clone VM ");
      continue;
    }
    vm.SetString(Ida::VirtualMachine::kText4, vm.GetString(Ida::VirtualMachine::kText46));
    vsa->SetVMInfo(vm);
    kept.push_back(info);
  }
  ctx.drInfoList.swap(kept);
  return !ctx.drInfoList.empty();
}

bool CVSATestFailover::QueryVMAllocationPolicy(CDRInfo* info, Ida::VMAllocationPolicy& policy) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  const long targetId = vsa->GetTargetId();
  if (m_appManager->QueryVMAllocationPolicy(targetId, policy)) return true;
  m_event.Error("QueryVMAllocationPolicy", "Failed to query VM allocation policy Id [%ld]", targetId);
  const long taskId = vsa->GetTaskId();
  if (m_appManager->QueryVMAllocationPolicyFromTask(taskId, policy)) return true;
  m_event.Error("QueryVMAllocationPolicy", "Failed to query VM allocation policy from task Id [%ld]", taskId);
  return false;
}

void CVSATestFailover::SetVMSizeSettingsForCloneVM(CDRInfo* info, Ida::VirtualMachine& vm) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return;
  std::string size;
  DRInfoUtils::SelectTestFailoverVMSize(info, vsa->GetVmAllocationPolicy(), size);
  m_event.Debug("SetVMSizeSettingsForCloneVM", "Test failover VM size [%s] set for clone VM", size.c_str());
  vm.MutableMsg(Ida::VirtualMachine::kInstanceType)
      .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, size);
}

bool CVSATestFailover::SetNetworkSettingsForCloneVM(CDRInfo* info, Ida::VirtualMachine& vm) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  std::string network, subnet;
  DRInfoUtils::SelectTestFailoverNetwork(info, vsa->GetVmAllocationPolicy(), network, subnet);
  CNMessageBase& card =
      vm.MutableMsg(Ida::VirtualMachine::kGuestOptions).AddMsg(Ida::VMGuestOptions::kNetworkCards);
  card.SetString(Ida::NetworkCard::kNetworkName, network);
  card.AddMsg(Ida::NetworkCard::kSubnets).SetString(Ida::SubnetInfo::kCloneSubnet, subnet);
  card.SetInt32(Ida::NetworkCard::kFlag4, 1);
  vm.SetInt32(Ida::VirtualMachine::kFlag14, 1);
  m_event.Debug("SetNetworkSettingsForCloneVM", "Network [%s], subnet [%s] applied for clone VM", network.c_str(),
                subnet.c_str());
  return true;
}

bool CVSATestFailover::SetCloneVMClientProperties(SDROperationCtx& ctx) {
  const int userId = m_jobManager->GetUserID();
  std::vector<CDRInfo*> kept;
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) continue;
    const std::string cloneName = vsa->GetDestinationName();
    const std::string cloneGuid = vsa->GetDestinationGuid();
    const std::string sourceName = vsa->GetSourceName();
    int cloneClientId = 0;
    int sourceClientId = 0;
    ZNClient(cloneName.c_str()).getClientId(cloneClientId);
    ZNClient(sourceName.c_str()).getClientId(sourceClientId);
    m_event.Debug("SetCloneVMClientProperties", "DR Clone VM [%s] ClientId [%d] , Source VM [%s] ClientId [%d]",
                  cloneName.c_str(), cloneClientId, sourceName.c_str(), sourceClientId);
    // Nothing may be written for a client nobody found: id 0 is no client.
    if (cloneClientId <= 0) {
      m_event.Error("SetCloneVMClientProperties", "Client of clone VM [%s] [%s] not found. Removing the clone",
                    cloneName.c_str(), cloneGuid.c_str());
      RemoveClone(info);
      continue;
    }
    int expiration = 0;
    if (!DRInfoUtils::GetVMExpirationTime(info, expiration)) expiration = 0;
    m_event.Debug("SetCloneVMClientProperties",
                  "Set Expiration time [%d] source VM Client Id [%d] Is Test DR Machine [true] for VM [%s][%s]",
                  expiration, sourceClientId, cloneName.c_str(), cloneGuid.c_str());
    ClientProperties properties(cloneClientId);
    if (properties.setVMReserveUntil(expiration) != 0 || properties.setSourceVMClient(sourceClientId) != 0 ||
        properties.setIsTestDRMachine(true) != 0 || properties.setVMCreatedBy(userId) != 0) {
      m_event.Error("SetCloneVMClientProperties", "Failed to set the test DR machine properties of client Id [%d]",
                    cloneClientId);
    }
    if (VmAuxOps::SetVMClientOwner(userId, cloneClientId, cloneGuid) != 0) {
      m_event.Error("SetCloneVMClientProperties", "Failed to set user [%d] associations for client Id [%d]", userId,
                    cloneClientId);
    }
    if (!m_appManager->UpdatePolicyIdInAppVMTbl(cloneClientId, vsa->GetTargetId())) {
      m_event.Error("SetCloneVMClientProperties", "Failed to update allocation policy Id in App_VM tbl");
      RemoveClone(info);
      continue;
    }
    kept.push_back(info);
  }
  ctx.drInfoList.swap(kept);
  return !ctx.drInfoList.empty();
}

bool CVSATestFailover::IsCloneVMSuccessful(CDRInfo* info) {
  if (IsStepSucceeded(info, Api::VIRTUAL_APP_PHASE_CLONE_VM)) return true;
  if (info == nullptr || !m_jobManager->IsJobRestarted()) return false;
  return DRInfoUtils::GetPhaseStatusForReplication(m_jobManager,
                                                   Api::VIRTUAL_APP_PHASE_CLONE_VM,
                                                   info) == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
}

// =============================================================================
// Admission, switches and clean-up
// =============================================================================

bool CVSATestFailover::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  if (IsRestartedRun() && status == App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS) return true;
  return DRInfoUtils::IsFailoverStatusValid(status, AdmissionType());
}

bool CVSATestFailover::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  return status == App::VSA_REPL_STATUS_IN_SYNC || status == App::VSA_REPL_STATUS_SYNC_IN_PROGRESS;
}

void CVSATestFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  ctx.markRowAsFailedOnFailure = true;
  switch (DRInfoUtils::GetBatchOp(ctx)) {
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION:
    case ZNDR::BATCH_OP_CREATE_VM_DESTINATION:
    case ZNDR::BATCH_OP_CLONE_VM_DESTINATION:
    case ZNDR::BATCH_OP_REFRESH_VM_DESTINATION:
      ctx.updatePhaseInfoTbl = true;
      ctx.raisePendingCauseOnFailure = true;
      break;
    default:
      ctx.updatePhaseInfoTbl = false;
      break;
  }
}

bool CVSATestFailover::CleanupDROperationThread(SDROperationCtx& ctx) {
  // The removal runs during a quit too, and a failure in it starts no
  // further clean-up.
  ctx.ignoreQuit = true;
  for (CDRInfo* info : ctx.drInfoList) RemoveClone(info);
  ctx.ignoreQuit = false;
  return true;
}

bool CVSATestFailover::Cleanup(const SDRPriority& priority) {
  std::vector<CDRInfo*> machines;
  m_orchestrator->GetDRInfoListForPriority(priority, machines, 0);
  // A machine dropped between steps (a quit) or by a step that is no VM
  // operation leaves its clone behind; it goes now.
  for (CDRInfo* info : machines) {
    if (info->IsSuccess() || !IsStepSucceeded(info, Api::VIRTUAL_APP_PHASE_CLONE_VM) ||
        IsCloneRemoved(info->GetReplId())) {
      continue;
    }
    RemoveClone(info);
  }
  return true;
}

bool CVSATestFailover::IsCloneRemoved(int replicationId) {
  ZnCriticalSectionLock lock(&m_cloneLock);
  return m_removedClones.count(replicationId) > 0;
}

void CVSATestFailover::RemoveEarlierRunClones(SDROperationCtx& ctx) {
  if (!IsRestartedRun()) return;
  const std::string job = "-" + std::to_string(m_jobId);
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    std::vector<std::pair<std::string, std::string>> vms;
    if (vsa == nullptr || !ListInstanceVMs(info, Api::DR_SITE_DESTINATION, vms)) continue;
    // "<DR VM>-Clone-<pid>-<job>": an earlier run of this job made it under
    // the pid of its own process (this run has made none yet, so even one
    // that bears this process's pid is the earlier run's).
    const std::string prefix = vsa->GetDestinationName() + "-Clone-";
    const std::string drName = vsa->GetDestinationName();
    const std::string drGuid = vsa->GetDestinationGuid();
    for (const auto& vm : vms) {
      const std::string& name = vm.first;
      if (name.size() <= prefix.size() + job.size() || name.compare(0, prefix.size(), prefix) != 0 ||
          name.compare(name.size() - job.size(), job.size(), job) != 0) {
        continue;
      }
      m_event.Debug("RemoveEarlierRunClones", "Removing clone VM [%s] [%s] an earlier run of DR job [%lld] made",
                    name.c_str(), vm.second.c_str(), static_cast<long long>(m_jobId));
      vsa->SetDestinationName(name);
      vsa->SetDestinationGuid(vm.second);
      SDROperationCtx one;
      one.drInfoList.assign(1, info);
      one.site = Api::DR_SITE_DESTINATION;
      one.ignoreQuit = true;
      __VmOP(one, Api::VIRTUAL_APP_PHASE_POWER_OFF, false);
      __VmOP(one, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, false);
      vsa->SetDestinationName(drName);
      vsa->SetDestinationGuid(drGuid);
    }
  }
}

void CVSATestFailover::RemoveClone(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || IsCloneRemoved(info->GetReplId())) return;
  // Until the clone step succeeded the record names the DR VM, and the
  // clone bears the name the request gave it; after it, the record names
  // the clone itself.
  if (!IsStepSucceeded(info, Api::VIRTUAL_APP_PHASE_CLONE_VM)) {
    vsa->SetDestinationName(DRInfoUtils::GetCloneVMName(info));
    vsa->SetDestinationGuid("");
  }
  m_event.Debug("RemoveClone", "Removing clone VM [%s] [%s] of replication [%d]", vsa->GetDestinationName().c_str(),
                vsa->GetDestinationGuid().c_str(), info->GetReplId());
  SDROperationCtx one;
  one.drInfoList.assign(1, info);
  one.site = Api::DR_SITE_DESTINATION;
  one.ignoreQuit = true;
  __VmOP(one, Api::VIRTUAL_APP_PHASE_POWER_OFF, false);
  if (__VmOP(one, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, false)) {
    ZnCriticalSectionLock lock(&m_cloneLock);
    m_removedClones.insert(info->GetReplId());
  }
}
