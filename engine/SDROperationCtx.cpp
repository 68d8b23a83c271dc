#include "SDROperationCtx.h"

SDROperationCtx::SDROperationCtx()
    : subclient(nullptr),
      site(static_cast<Api::DRSite>(0)),
      priority(nullptr),
      phase(static_cast<Api::VirtualAppJobPhaseType>(0)),
      updatePhaseInfoTbl(true),
      markRowAsFailedOnFailure(true),
      preScript(false),
      ignoreQuit(false),
      useStoredSnapRef(false),
      batchOp(static_cast<ZNDR::BatchOperation>(0)),
      jobId(0),
      snapType(1),
      vmOpAsync(false),
      postStep(true),
      mandateAllSuccess(false),
      replicaGroup(nullptr),
      pollWithQuit(false),
      raisePendingCauseOnFailure(true),
      failureNotLastPhase(false) {}

void SDROperationCtx::Copy(const SDROperationCtx& other) {
  batchOp = other.batchOp;
  preScript = other.preScript;
  ignoreQuit = other.ignoreQuit;
  phase = other.phase;
  site = other.site;
  updatePhaseInfoTbl = other.updatePhaseInfoTbl;
  markRowAsFailedOnFailure = other.markRowAsFailedOnFailure;
  snapType = other.snapType;
  useStoredSnapRef = other.useStoredSnapRef;
  vmOpAsync = other.vmOpAsync;
  postStep = other.postStep;
  mandateAllSuccess = other.mandateAllSuccess;
  pollWithQuit = other.pollWithQuit;
  raisePendingCauseOnFailure = other.raisePendingCauseOnFailure;
  failureNotLastPhase = other.failureNotLastPhase;
}

std::string SDROperationCtx::GetHash() const {
  return std::to_string(static_cast<int>(batchOp)) + ":" + std::to_string(snapType) + ":" +
         std::to_string(static_cast<int>(site)) + ":" + (ignoreQuit ? "1" : "0") + ":" + (preScript ? "1" : "0");
}

CDRInfo* SDROperationCtx::GetInfo() const { return drInfoList.empty() ? nullptr : drInfoList.front(); }
