// The reverse replication of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAReverseReplication : public CVSADRBase {
 public:
  explicit CVSAReverseReplication(CGenericDR& orchestrator);
  ~CVSAReverseReplication() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
