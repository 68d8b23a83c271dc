// The planned failover of a replicated Oracle database. Built on the
// dispatcher's stack; only ProcessPriority is called.
#pragma once

#include "OracleDBDRBase.h"
#include "log/EvEvent.h"

class CGenericDR;

class COracleDBPlannedFailover : public COracleDBDRBase {
 public:
  explicit COracleDBPlannedFailover(CGenericDR& orchestrator);
  ~COracleDBPlannedFailover() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 private:
  [[maybe_unused]] CGenericDR* m_genericDR;
  EvEvent m_event;
};
