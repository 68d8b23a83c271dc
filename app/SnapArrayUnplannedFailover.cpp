#include "SnapArrayUnplannedFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CSnapArrayUnplannedFailover::CSnapArrayUnplannedFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayUnplannedFailover::~CSnapArrayUnplannedFailover() { m_event.DebugLvl(2, "~CSnapArrayUnplannedFailover", "Invoking CSnapArrayUnplannedFailover destructor"); }

bool CSnapArrayUnplannedFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The unplanned failover of storage-array replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
