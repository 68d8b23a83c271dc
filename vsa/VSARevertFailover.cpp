#include "VSARevertFailover.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSARevertFailover::CVSARevertFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSARevertFailover::~CVSARevertFailover() { m_event.DebugLvl(2, "~CVSARevertFailover", "Invoking CVSARevertFailover destructor"); }

bool CVSARevertFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The revert failover of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
