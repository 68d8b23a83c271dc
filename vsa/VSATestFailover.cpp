#include "VSATestFailover.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSATestFailover::CVSATestFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSATestFailover::~CVSATestFailover() { m_event.DebugLvl(2, "~CVSATestFailover", "Invoking CVSATestFailover destructor"); }

bool CVSATestFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The test failover of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
