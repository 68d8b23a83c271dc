#include "drorch/IDROrchestrator.h"

#include "DRBase.h"
#include "GenericDR.h"
#include "log/EvEvent.h"

IDROrchestrator* IDROrchestrator::CreateObject(TMMsg::DROrchestrationType type) {
  EvEvent event;
  event.DebugLvl(2, "CreateObject", "DR Orchestration GenericDR object request");
  return new CGenericDR(type);
}

void IDROrchestrator::DeleteObject(IDROrchestrator* object) {
  EvEvent event;
  event.DebugLvl(2, "DeleteObject", "DR Object D'tor >>>");
  if (object == nullptr) return;
  // Every orchestrator the factory hands out is a CDRBase; its destructor is
  // the virtual one.
  delete static_cast<CDRBase*>(object);
}
