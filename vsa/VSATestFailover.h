// The test failover of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSATestFailover : public CVSADRBase {
 public:
  explicit CVSATestFailover(CGenericDR& orchestrator);
  ~CVSATestFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
