#include "VSAPointInTimeFailover.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSAPointInTimeFailover::CVSAPointInTimeFailover(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAPointInTimeFailover::~CVSAPointInTimeFailover() { m_event.DebugLvl(2, "~CVSAPointInTimeFailover", "Invoking CVSAPointInTimeFailover destructor"); }

bool CVSAPointInTimeFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The point-in-time failover of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
