#include "VSATestboot.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSATestboot::CVSATestboot(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSATestboot::~CVSATestboot() { m_event.DebugLvl(2, "~CVSATestboot", "Invoking CVSATestboot destructor"); }

bool CVSATestboot::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The test boot of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
