#include "AppDRBase.h"

#include "engine/DRBase.h"
#include "drorch/DRJobManager.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"

CAppDRBase::CAppDRBase(IDROrchestrator& orchestrator)
    : m_priority(nullptr),
      m_flag(1),
      m_drObject(&orchestrator),
      m_syncWaitSeconds(60),
      m_jobManager(nullptr),
      m_appManager(nullptr),
      m_orchestrator(static_cast<CDRBase*>(&orchestrator)) {
  m_jobManager = m_orchestrator->GetDRJobMgr();
  m_appManager = m_orchestrator->GetDRAppMgr();
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CAppDRBase::~CAppDRBase() { m_event.DebugLvl(2, "~CAppDRBase", "Invoking CAppDRBase destructor"); }

bool CAppDRBase::PerformOperation(SDROperationCtx& ctx) {
  switch (ctx.phase) {
    case Api::VIRTUAL_APP_PHASE_POWER_ON:
      return PowerOn(ctx);
    case Api::VIRTUAL_APP_PHASE_SHUTDOWN:
      return Shutdown(ctx);
    case Api::VIRTUAL_APP_PHASE_STORAGE_OPERATION:
      return StorageOps(ctx);
    default:
      // Backup and replication steps of applications are not available yet.
      return false;
  }
}

bool CAppDRBase::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "Application DR is not built yet: priority [%d] not run", priority.order);
  return false;
}

bool CAppDRBase::PostProcessPriority(const SDRPriority&) { return true; }

bool CAppDRBase::ProcessDROperationThread(SDROperationCtx& ctx) {
  if (ctx.batchOp == ZNDR::BATCH_OP_FAILOVER) return Failover(ctx);
  return false;
}

bool CAppDRBase::CleanupDROperationThread(SDROperationCtx&) { return true; }

bool CAppDRBase::ProcessDRSubclientThread(SDROperationCtx&) { return false; }

bool CAppDRBase::IsMachineEligible(CDRInfo*) { return true; }

bool CAppDRBase::Cleanup(const SDRPriority&) { return true; }

bool CAppDRBase::Failover(SDROperationCtx&) { return false; }

bool CAppDRBase::StorageOps(SDROperationCtx&) { return false; }

bool CAppDRBase::Shutdown(SDROperationCtx&) { return false; }

bool CAppDRBase::PowerOn(SDROperationCtx&) { return true; }
