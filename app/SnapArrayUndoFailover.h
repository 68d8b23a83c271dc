// The undo failover of storage-array replications, one object per priority.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayUndoFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayUndoFailover(CGenericDR& orchestrator);
  ~CSnapArrayUndoFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
