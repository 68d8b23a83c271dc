#include "VSADRBase.h"

#include "engine/DRBase.h"
#include "drorch/DRJobManager.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"

CVSADRBase::CVSADRBase(IDROrchestrator& orchestrator)
    : m_jobId(0),
      m_jobManager(nullptr),
      m_appManager(nullptr),
      m_orchestrator(static_cast<CDRBase*>(&orchestrator)) {
  m_jobManager = m_orchestrator->GetDRJobMgr();
  m_appManager = m_orchestrator->GetDRAppMgr();
  if (m_jobManager != nullptr) m_jobId = m_jobManager->GetJobId();
  m_event.setJobId(m_jobId);
}

CVSADRBase::~CVSADRBase() { m_event.DebugLvl(2, "~CVSADRBase", "Invoking CVSADRBase destructor"); }

bool CVSADRBase::PerformOperation(SDROperationCtx& ctx) {
  m_event.Error("PerformOperation", "VM operations are not available yet: phase [%d] not run",
                static_cast<int>(ctx.phase));
  return false;
}

bool CVSADRBase::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "VM replication DR is not built yet: priority [%d] not run", priority.order);
  return false;
}

bool CVSADRBase::PostProcessPriority(const SDRPriority& priority) {
  m_event.DebugLvl(2, "PostProcessPriority", "No report for priority [%d] yet", priority.order);
  return true;
}

bool CVSADRBase::ProcessDROperationThread(SDROperationCtx& ctx) {
  m_event.Error("ProcessDROperationThread", "VM operations are not available yet: batch operation [%d] not run",
                static_cast<int>(ctx.batchOp));
  return false;
}

bool CVSADRBase::CleanupDROperationThread(SDROperationCtx&) { return true; }

bool CVSADRBase::ProcessDRSubclientThread(SDROperationCtx&) { return false; }

bool CVSADRBase::IsMachineEligible(CDRInfo*) {
  // Eligibility reads the VM replication record, which is not loaded yet.
  return false;
}

bool CVSADRBase::Cleanup(const SDRPriority&) { return true; }

bool CVSADRBase::IsPermisableFailoverStateForJob(App::VSAFailoverStatus) { return true; }

bool CVSADRBase::IsPermisableSyncStateForJob(App::VSAReplicationStatus) { return true; }

bool CVSADRBase::PersistSnapMoref(CDRInfo*, Api::DRSite, std::string&) { return true; }

bool CVSADRBase::PostReplicationThread(SDROperationCtx&) { return false; }

bool CVSADRBase::TestBoot(SDROperationCtx&) { return false; }

bool CVSADRBase::Failover(SDROperationCtx&) { return false; }

void CVSADRBase::LoadOperationConfig(SDROperationCtx&) {}

bool CVSADRBase::PerformPostDrOps(SDROperationCtx&) { return true; }

bool CVSADRBase::_PreReplication(SDROperationCtx&) { return true; }

bool CVSADRBase::DeleteDestVM(SDROperationCtx&) { return false; }

bool CVSADRBase::HandleSyncFailure(SDROperationCtx&, CDRInfo*) { return false; }

void CVSADRBase::SetVMOperationAsync(SDROperationCtx& ctx) { ctx.vmOpAsync = true; }

void CVSADRBase::ResetVMOperationAsync(SDROperationCtx& ctx) { ctx.vmOpAsync = false; }
