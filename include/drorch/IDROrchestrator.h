// The orchestrator as the host DR job process sees it: obtained from the
// factory, initialised, run once and handed back to DeleteObject. The
// interface declares no destructor on purpose: the object is destroyed
// through CDRBase's virtual destructor inside the library.
#pragma once

#include <stdint.h>

#include "DRExport.h"
#include "DRInitParams.h"
#include "msg/MsgEnums.h"

class IDROrchestrator {
 public:
  // Loads the DR group and builds the priority queue; false stops the job.
  virtual bool Initialize(DRInitParams& params) = 0;
  // Runs the DR operation; the DR job's final Api::VirtualAppPhaseState.
  virtual int32_t Run() = 0;
  // Pushes the job's completion percentage to the job manager.
  virtual void Refresh() = 0;

  // Always a CGenericDR that keeps the type.
  DR_EXPORT static IDROrchestrator* CreateObject(TMMsg::DROrchestrationType type);
  // Null is ignored.
  DR_EXPORT static void DeleteObject(IDROrchestrator* object);
};
