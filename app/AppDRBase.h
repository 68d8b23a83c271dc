// The DR context of application (database) replications, and the base of
// the storage-array contexts.
#pragma once

#include <stdint.h>

#include "engine/IDRContext.h"
#include "log/EvEvent.h"

class CDRAppManager;
class CDRBase;
class CDRInfo;
class CDRJobManager;
class IDROrchestrator;
struct SDROperationCtx;
struct SDRPriority;

class CAppDRBase : public IDRContext {
 public:
  explicit CAppDRBase(IDROrchestrator& orchestrator);
  ~CAppDRBase() override;
  CAppDRBase(const CAppDRBase&) = delete;
  CAppDRBase& operator=(const CAppDRBase&) = delete;

  // ---- IDRContext ----
  bool PerformOperation(SDROperationCtx& ctx) override;
  bool ProcessPriority(const SDRPriority& priority) override;
  bool PostProcessPriority(const SDRPriority& priority) override;
  bool ProcessDROperationThread(SDROperationCtx& ctx) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool IsMachineEligible(CDRInfo* info) override;
  bool Cleanup(const SDRPriority& priority) override;

  virtual bool Failover(SDROperationCtx& ctx);
  virtual bool StorageOps(SDROperationCtx& ctx);
  virtual bool Shutdown(SDROperationCtx& ctx);
  virtual bool PowerOn(SDROperationCtx& ctx);

 protected:
  SDRPriority* m_priority;
  EvEvent m_event;
  int32_t m_flag;
  IDROrchestrator* m_drObject;
  int32_t m_syncWaitSeconds;
  CDRJobManager* m_jobManager;
  CDRAppManager* m_appManager;
  CDRBase* m_orchestrator;
};
