// The point-in-time failover of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAPointInTimeFailover : public CVSADRBase {
 public:
  explicit CVSAPointInTimeFailover(CGenericDR& orchestrator);
  ~CVSAPointInTimeFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
