// The planned failover of storage-array replications, one object per priority.
#pragma once

#include "SnapArrayDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CSnapArrayPlannedFailover : public CSnapArrayDRBase {
 public:
  explicit CSnapArrayPlannedFailover(CGenericDR& orchestrator);
  ~CSnapArrayPlannedFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
  [[maybe_unused]] bool m_powerBackOnFailure;
};
