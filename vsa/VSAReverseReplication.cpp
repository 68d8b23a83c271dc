#include "VSAReverseReplication.h"

#include "engine/GenericDR.h"
#include "engine/SDRPriority.h"

CVSAReverseReplication::CVSAReverseReplication(CGenericDR& orchestrator) : CVSADRBase(orchestrator), m_drObject(&orchestrator) {
  m_event.setJobId(m_jobId);
}

CVSAReverseReplication::~CVSAReverseReplication() { m_event.DebugLvl(2, "~CVSAReverseReplication", "Invoking CVSAReverseReplication destructor"); }

bool CVSAReverseReplication::ProcessPriority(const SDRPriority& priority) {
  m_event.Error("ProcessPriority", "The reverse replication of VM replications is not built yet: priority [%d] not run",
                priority.order);
  return false;
}
