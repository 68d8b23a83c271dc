// The DR context of a VM-replication priority: the binding to the running
// orchestrator and its job and application managers, and the behaviour that
// every VM operation class shares unless it replaces it.
#pragma once

#include <stdint.h>

#include <string>

#include "engine/IDRContext.h"
#include "drorch/ZnCriticalSection.h"
#include "log/EvEvent.h"
#include "msg/MsgEnums.h"

class CDRAppManager;
class CDRBase;
class CDRInfo;
class CDRJobManager;
class IDROrchestrator;
struct SDROperationCtx;
struct SDRPriority;

class CVSADRBase : public IDRContext {
 public:
  explicit CVSADRBase(IDROrchestrator& orchestrator);
  ~CVSADRBase() override;
  CVSADRBase(const CVSADRBase&) = delete;
  CVSADRBase& operator=(const CVSADRBase&) = delete;

  // ---- IDRContext ----
  bool PerformOperation(SDROperationCtx& ctx) override;
  bool ProcessPriority(const SDRPriority& priority) override;
  bool PostProcessPriority(const SDRPriority& priority) override;
  bool ProcessDROperationThread(SDROperationCtx& ctx) override;
  bool CleanupDROperationThread(SDROperationCtx& ctx) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool IsMachineEligible(CDRInfo* info) override;
  bool Cleanup(const SDRPriority& priority) override;

  // ---- Defaults the operation classes replace ----
  virtual bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status);
  virtual bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status);
  virtual bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref);
  virtual bool PostReplicationThread(SDROperationCtx& ctx);
  virtual bool TestBoot(SDROperationCtx& ctx);
  virtual bool Failover(SDROperationCtx& ctx);
  virtual void LoadOperationConfig(SDROperationCtx& ctx);
  virtual bool PerformPostDrOps(SDROperationCtx& ctx);
  virtual bool _PreReplication(SDROperationCtx& ctx);
  virtual bool DeleteDestVM(SDROperationCtx& ctx);
  virtual bool HandleSyncFailure(SDROperationCtx& ctx, CDRInfo* info);

  void SetVMOperationAsync(SDROperationCtx& ctx);
  void ResetVMOperationAsync(SDROperationCtx& ctx);

 protected:
  int64_t m_jobId;
  EvEvent m_event;
  std::string m_failbackRestoreText;
  CDRJobManager* m_jobManager;
  CDRAppManager* m_appManager;
  // Serialises the edits of tasks and schedules.
  ZnCriticalSection m_taskEditLock;
  CDRBase* m_orchestrator;
};
