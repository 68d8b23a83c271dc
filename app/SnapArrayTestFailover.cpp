#include "SnapArrayTestFailover.h"

#include "drorch/DRJobManager.h"
#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CSnapArrayTestFailover::CSnapArrayTestFailover(CGenericDR& orchestrator)
    : CSnapArrayDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

CSnapArrayTestFailover::~CSnapArrayTestFailover() { m_event.DebugLvl(2, "~CSnapArrayTestFailover", "Invoking CSnapArrayTestFailover destructor"); }

bool CSnapArrayTestFailover::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The test failover of storage-array replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
