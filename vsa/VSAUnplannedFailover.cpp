#include "VSAUnplannedFailover.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSAUnplannedFailover::CVSAUnplannedFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAUnplannedFailover::~CVSAUnplannedFailover() { m_event.DebugLvl(2, "~CVSAUnplannedFailover", "Invoking CVSAUnplannedFailover destructor"); }

bool CVSAUnplannedFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The unplanned failover of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
