#include "VSACleanupDestVM.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "VSARepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "services/DRAppManager.h"

CVSACleanupDestVM::CVSACleanupDestVM(CGenericDR& orchestrator) : CVSADRBase(orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSACleanupDestVM::~CVSACleanupDestVM() { m_event.DebugLvl(2, "~CVSACleanupDestVM", "Invoking CVSACleanupDestVM destructor"); }

bool CVSACleanupDestVM::IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) {
  switch (static_cast<int>(status)) {
    case 2:
    case 3:
    case 6:
    case 7:
    case 14:
    case 16:
      return false;
    default:
      return true;
  }
}

bool CVSACleanupDestVM::IsPermisableSyncStateForJob(App::VSAReplicationStatus status) {
  return status != App::VSA_REPL_STATUS_SYNC_IN_PROGRESS && status != App::VSA_REPL_STATUS_SYNC_STARTING;
}

bool CVSACleanupDestVM::ProcessPriority(const SDRPriority& priority) {
  if (m_orchestrator == nullptr) return false;
  m_event.Debug("ProcessPriority", "Priority [%d] is a [VSA Replication] type priority", priority.order);
  std::vector<CDRInfo*> machines;
  if (!m_orchestrator->GetDRInfoListForPriority(priority, machines, 0) || machines.empty()) return false;
  // Without the job's DR options nobody said what to remove.
  const TMMsg::DROrchestrationOption* jobOptions =
      m_appManager != nullptr ? m_appManager->GetDROrchestrationOption() : nullptr;
  if (jobOptions == nullptr) {
    m_event.Error("ProcessPriority", "No DR orchestration options in the job. Nothing deleted for priority [%d]",
                  priority.order);
    return false;
  }
  TMMsg::DROrchestrationOption options;
  const bool deleting = jobOptions->GetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor) != 0;
  if (!deleting) {
    m_event.Debug("ProcessPriority",
                  "Delete destination vm from Hypervisor option is not selected. Skipping call to delete the VMs "
                  "from destination Hypervisor.");
    options = *jobOptions;
    if (!ListForRemoval(priority, options, machines)) return false;
  } else {
    DeleteDestVMWrapper(machines);
    if (machines.empty()) {
      m_event.Debug("ProcessPriority",
                    "None of the destination vms were successfully deleted from Hypervisor. Skipping call to delete "
                    "from database");
      return false;
    }
    CNMessageBase& info = options.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
    for (CDRInfo* machine : machines) info.AddInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, machine->GetReplId());
  }
  // A suspended job records no phase from the moment it found the suspend:
  // a removal now would leave no row that tells its restart this job removed
  // the replications (a deletion's row too may be left in progress), and the
  // restart would take them for another job's. The restart removes them,
  // judging a deletion left in progress from the hypervisor.
  if (m_jobManager != nullptr && m_jobManager->IsJobSuspended()) {
    m_event.Debug("ProcessPriority",
                  "DR job [%lld] is suspended; the replications of priority [%d] are left for its restart to remove",
                  static_cast<long long>(m_jobId), priority.order);
    return false;
  }
  if (!deleting) RecordRemoval(machines, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  const bool removed = m_appManager->RemoveReplicationEntriesFromDb(options);
  if (!deleting) {
    RecordRemoval(machines, removed ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  }
  if (removed) {
    for (CDRInfo* machine : machines) {
      machine->SetReplicationRemoved();
      MarkSuccess(machine, Api::DR_SITE_DESTINATION);
    }
  }
  return removed;
}

bool CVSACleanupDestVM::ListForRemoval(const SDRPriority& priority, TMMsg::DROrchestrationOption& options,
                                       std::vector<CDRInfo*>& machines) {
  CNMessageBase& info = options.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  std::vector<int32_t> listed;
  info.GetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, listed);
  std::vector<CDRInfo*> kept;
  std::vector<int32_t> ids;
  for (CDRInfo* machine : machines) {
    if (!IsMachineEligible(machine)) {
      SkipIneligible(machine);
      continue;
    }
    // Replications of other priorities are left to their own priority,
    // which tests their eligibility first.
    if (!listed.empty() && std::find(listed.begin(), listed.end(), machine->GetReplId()) == listed.end()) {
      m_event.Debug("ListForRemoval", "Replication [%d] is not listed in the job's DR options. Skipped",
                    machine->GetReplId());
      machine->SetSkipReason("it is not listed in the job's DR options");
      machine->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
      continue;
    }
    kept.push_back(machine);
    ids.push_back(machine->GetReplId());
  }
  machines.swap(kept);
  if (machines.empty()) {
    m_event.Debug("ListForRemoval",
                  "No replication of priority [%d] can be removed. Skipping call to delete from database",
                  priority.order);
    return false;
  }
  info.SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
  return true;
}

void CVSACleanupDestVM::RecordRemoval(std::vector<CDRInfo*>& machines, Api::VirtualAppPhaseState state) {
  for (CDRInfo* machine : machines) {
    SDRPhaseCtx row(m_jobId, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, state, Api::DR_SITE_SOURCE, true);
    if (state == Api::VIRTUAL_APP_PHASE_STATE_FAILED) {
      row.message = "The replication could not be removed from the management database";
    }
    machine->UpdatePhase(row);
  }
}

bool CVSACleanupDestVM::DeleteDestVMWrapper(std::vector<CDRInfo*>& machines) {
  SDROperationCtx ctx;
  ctx.drInfoList = machines;
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.batchOp = ZNDR::BATCH_OP_DELETE_DESTINATION;
  ctx.priority = machines.empty() ? nullptr : machines.front()->GetPriority();
  // A machine stays listed only on its own deletion's answer. Its last
  // phase row cannot tell: a kill halts the delete step before it writes a
  // row, and the row left last is the successful "Disable Sync", by which
  // the record would be removed while its DR VM stays on the hypervisor.
  std::vector<CDRInfo*> deleted;
  if (m_orchestrator->IsThreadsApplicable(ctx, ctx.drInfoList)) {
    if (m_orchestrator->RunParallelDROperation(ctx, this)) {
      for (CDRInfo* machine : ctx.drInfoList) {
        if (machine != nullptr && machine->IsBatchOpSuccess(ctx)) deleted.push_back(machine);
      }
    }
  } else {
    for (CDRInfo* machine : machines) {
      SDROperationCtx one(ctx);
      one.drInfoList.assign(1, machine);
      if (ProcessDROperationThread(one)) deleted.push_back(machine);
    }
  }
  machines.swap(deleted);
  return true;
}

bool CVSACleanupDestVM::DeleteDestVM(SDROperationCtx& ctx) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  if (!IsMachineEligible(info)) {
    SkipIneligible(info);
    return false;
  }
  // Whatever becomes of the deletion, no sync may copy onto the DR VM now.
  DisableSync(info, ctx);
  if (IsDeletedByEarlierRun(info)) return true;
  if (!__VmOP(ctx, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, false)) return false;
  m_event.Debug("DeleteDestVM", "DeleteDestVM succeeded for replication [%d] ", info->GetReplId());
  return true;
}

bool CVSACleanupDestVM::IsDeletedByEarlierRun(CDRInfo* info) {
  const uint32_t state = EarlierPhaseState(info, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION);
  if (state != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && state != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) return false;
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, Api::DR_SITE_DESTINATION);
  if (state == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) {
    // Died during the call: only a listing of the destination without the
    // DR VM tells that the call went through.
    std::vector<std::pair<std::string, std::string>> vms;
    if (guid.empty() || !ListInstanceVMs(info, Api::DR_SITE_DESTINATION, vms)) return false;
    for (const auto& vm : vms) {
      if (vm.second == guid) return false;
    }
  }
  m_event.Debug("IsDeletedByEarlierRun",
                "DR VM [%s] GUID [%s] of replication [%d] was deleted by an earlier run of DR job [%lld]",
                vsa->GetDestinationName().c_str(), guid.c_str(), info->GetReplId(), static_cast<long long>(m_jobId));
  SDRPhaseCtx row(m_jobId, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                  Api::DR_SITE_DESTINATION, true);
  row.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, vsa->GetDestinationName());
  info->UpdatePhase(row);
  return true;
}

void CVSACleanupDestVM::SkipIneligible(CDRInfo* info) {
  info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  SDRPhaseCtx phase(m_jobId, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION, Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                    Api::DR_SITE_DESTINATION, false);
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa != nullptr) phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, vsa->GetDestinationName());
  info->UpdatePhase(phase);
}
