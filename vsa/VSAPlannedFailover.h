// The planned failover of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAPlannedFailover : public CVSADRBase {
 public:
  explicit CVSAPlannedFailover(CGenericDR& orchestrator);
  ~CVSAPlannedFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
