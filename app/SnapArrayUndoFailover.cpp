#include "SnapArrayUndoFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CSnapArrayUndoFailover::CSnapArrayUndoFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayUndoFailover::~CSnapArrayUndoFailover() { m_event.DebugLvl(2, "~CSnapArrayUndoFailover", "Invoking CSnapArrayUndoFailover destructor"); }

bool CSnapArrayUndoFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The undo failover of storage-array replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
