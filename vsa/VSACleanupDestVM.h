// The clean-up of destination VMs of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSACleanupDestVM : public CVSADRBase {
 public:
  explicit CVSACleanupDestVM(CGenericDR& orchestrator);
  ~CVSACleanupDestVM() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
