// DR thread pools of the orchestrator: one pool per batch of work, items
// dispatched by DRThreadStatic, one wait that can give up on a quit; and the
// eligibility filters that say which machines a priority's work covers.
#include <stdint.h>

#include <algorithm>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "DRBase.h"
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "drorch/DRJobManager.h"
#include "IDRBaseInfo.h"
#include "IDRContext.h"
#include "SDROSubclient.h"
#include "SDROperationCtx.h"
#include "SDRPriority.h"
#include "SDRThreadInfo.h"
#include "app/SSMReplicaGroup.h"
#include "log/EvEvent.h"
#include "sync/ZnThreadPool.h"
#include "time/PlatformClock.h"

namespace {

const int kSubclientPoolThreads = 20;

// Items the pool drops without running (a terminated pool) are freed here;
// items that ran were freed by DRThreadStatic.
void DeleteDroppedItem(void* item) { delete static_cast<SDRThreadInfo*>(item); }

}  // namespace

ZnThreadPool* CDRBase::InitDrThreadPool(int threads) {
  int count = threads >= 1 ? threads : m_appManager.GetMaxParallelThreadCount();
  if (count < 1) {
    // A stored maximum of 0 (or less) would give a pool that runs nothing and
    // fails every threaded step.
    m_event.Debug("InitDrThreadPool", "Thread count [%d] is below 1. Using [1] thread", count);
    count = 1;
  }
  ZnThreadPool* pool = new (std::nothrow) ZnThreadPool();
  if (pool == nullptr) {
    m_event.Error("InitDrThreadPool", "ZnThreadPool memory allocation failed.");
    return nullptr;
  }
  pool->setItemDeleter(&DeleteDroppedItem);
  if (!pool->initThreadPool(4294967295UL, 1, static_cast<unsigned int>(count), 1)) {
    m_event.Error("InitDrThreadPool", "Failed to initialize thread pool.");
    delete pool;
    return nullptr;
  }
  m_event.Debug("InitDrThreadPool", "Initialized thread pool with maxDRThreadPoolCount = [%d]", count);
  return pool;
}

bool CDRBase::DeInitDrThreadPool(ZnThreadPool* pool) {
  if (pool == nullptr) return true;
  delete pool;
  m_event.Debug("DeInitDrThreadPool", "De-initialized DR thread pool");
  return true;
}

void CDRBase::ThreadPoolWait(ZnThreadPool* pool, std::string name, std::string listText, bool pollWithQuit) {
  m_event.Debug("ThreadPoolWait", "Waiting for all [%s] operation threads to complete => [%s]", name.c_str(),
                listText.c_str());
  if (pollWithQuit && !m_jobManager->IsDRJobCleanupPhase()) {
    while (pool->getTotalWorkerListCount() > 0 || pool->getCurrentBusyThreadCount() > 0) {
      if (m_jobManager->IsQuitFlagSet()) {
        int waitMs = m_jobManager->IsJobKillIssued() ? 60000 : 120000;
        m_event.Debug("ThreadPoolWait", "Quit flag is set. Will terminate [%s] thread pool in [%d] seconds",
                      name.c_str(), waitMs / 1000);
        XOSLEEP(waitMs);
        // Queued items are dropped (and freed by the pool's deleter); running
        // ones are asked to stop and finish before this returns, so the
        // operation contexts they use, owned by the launcher, outlive them.
        pool->terminateAllThreads();
        m_event.Debug("ThreadPoolWait", "Terminated [%s] thread pool !", name.c_str());
        break;
      }
      XOSLEEP(100);
    }
  } else {
    pool->waitForAllThreads(true, true, true, -1);
  }
  m_event.Debug("ThreadPoolWait", "All [%s] operation threads have completed => [%s]", name.c_str(),
                listText.c_str());
  DeInitDrThreadPool(pool);
}

void* CDRBase::DRThreadStatic(void* arg) {
  SDRThreadInfo* item = static_cast<SDRThreadInfo*>(arg);
  if (item == nullptr) return nullptr;
  EvEvent event;
  CDRBase* orchestrator = static_cast<CDRBase*>(item->GetDRObject());
  if (orchestrator != nullptr) event.setJobId(orchestrator->m_jobId);
  IDRContext* context = item->context;
  SDROperationCtx* opCtx = item->opCtx;
  switch (item->threadType) {
    case DR_THREAD_SUBCLIENT: {
      SDROSubclient* group = item->subclient;
      if (context == nullptr || opCtx == nullptr || group == nullptr) break;
      event.Debug("DRThreadStatic", "Spawned DR process thread for subclient [%d]", group->GetAppId());
      bool ok = context->ProcessDRSubclientThread(*opCtx);
      group->SetSuccess(ok);
      event.Debug("DRThreadStatic", "Finished DR subclient ops for appId [%d]", group->GetAppId());
      break;
    }
    case DR_THREAD_SUB_PRIORITY:
      if (orchestrator != nullptr && item->priority != nullptr) {
        item->priority->success = orchestrator->RunPriority(*item->priority);
      }
      break;
    case DR_THREAD_GENERIC_OP: {
      if (context == nullptr || opCtx == nullptr) break;
      if (opCtx->drInfoList.empty() && item->info != nullptr) opCtx->drInfoList.push_back(item->info);
      // The outcome is filed under the key the launcher will look up. A body
      // that runs inner steps resets the context's batch operation, so the
      // key is taken from the context as the item was made, before the body.
      SDROperationCtx launched(*opCtx);
      const int32_t entityId = item->info != nullptr ? item->info->GetEntityId() : 0;
      const std::string opText = DRInfoUtils::GetBatchOpStr(launched.batchOp);
      event.Debug("DRThreadStatic", "Spawned [%s] operation-thread for DR entity [%d]", opText.c_str(), entityId);
      bool ok = context->ProcessDROperationThread(*opCtx);
      if (!ok) context->CleanupDROperationThread(*opCtx);
      if (item->info != nullptr) item->info->SetBatchOpStatus(launched, ok);
      event.Debug("DRThreadStatic", "Finished [%s] operation-thread for DR entity [%d]", opText.c_str(), entityId);
      break;
    }
    case DR_THREAD_BREAK_VOLUME_RELATIONSHIP:
    case DR_THREAD_RESYNC_VOLUME_RELATIONSHIP: {
      if (context == nullptr || opCtx == nullptr) break;
      bool ok = context->PerformOperation(*opCtx);
      if (ok && opCtx->replicaGroup != nullptr) {
        opCtx->replicaGroup->SetRelationshipStatus(DRInfoUtils::GetSuccessStatus(opCtx->phase));
      }
      break;
    }
    default:
      event.DebugLvl(2, "DRThreadStatic", "No work for DR thread type [%d]", static_cast<int>(item->threadType));
      break;
  }
  if (orchestrator != nullptr) orchestrator->Refresh();
  delete item;
  return nullptr;
}

bool CDRBase::RunParallelDROperation(SDROperationCtx& ctx, IDRContext* context) {
  const std::string listText = DRInfoUtils::GetDRListStr(ctx.drInfoList);
  if (ctx.batchOp == ZNDR::BATCH_OP_NONE) ctx.batchOp = DRInfoUtils::GetBatchOp(ctx);
  if (ctx.batchOp == ZNDR::BATCH_OP_NONE) {
    m_event.Debug("RunParallelDROperation", "Batch-op type not set for threaded operation. Failing operation");
    return false;
  }
  const std::string opText = DRInfoUtils::GetBatchOpStr(ctx.batchOp);

  // One context per machine, alive until the wait below has returned; the
  // vector is sized first so no context moves once an item points to it.
  std::vector<SDROperationCtx> perMachine(ctx.drInfoList.size());
  for (size_t i = 0; i < ctx.drInfoList.size(); ++i) {
    SDROperationCtx& one = perMachine[i];
    one.Copy(ctx);
    // What Copy leaves alone but the inline path would keep: the body sees
    // the same priority, group, replica group and job as its parent.
    one.priority = ctx.priority;
    one.subclient = ctx.subclient;
    one.replicaGroup = ctx.replicaGroup;
    one.jobId = ctx.jobId;
    one.drInfoList.assign(1, ctx.drInfoList[i]);
  }

  const int machines = static_cast<int>(std::min<size_t>(ctx.drInfoList.size(), INT32_MAX));
  ZnThreadPool* pool = InitDrThreadPool(std::min(machines, m_appManager.GetMaxParallelThreadCount()));
  if (pool == nullptr) return false;

  for (size_t i = 0; i < perMachine.size(); ++i) {
    SDRThreadInfo* item = new SDRThreadInfo(context, ctx.drInfoList[i], &perMachine[i]);
    item->SetDRObject(this);
    if (!pool->doWork(&CDRBase::DRThreadStatic, item)) delete item;
  }
  ThreadPoolWait(pool, opText, listText, ctx.pollWithQuit);
  return true;
}

bool CDRBase::RunParallelSubclientOps(std::vector<SDROSubclient>& subclients, IDRContext* context) {
  ZnThreadPool* pool = InitDrThreadPool(kSubclientPoolThreads);
  if (pool == nullptr) return false;
  std::vector<SDROperationCtx> perGroup(subclients.size());
  for (size_t i = 0; i < subclients.size(); ++i) {
    SDROperationCtx& one = perGroup[i];
    one.drInfoList = subclients[i].GetInputList();
    CDRInfo* first = one.GetInfo();
    one.priority = first != nullptr ? first->GetPriority() : nullptr;
    one.subclient = &subclients[i];
  }
  for (size_t i = 0; i < subclients.size(); ++i) {
    SDRThreadInfo* item = new SDRThreadInfo(context, &subclients[i], &perGroup[i]);
    item->SetDRObject(this);
    if (!pool->doWork(&CDRBase::DRThreadStatic, item)) delete item;
  }
  ThreadPoolWait(pool, DRInfoUtils::GetDRThreadTypeStr(DR_THREAD_SUBCLIENT), std::to_string(subclients.size()),
                 false);
  return true;
}

bool CDRBase::ProcessSubclientsInPriority(const SDRPriority& priority, std::vector<SDROSubclient>& subclients,
                                          IDRContext* context) {
  if (!GetSubclientsForPriority(priority, subclients, context)) return false;
  if (subclients.empty()) return false;
  int count = 0;
  if (subclients.size() == 1) {
    SDROSubclient& group = subclients.front();
    m_event.Debug("ProcessSubclientsInPriority", "Starting DR subclient ops for appId [%d]", group.GetAppId());
    SDROperationCtx one;
    one.drInfoList = group.GetInputList();
    CDRInfo* first = one.GetInfo();
    one.priority = first != nullptr ? first->GetPriority() : nullptr;
    one.subclient = &group;
    if (context->ProcessDRSubclientThread(one)) ++count;
    m_event.Debug("ProcessSubclientsInPriority", "Finished DR subclient ops for appId [%d]", group.GetAppId());
  } else {
    if (!RunParallelSubclientOps(subclients, context)) return false;
    for (const SDROSubclient& group : subclients) {
      if (group.IsSuccess()) ++count;
    }
  }
  return count > 0;
}

bool CDRBase::InitDRSubclient(SDROperationCtx& ctx) {
  SDROSubclient* group = ctx.subclient;
  if (group == nullptr) return true;
  m_event.Debug("InitDRSubclient", "Beginning subclient[id =%d] operations for vms in replication list [%s]",
                group->GetAppId(), DRInfoUtils::GetReplStr(group->GetInputList()).c_str());
  DRInfoUtils::SetRunning(group->GetInputList());
  return true;
}

bool CDRBase::IsThreadsApplicable(SDROperationCtx& ctx, std::vector<CDRInfo*>& list) {
  return DRInfoUtils::IsThreadsApplicableForPhase(ctx, m_drType) && list.size() > 1;
}

// ---- Eligibility filters ----------------------------------------------------
// Each walks the orchestrator's machine list in order; an entry that is not a
// machine record ends the walk with false.

bool CDRBase::PrepareEligibleMachinesForPriority(const SDRPriority& priority, std::vector<CDRInfo*>& out,
                                                 IDRContext* context) {
  for (IDRBaseInfo* base : m_drInfoList) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr) return false;
    if (info->GetInfoSource() != priority.infoSource || !IsDRInfoApplicableForCurrentPriority(priority, info)) {
      continue;
    }
    if (context != nullptr && context->IsMachineEligible(info)) {
      out.push_back(info);
    } else {
      info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
    }
  }
  return !out.empty();
}

bool CDRBase::PrepareEligibleSubclientsForPriority(const SDRPriority& priority, std::set<int>& out,
                                                   IDRContext* context) {
  for (IDRBaseInfo* base : m_drInfoList) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr) return false;
    if (info->GetInfoSource() != priority.infoSource || !IsDRInfoApplicableForCurrentPriority(priority, info)) {
      continue;
    }
    if (context == nullptr || !context->IsMachineEligible(info)) {
      info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
      continue;
    }
    int32_t appId = DRInfoUtils::GetAppId(info);
    if (appId < 1) {
      m_event.Error("PrepareEligibleSubclientsForPriority", "Invalid AppId [%d]", appId);
      return false;
    }
    out.insert(appId);
  }
  return !out.empty();
}

bool CDRBase::GetDRInfoListForPriority(const SDRPriority& priority, std::vector<CDRInfo*>& out, int appId) {
  for (IDRBaseInfo* base : m_drInfoList) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr) return false;
    if (info->GetInfoSource() != priority.infoSource || !IsDRInfoApplicableForCurrentPriority(priority, info)) {
      continue;
    }
    if (info->IsSkipped() || info->IsPending()) continue;
    if (appId >= 1 && DRInfoUtils::GetAppId(info) != appId) continue;
    out.push_back(info);
  }
  return !out.empty();
}

bool CDRBase::GetSubclientsForPriority(const SDRPriority& priority, std::vector<SDROSubclient>& out,
                                       IDRContext* context) {
  std::set<int> appIds;
  PrepareEligibleSubclientsForPriority(priority, appIds, context);
  for (int appId : appIds) {
    std::vector<CDRInfo*> list;
    if (!GetDRInfoListForPriority(priority, list, appId)) return false;
    SDROSubclient group(priority.order, appId);
    group.Init(list);
    out.push_back(group);
  }
  return !out.empty();
}
