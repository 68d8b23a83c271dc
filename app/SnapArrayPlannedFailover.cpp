#include "SnapArrayPlannedFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CSnapArrayPlannedFailover::CSnapArrayPlannedFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator), m_powerBackOnFailure(true) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayPlannedFailover::~CSnapArrayPlannedFailover() { m_event.DebugLvl(2, "~CSnapArrayPlannedFailover", "Invoking CSnapArrayPlannedFailover destructor"); }

bool CSnapArrayPlannedFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The planned failover of storage-array replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
