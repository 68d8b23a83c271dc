#include "SnapArrayUndoTestFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CSnapArrayUndoTestFailover::CSnapArrayUndoTestFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayUndoTestFailover::~CSnapArrayUndoTestFailover() { m_event.DebugLvl(2, "~CSnapArrayUndoTestFailover", "Invoking CSnapArrayUndoTestFailover destructor"); }

bool CSnapArrayUndoTestFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The undo test failover of storage-array replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
