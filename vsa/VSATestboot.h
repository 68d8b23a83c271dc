// The test boot of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSATestboot : public CVSADRBase {
 public:
  explicit CVSATestboot(CGenericDR& orchestrator);
  ~CVSATestboot() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
