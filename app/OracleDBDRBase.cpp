#include "OracleDBDRBase.h"

#include "engine/DRBase.h"
#include "drorch/DRJobManager.h"

COracleDBDRBase::COracleDBDRBase(IDROrchestrator& orchestrator) : CAppDRBase(orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

COracleDBDRBase::~COracleDBDRBase() {}
