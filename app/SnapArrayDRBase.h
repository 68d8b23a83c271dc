// The DR context of storage-array replications: mounts array snapshots of
// the machines and breaks or re-syncs volume relationships; the VM work of
// its steps goes to a VM context it owns.
#pragma once

#include "AppDRBase.h"
#include "log/EvEvent.h"

class CVSADRBase;

class CSnapArrayDRBase : public CAppDRBase {
 public:
  explicit CSnapArrayDRBase(IDROrchestrator& orchestrator);
  ~CSnapArrayDRBase() override;

  bool ProcessPriority(const SDRPriority& priority) override;

 protected:
  EvEvent m_event;
  CVSADRBase* m_vsaDRBase;  // owned
};
