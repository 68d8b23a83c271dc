// The undo failover of storage-array replications, one object per
// priority: per subclient group the DR VMs shut down and unmount, the
// relationships re-sync, the subclient is enabled again and the sources
// power on.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayUndoFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayUndoFailover(CGenericDR& orchestrator);
  ~CSnapArrayUndoFailover() override;

  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  // Afiles, the unmount and LUN checks, the re-sync and the subclient.
  bool StorageOps(SDROperationCtx& ctx) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override;
  // The master job of the DR mount to undo.
  uint64_t GetMountOpJobId(SnapDRRepInfo* rep) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
