#include "SDRPhaseCtx.h"

SDRPhaseCtx::SDRPhaseCtx()
    : jobId(0),
      phase(static_cast<Api::VirtualAppJobPhaseType>(0)),
      site(static_cast<Api::DRSite>(0)),
      state(static_cast<Api::VirtualAppPhaseState>(0)),
      reserved(0),
      markRowAsFailedOnFailure(true),
      updatePhaseInfoTbl(true),
      raisePendingCause(true),
      notLastPhase(false) {}

SDRPhaseCtx::SDRPhaseCtx(int64_t jobId_, Api::VirtualAppJobPhaseType phase_, Api::VirtualAppPhaseState state_,
                         Api::DRSite site_, bool markRowAsFailedOnFailure_)
    : jobId(jobId_),
      phase(phase_),
      site(site_),
      state(state_),
      reserved(0),
      markRowAsFailedOnFailure(markRowAsFailedOnFailure_),
      updatePhaseInfoTbl(true),
      raisePendingCause(true),
      notLastPhase(false) {}
