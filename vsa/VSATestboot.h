// The test boot of VM replications, one object per priority: each VM (the
// DR VM, or the source VM of a failed-over replication) is booted from a
// "__OB_TESTBOOT__" snapshot for a while and put back as it was, with the
// sync status it had.
#pragma once

#include <stdint.h>

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSATestboot : public CVSADRBase {
 public:
  explicit CVSATestboot(CGenericDR& orchestrator);
  ~CVSATestboot() override;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool Cleanup(const SDRPriority& priority) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override;
  bool TestBoot(SDROperationCtx& ctx) override;
  void RevertSyncStatus(CDRInfo* info, App::VSAReplicationStatus status) override;

  void SetDRSite(SDROperationCtx& ctx);
  bool CleanupTestbootSnapshots(SDROperationCtx& ctx, bool succeededOnly);
  bool IsCreateTestbootSnapshotSuccessful(SDROperationCtx& ctx);
  bool IsCleanupTestbootSnapshotRequired(CDRInfo* info);

  // The wait before shutdown the priority computed, in milliseconds.
  int64_t WaitBeforeShutdownMs() const { return m_waitBeforeShutdown; }

 private:
  // The site a machine boots on: the source once it is failed over.
  static Api::DRSite TestbootSite(VSARepInfo* vsa);
  // Whether the earlier run recorded the phase as succeeded for the machine.
  bool RestartHistorySucceeded(CDRInfo* info, Api::VirtualAppJobPhaseType phase);
  // Whether the machine's "__OB_TESTBOOT__" at the context's site is one
  // this job took, in this run or an earlier one, and is still there.
  bool IsTestbootSnapshotOfThisJob(SDROperationCtx& one, CDRInfo* info);
  // The machine's sync status before the job: what the first run found, as
  // it wrote it on its "Disable Sync" row, else as this run loaded it.
  App::VSAReplicationStatus SyncStatusBeforeJob(CDRInfo* info);
  static std::string SyncStatusBeforeText(App::VSAReplicationStatus status);

  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
  // Kept in 64 bits: minutes times 60000 overflow 32 bits long before the
  // clamp to what a wait takes.
  int64_t m_waitBeforeShutdown = 0;
};
