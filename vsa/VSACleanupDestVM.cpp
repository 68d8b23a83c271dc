#include "VSACleanupDestVM.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSACleanupDestVM::CVSACleanupDestVM(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSACleanupDestVM::~CVSACleanupDestVM() { m_event.DebugLvl(2, "~CVSACleanupDestVM", "Invoking CVSACleanupDestVM destructor"); }

bool CVSACleanupDestVM::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The clean-up of destination VMs of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
