#include "VSAUndoFailover.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSAUndoFailover::CVSAUndoFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAUndoFailover::~CVSAUndoFailover() { m_event.DebugLvl(2, "~CVSAUndoFailover", "Invoking CVSAUndoFailover destructor"); }

bool CVSAUndoFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The undo failover of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
