// The undo test failover of storage-array replications, one object per priority.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayUndoTestFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayUndoTestFailover(CGenericDR& orchestrator);
  ~CSnapArrayUndoTestFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
