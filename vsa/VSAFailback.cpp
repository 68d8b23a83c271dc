#include "VSAFailback.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSAFailback::CVSAFailback(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAFailback::~CVSAFailback() { m_event.DebugLvl(2, "~CVSAFailback", "Invoking CVSAFailback destructor"); }

bool CVSAFailback::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The failback of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
