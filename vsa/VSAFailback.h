// The failback of VM replications, one object per priority.
#pragma once

#include "VSADRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class CVSAFailback : public CVSADRBase {
 public:
  explicit CVSAFailback(CGenericDR& orchestrator);
  ~CVSAFailback() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_drObject;
  EvEvent m_event;
};
