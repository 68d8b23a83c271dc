// The simulated management server's answers to the job-related requests:
// DR group reads, job lists, job operations, a DR job's phase records, and
// the creation of workflow jobs (the "DRApproval" workflow completes at once
// and records its decision, CLabStore::SetApprovalOutcome, in the DR job's
// approval phase row).
#pragma once

class CJobRequestHandlers {
 public:
  // Registers the handlers with XMLHandler and EvTask once per process;
  // both call it before routing, so a test's own handler registered later
  // replaces the built-in one.
  static void Install();
  // Puts the built-in handlers back (after a test replaced one).
  static void Restore();
  // Phase of the DR job's approval row.
  static constexpr int kApprovalPhase = 27;
};
