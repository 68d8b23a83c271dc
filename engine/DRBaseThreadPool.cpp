// DR thread pools of the orchestrator: one pool per batch of work, items
// dispatched by DRThreadStatic, one wait that can give up on a quit.
#include <new>
#include <string>

#include "DRBase.h"
#include "DRJobManager.h"
#include "SDRPriority.h"
#include "SDRThreadInfo.h"
#include "log/EvEvent.h"
#include "sync/ZnThreadPool.h"
#include "time/PlatformClock.h"

namespace {

// Items the pool drops without running (a terminated pool) are freed here;
// items that ran were freed by DRThreadStatic.
void DeleteDroppedItem(void* item) { delete static_cast<SDRThreadInfo*>(item); }

}  // namespace

ZnThreadPool* CDRBase::InitDrThreadPool(int threads) {
  int count = threads >= 1 ? threads : m_appManager.GetMaxParallelThreadCount();
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
  CDRBase* orchestrator = static_cast<CDRBase*>(item->GetDRObject());
  switch (item->threadType) {
    case DR_THREAD_SUB_PRIORITY:
      if (orchestrator != nullptr && item->priority != nullptr) {
        item->priority->success = orchestrator->RunPriority(*item->priority);
      }
      break;
    default: {
      // Subclient, per-machine and volume-relationship items come with the
      // step runner; until then such an item does no work.
      EvEvent event;
      event.DebugLvl(2, "DRThreadStatic", "No work for DR thread type [%d]", static_cast<int>(item->threadType));
      break;
    }
  }
  if (orchestrator != nullptr) orchestrator->Refresh();
  delete item;
  return nullptr;
}
