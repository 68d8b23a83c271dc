// The remote VM operations of the VM DR context: one machine's request to a
// proxy, its phase rows, the retries on a proxy that cannot be reached, the
// optional worker thread, and the change of proxy for the storage-array work.
#include <stdint.h>
#include <strings.h>

#include <set>
#include <string>
#include <vector>

#include "SDRVMThread.h"
#include "VSADRBase.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "services/DRAppManager.h"
#include "sync/ZnThread.h"
#include "time/PlatformClock.h"
#include "vm/VmOperation.h"

namespace {

// Calls of one operation while the proxy cannot be reached, and the wait
// between two of them.
const int kProxyConnectCalls = 6;
const int kProxyRetryWaitMs = 60000;
// How often the caller looks at its worker and at the job's quit flag.
const int kWorkerPollMs = 5000;
// Proxies tried for one operation of the storage-array work.
const int kMaxProxyAttempts = 20;

const std::string& VMName(const Ida::VMOpReq& request) {
  return request.GetMsg(Ida::VMOpReq::kVirtualMachine)
      .GetMsg(Ida::VirtualMachine::kEntity)
      .GetString(ZnEntities::VirtualMachineEntity::kName);
}

const std::string& VMGuid(const Ida::VMOpReq& request) {
  return request.GetMsg(Ida::VMOpReq::kVirtualMachine)
      .GetMsg(Ida::VirtualMachine::kEntity)
      .GetString(ZnEntities::VirtualMachineEntity::kGuid);
}

}  // namespace

bool CVSADRBase::IsQuitRequested(const SDROperationCtx& ctx) {
  return !ctx.ignoreQuit && m_jobManager != nullptr && m_jobManager->IsQuitFlagSet();
}

bool CVSADRBase::IsSuspendRequested(const SDROperationCtx& ctx) {
  return !ctx.ignoreQuit && m_jobManager != nullptr && m_jobManager->IsJobSuspended();
}

void CVSADRBase::Pause(int milliseconds, const char* reason) {
  if (m_jobManager != nullptr) {
    m_jobManager->Wait(milliseconds, reason);
  } else {
    // Without a job there is no job's wait to log; the pause still happens.
    CPlatformClock::Instance().Sleep(static_cast<uint64_t>(milliseconds), reason);
  }
}

bool CVSADRBase::PerformVMOperation(SDROperationCtx& ctx) {
  Ida::VMOpReq request;
  Ida::VMOpResp response;
  TMMsg::VMProvisioningOption option;
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) {
    m_event.Error("PerformVMOperation", "No VM found for operation");
    return false;
  }
  if (!LoadVMOpReqOptions(ctx, info, request, option)) {
    m_event.Error("PerformVMOperation", "Error loading VMOperation req options");
    return false;
  }
  const TMMsg::VMOperationType opType =
      static_cast<TMMsg::VMOperationType>(option.GetInt32(TMMsg::VMProvisioningOption::kOperationType));
  std::string reason;
  if (DRInfoUtils::CanSkipVMOp(opType, m_orchestrator->GetDRType(), ctx, reason)) {
    m_event.Error("PerformVMOperation", "SKIPPING [%s] on VM [%s] GUID [%s] as [%s].",
                  DRHelper::GetPhaseNameStr(ctx.phase).c_str(), VMName(request).c_str(), VMGuid(request).c_str(),
                  reason.c_str());
    return true;
  }
  if (TakeOverEarlierSnapshotStep(ctx, info, opType, option, request)) return true;
  if (!PerformVMOp(ctx, option, request, response, true)) return false;
  LoadVMOpRespOptions(info, response, ctx);
  return true;
}

bool CVSADRBase::PerformVMOp(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                             Ida::VMOpResp& response, bool retry) {
  std::string vmName = VMName(request);
  std::string vmGuid = VMGuid(request);
  const std::string phaseName = DRHelper::GetPhaseNameStr(ctx.phase);
  std::string requestXml;
  if (!DRHelper::GetFormattedXML(request, requestXml)) {
    m_event.Error("PerformVMOp", "Failed to serialize message request");
    return false;
  }
  const int64_t jobId = ctx.jobId >= 1 ? ctx.jobId : m_jobId;
  SDRPhaseCtx phase(jobId, ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, ctx.site, true);
  UpdateVMPhase(ctx, vmName, phase, "", Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  // A suspended job records no phase: a call sent now, once another thread
  // found the suspend after this step's quit check, would change the lab
  // with no row to tell its restart. It is halted as that check halts a
  // step; a call whose running row was stored is judged from the lab.
  if (IsSuspendRequested(ctx)) {
    m_event.Error("PerformVMOp", "Halting [%s] on VM [%s] as DR job [%lld] is suspended", phaseName.c_str(),
                  vmName.c_str(), static_cast<long long>(m_jobId));
    return false;
  }

  m_event.Debug("PerformVMOp", "Begin [%s] on VM [%s] ", phaseName.c_str(), vmName.c_str());
  m_event.DebugLvl(2, "PerformVMOp", "Starting [%s] on VM [%s] GUID [%s] XML [%s]", phaseName.c_str(), vmName.c_str(),
                   vmGuid.c_str(), requestXml.c_str());
  const int rc = ExecuteRemoteVMOp(ctx, option, request, response, retry);
  std::string responseXml;
  const bool serialized = DRHelper::GetFormattedXML(response, responseXml);
  if (rc != 0 || !serialized) {
    const std::string error = response.GetMsg(Ida::VMOpResp::kError).GetString(ZNGui::GenericResp::kErrorText);
    if (rc > 0 && option.GetInt32(TMMsg::VMProvisioningOption::kOperationType) == TMMsg::VM_OPERATION_DELETE_SNAPSHOT &&
        IsAskedSnapshotAbsent(ctx, ctx.GetInfo(), option)) {
      // Whatever the hypervisor answered, the snapshot is not on the VM: a
      // delete of it has nothing to do. A snapshot still there (a site
      // down, a refused delete) fails the step as any failure does.
      m_event.Debug("PerformVMOp",
                    "[%s] on VM [%s] GUID [%s] answered [%d] [%s], and the snapshot is not on the VM. Nothing to "
                    "delete",
                    phaseName.c_str(), vmName.c_str(), vmGuid.c_str(), rc, error.c_str());
      ResetVMOperationAsync(ctx);
      UpdateVMPhase(ctx, vmName, phase, "", Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
      return true;
    }
    UpdateVMPhase(ctx, vmName, phase, error, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
    m_event.Error("PerformVMOp", "[%s] on VM [%s] GUID [%s] failed with retcode [%d] and error [%s]", phaseName.c_str(),
                  vmName.c_str(), vmGuid.c_str(), rc, error.c_str());
    return false;
  }

  ResetVMOperationAsync(ctx);
  if (response.ListSize(Ida::VMOpResp::kVirtualMachines) > 0) {
    // The proxy may answer with the VM under another name or GUID (a VM
    // created or renamed by the operation); the phase row shows what it is now.
    const CNMessageBase& entity =
        response.GetListMsg(Ida::VMOpResp::kVirtualMachines, 0).GetMsg(Ida::VirtualMachine::kEntity);
    const std::string& name = entity.GetString(ZnEntities::VirtualMachineEntity::kName);
    const std::string& guid = entity.GetString(ZnEntities::VirtualMachineEntity::kGuid);
    if (!name.empty() && strcasecmp(name.c_str(), vmName.c_str()) != 0) {
      vmName = name;
      phase.clientEntity.SetString(ZnEntities::GenericEntity::kNewClientName, name);
    }
    if (!guid.empty() && strcasecmp(guid.c_str(), vmGuid.c_str()) != 0) {
      vmGuid = guid;
      phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientGuid, guid);
    }
  }
  m_event.DebugLvl(2, "PerformVMOp", "Response received for VM [%s] GUID [%s] XML [%s]", vmName.c_str(), vmGuid.c_str(),
                   responseXml.c_str());
  m_event.DebugLvl(2, "PerformVMOp", "[%s] on VM [%s] GUID [%s] successful with retcode [%d]", phaseName.c_str(),
                   vmName.c_str(), vmGuid.c_str(), rc);
  UpdateVMPhase(ctx, vmName, phase, "", Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  return true;
}

int CVSADRBase::ExecuteRemoteVMOp(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                  Ida::VMOpResp& response, bool retry) {
  const TMMsg::DRReplicationType replicationType =
      m_appManager != nullptr ? m_appManager->GetReplicationType() : static_cast<TMMsg::DRReplicationType>(0);
  if (DRInfoUtils::IsVMOpThreadApplicable(ctx, replicationType)) {
    return ExecuteOnWorkerThread(ctx, option, request, response);
  }
  int rc = VmOperation::PerformRemoteVMOperation(option, request, response, kVMOpSeconds, retry);
  for (int call = 1; rc == VmOperation::kProxyConnectionFailure && call < kProxyConnectCalls; ++call) {
    if (IsQuitRequested(ctx)) {
      m_event.Error("ExecuteRemoteVMOp", "Quit retrying VMOperation as quit flag is set");
      return -1;
    }
    Pause(kProxyRetryWaitMs, "Proxy connection failure. Wait before retry.");
    rc = VmOperation::PerformRemoteVMOperation(option, request, response, kVMOpSeconds, retry);
  }
  return rc;
}

int CVSADRBase::ExecuteOnWorkerThread(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                      Ida::VMOpResp& response) {
  SDRVMTHread* record = new SDRVMTHread(option, request, response);
  ZnThread worker;
  if (!worker.createThread(&CVSADRBase::VMOpThreadStatic, record)) {
    // Nobody will run it: both holds go, and the call is made here.
    record->Release();
    record->Release();
    m_event.Error("ExecuteRemoteVMOp", "Failed to start the VM operation thread. Running the operation inline");
    return VmOperation::PerformRemoteVMOperation(option, request, response, kVMOpSeconds, true);
  }
  while (true) {
    if (IsQuitRequested(ctx)) {
      m_event.Error("ExecuteRemoteVMOp", "Quit waiting on VMOperation as quit flag is set");
      // The worker finishes on its own copies and frees the record; its
      // blocking platform calls end early.
      worker.requestStop();
      record->Release();
      return -1;
    }
    if (record->isOpDone()) break;
    Pause(kWorkerPollMs, "Waiting for the VM operation thread");
  }
  const int rc = record->GetResult();
  option = record->m_option;
  request = record->m_request;
  response = record->m_response;
  record->Release();
  worker.join();
  return rc;
}

void* CVSADRBase::VMOpThreadStatic(void* arg) {
  SDRVMTHread* record = static_cast<SDRVMTHread*>(arg);
  if (record == nullptr) return nullptr;
  const int rc = VmOperation::PerformRemoteVMOperation(record->m_option, record->m_request, record->m_response,
                                                       kVMOpSeconds, true);
  record->setResult(rc);
  record->setOpDone();
  record->Release();
  return nullptr;
}

bool CVSADRBase::PerformRemoteVMop(SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                   Ida::VMOpResp& response, bool retry, CanRetryVMOp canRetry) {
  std::set<int64_t> tried;
  bool ok = false;
  for (int attempt = 0; attempt < kMaxProxyAttempts; ++attempt) {
    ok = PerformVMOp(ctx, option, request, response, retry);
    tried.insert(response.GetInt64(Ida::VMOpResp::kProxyClientId));
    if (ok || canRetry == nullptr || !canRetry(ctx, response)) break;

    const int64_t instanceId =
        request.GetMsg(Ida::VMOpReq::kInstance).GetInt64(ZnEntities::PolicyInstanceFields::kInstanceId);
    std::vector<App::MemberServer> servers;
    // A wider id must not ask about the instance its low bits name.
    int dbInstanceId = 0;
    if (!DRInfoUtils::ToDBInstanceId(instanceId, dbInstanceId) || m_appManager == nullptr ||
        !m_appManager->QueryMemberServersForInstance(dbInstanceId, servers)) {
      m_event.Error("PerformRemoteVMop", "Failed to get member servers for instance [%lld]",
                    static_cast<long long>(instanceId));
      return false;
    }
    int64_t next = 0;
    bool found = false;
    for (const App::MemberServer& server : servers) {
      const int64_t id = server.GetMsg(App::MemberServer::kClientEntity).GetInt64(ZnEntities::GenericEntity::kClientId);
      if (tried.count(id) == 0) {
        next = id;
        found = true;
        break;
      }
    }
    if (!found) break;
    request.SetInt64(Ida::VMOpReq::kProxyClientId, next);
    option.ListClear(TMMsg::VMProvisioningOption::kVMOpRequests);
    tried.insert(next);
  }
  return ok;
}

bool CVSADRBase::UpdateVMPhase(SDROperationCtx& ctx, std::string& vmName, SDRPhaseCtx& phase, std::string message,
                               Api::VirtualAppPhaseState state) {
  if (state == Api::VIRTUAL_APP_PHASE_STATE_FAILED) phase.message = message;
  phase.updatePhaseInfoTbl = ctx.updatePhaseInfoTbl;
  phase.markRowAsFailedOnFailure = ctx.markRowAsFailedOnFailure;
  phase.raisePendingCause = ctx.raisePendingCauseOnFailure;
  // A clean-up's phase does not become the machine's last phase, nor does a
  // step's that the operation lets fail without dropping the machine.
  phase.notLastPhase =
      ctx.ignoreQuit || (ctx.failureNotLastPhase && state != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, vmName);
  phase.state = state;
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  info->UpdatePhase(phase);
  return true;
}
