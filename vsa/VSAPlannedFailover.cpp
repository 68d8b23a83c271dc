#include "VSAPlannedFailover.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSAPlannedFailover::CVSAPlannedFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAPlannedFailover::~CVSAPlannedFailover() { m_event.DebugLvl(2, "~CVSAPlannedFailover", "Invoking CVSAPlannedFailover destructor"); }

bool CVSAPlannedFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The planned failover of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
