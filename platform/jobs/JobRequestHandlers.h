// The simulated management server's answers to the job-related requests:
// DR group reads, job lists, job operations, a DR job's phase records, and
// the creation of workflow jobs (the "DRApproval" workflow completes at once
// and records its decision, CLabStore::SetApprovalOutcome, in the DR job's
// approval phase row).
#pragma once

class CJobRequestHandlers {
 public:
  // Registers the handlers with XMLHandler and EvTask (CSimulators::Install).
  static void Register();
};
