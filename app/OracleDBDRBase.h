// The application DR context of Oracle database replications: starts and
// stops the database of a site.
#pragma once

#include "AppDRBase.h"
#include "log/EvEvent.h"

class COracleDBDRBase : public CAppDRBase {
 public:
  explicit COracleDBDRBase(IDROrchestrator& orchestrator);
  ~COracleDBDRBase() override;

 protected:
  EvEvent m_event;
};
