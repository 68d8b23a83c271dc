// The planned failover of a replicated Oracle database, machine by machine:
// a last backup at the source, its replication, the source's shut-down, sync
// disabled, the destination's start-up, the failover status stored. Built on
// the dispatcher's stack; only ProcessPriority is called (no
// post-processing, no clean-up, also in a clean-up run).
//
// Failures: each step's failure ends the machine with its line. Only a
// failed start-up undoes anything (the sync status read after the shut-down
// goes back). A failure after the shut-down leaves the source stopped on
// purpose: starting it again while its replica may be half up risks two live
// copies; one error line names it (replication, client, Oracle home).
#pragma once

#include <stdint.h>

#include "OracleDBDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class COracleDBPlannedFailover : public COracleDBDRBase {
 public:
  explicit COracleDBPlannedFailover(CGenericDR& orchestrator);
  ~COracleDBPlannedFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool Failover(SDROperationCtx& ctx) override;
  // Phase rows for batch operations 3, 5, 23 and 25; a failed step fails the
  // machine for every batch operation.
  void LoadOperationConfig(SDROperationCtx& ctx) override;

 private:
  bool FailAfterShutdown(SDROperationCtx& ctx, CDRInfo* machine);
  // The machine's success and "Failover Complete".
  bool Complete(SDROperationCtx& ctx, CDRInfo* machine);
  // The machine's row of the phase as the earlier run of a restarted job
  // left it: begun (IN-PROGRESS or SUCCESS), or SUCCESS; never in a fresh job.
  uint32_t EarlierPhaseState(CDRInfo* machine, Api::VirtualAppJobPhaseType phase);
  bool EarlierRunReached(CDRInfo* machine, Api::VirtualAppJobPhaseType phase);
  bool EarlierRunSucceeded(CDRInfo* machine, Api::VirtualAppJobPhaseType phase);

  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
