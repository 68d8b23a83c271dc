// The failover steps the operation classes compose: the replication of a
// group's VMs and the actions on a DR VM (creation, deletion).
#include <string>
#include <vector>

#include "VSADRBase.h"
#include "VSARepInfo.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/SDROperationCtx.h"
#include "services/DRAppManager.h"

bool CVSADRBase::ReplicateVMs(SDROperationCtx& ctx, Api::DRSite site, bool loadSyncList) {
  ctx.site = site;
  // The class's switches are those of the replication step: its phase is
  // set before they are loaded, and the batch operation follows from it.
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  ctx.batchOp = ZNDR::BATCH_OP_NONE;
  if (loadSyncList) LoadSyncList(ctx);
  LoadOperationConfig(ctx);
  _PreReplication(ctx);
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  ctx.batchOp = ZNDR::BATCH_OP_NONE;
  return m_orchestrator->RunOperation(*this, ctx, false);
}

bool CVSADRBase::DRVMAction(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, bool succeededOnly) {
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr) {
    m_event.Debug("DRVMAction", "No VM replication record for [%s]. Nothing to do",
                  DRHelper::GetPhaseNameStr(phase).c_str());
    return true;
  }
  const bool create = phase == Api::VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE;
  const std::string name = create ? vsa->GetSourceName() : vsa->GetDestinationName();
  const std::string guid = create ? vsa->GetSourceGuid() : vsa->GetDestinationGuid();
  const bool deleteForFirstSync =
      phase == Api::VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE && m_appManager->IsFirstTimeSyncDuringFailoverSet();
  if (!m_appManager->IsCreateDRVMOptionEnabled(vsa->GetTaskId()) && !deleteForFirstSync) return true;
  ctx.site = Api::DR_SITE_DESTINATION;
  const std::string phaseName = DRHelper::GetPhaseNameStr(phase);
  if (!__VmOP(ctx, phase, succeededOnly)) {
    m_event.Error("DRVMAction", "DR VM [%s] with GUID [%s] [%s] failed ", name.c_str(), guid.c_str(),
                  phaseName.c_str());
    return false;
  }
  m_event.Debug("DRVMAction", "DR VM [%s] GUID [%s] [%s] successful ", vsa->GetDestinationName().c_str(),
                vsa->GetDestinationGuid().c_str(), phaseName.c_str());
  return true;
}
