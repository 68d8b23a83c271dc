#include "OracleDBDRBase.h"

#include "DRBase.h"
#include "DRJobManager.h"

COracleDBDRBase::COracleDBDRBase(IDROrchestrator& orchestrator) : CAppDRBase(orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

COracleDBDRBase::~COracleDBDRBase() {}
