#include "OracleDBPlannedFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

COracleDBPlannedFailover::COracleDBPlannedFailover(CGenericDR& orchestrator)
    : COracleDBDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

COracleDBPlannedFailover::~COracleDBPlannedFailover() {
  m_event.DebugLvl(2, "~COracleDBPlannedFailover", "Invoking COracleDBPlannedFailover destructor");
}

bool COracleDBPlannedFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The planned failover of databases is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
