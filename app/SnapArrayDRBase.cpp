#include "SnapArrayDRBase.h"

#include <new>

#include "drorch/DRJobManager.h"
#include "engine/SDRPriority.h"
#include "vsa/VSADRBase.h"

CSnapArrayDRBase::CSnapArrayDRBase(IDROrchestrator& orchestrator)
    : CAppDRBase(orchestrator), m_vsaDRBase(nullptr) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
  m_vsaDRBase = new (std::nothrow) CVSADRBase(orchestrator);
}

CSnapArrayDRBase::~CSnapArrayDRBase() {
  m_event.DebugLvl(2, "~CSnapArrayDRBase", "Running CSnapArrayDRBase destructor ...");
  if (m_vsaDRBase != nullptr) {
    m_event.DebugLvl(2, "~CSnapArrayDRBase", "Cleaning up VSADRBase obj ...");
    delete m_vsaDRBase;
    m_vsaDRBase = nullptr;
  }
}

bool CSnapArrayDRBase::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "Storage-array DR is not built yet: priority [%d] not run", priority.order);
  return false;
}
