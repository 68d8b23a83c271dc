// One phase update of one machine.
#pragma once

#include <stdint.h>

#include <string>

#include "msg/MsgEnums.h"
#include "msg/MsgClasses.h"

struct SDRPhaseCtx {
  SDRPhaseCtx();
  SDRPhaseCtx(int64_t jobId, Api::VirtualAppJobPhaseType phase, Api::VirtualAppPhaseState state, Api::DRSite site,
              bool markRowAsFailedOnFailure);

  int64_t jobId;
  Api::VirtualAppJobPhaseType phase;
  Api::DRSite site;
  Api::VirtualAppPhaseState state;
  std::string message;
  int32_t reserved;  // carried by copies only
  bool markRowAsFailedOnFailure;
  bool updatePhaseInfoTbl;
  bool raisePendingCause;  // a failure also raises a pending cause on the job
  bool notLastPhase;       // the update does not replace the machine's last phase
  ZnEntities::GenericEntity clientEntity;
};
