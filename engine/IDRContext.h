// A per-technology DR context, made for one priority by the dispatcher and
// driven by the orchestrator's priority loop, step runner and DR workers.
// The engine destroys it through this interface when its priority ends.
// Whether a job would take a machine up is asked of IDRAdmission.
#pragma once

class CDRInfo;
struct SDROperationCtx;
struct SDRPriority;

class IDRContext {
 public:
  // One DR step over the operation context's machines; true when it succeeded.
  virtual bool PerformOperation(SDROperationCtx& ctx) = 0;
  // Runs the priority; true when it succeeded.
  virtual bool ProcessPriority(const SDRPriority& priority) = 0;
  // After ProcessPriority, outside the clean-up phase (result unused).
  virtual bool PostProcessPriority(const SDRPriority& priority) = 0;
  // The per-machine body a DR worker runs.
  virtual bool ProcessDROperationThread(SDROperationCtx& ctx) = 0;
  // Called by the DR worker when ProcessDROperationThread failed (result unused).
  virtual bool CleanupDROperationThread(SDROperationCtx& ctx) = 0;
  // The per-subclient-group body a DR worker runs.
  virtual bool ProcessDRSubclientThread(SDROperationCtx& ctx) = 0;
  // Whether a machine takes part in this context's priority.
  virtual bool IsMachineEligible(CDRInfo* info) = 0;
  // Always called when the priority ends, also in a clean-up run (result unused).
  virtual bool Cleanup(const SDRPriority& priority) = 0;
  virtual ~IDRContext() = default;
};
