// Snapshot mounts of a priority: the machines go by boot-order group, and
// within a group in dispatch passes by datastore, so the first machines
// started share no datastore. Each machine's mount or unmount runs under a
// machine-wide named mutex per datastore, all of them taken together while
// the acquisition mutex is held: no two DR jobs on the host (nor two workers
// of one) mount on one datastore at once, and no two hold parts of
// overlapping sets while waiting for each other.
#include <stdio.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <unordered_map>

#include "SnapArrayDRBase.h"
#include "SnapDRRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/FXNamedMutex.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "engine/TimeInterval.h"

namespace {

std::atomic<bool> g_datastoreLocksDisabled(false);

// The acquisition mutex for the length of one acquisition: taken in the
// constructor (waiting without limit), given up on every way out. A wait a
// stop request of the thread cut short leaves it not held.
class CMountMutexScope {
 public:
  CMountMutexScope() : m_mutex(CSnapArrayDRBase::kMountMutexName), m_held(false) {
    m_mutex.Lock();
    m_held = m_mutex.GetLockCount() > 0;
  }
  ~CMountMutexScope() {
    if (m_held) m_mutex.Unlock();
  }
  CMountMutexScope(const CMountMutexScope&) = delete;
  CMountMutexScope& operator=(const CMountMutexScope&) = delete;
  bool IsHeld() const { return m_held; }

 private:
  FXNamedMutex m_mutex;
  bool m_held;
};

const char* OperationName(Api::VirtualAppJobPhaseType phase) {
  return DRHelper::IsSnapMount(phase) ? "Mount" : "Unmount";
}

}  // namespace

bool CSnapArrayDRBase::HandleVMMountOps(SDROperationCtx& ctx) {
  if (!IsMultiSnapImageMountAllowed() && !QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_MOUNT_AFILES, false)) return false;
  UpdateDatastoreToMountProxyMapping(ctx);
  if (DRHelper::IsSnapMount(ctx.phase)) {
    if (m_priority == nullptr) return false;
    return DispatchMount(ctx, *m_priority, *this);
  }
  if (DRHelper::IsSnapUnmount(ctx.phase)) return m_orchestrator->ProcessIDABatchOp(*this, ctx);
  return false;
}

bool CSnapArrayDRBase::DispatchMount(SDROperationCtx& ctx, const SDRPriority& priority, IDRContext& context) {
  std::map<int32_t, std::vector<TMMsg::VMDependencyOrder>> bootMap;
  m_orchestrator->GetBootMap(priority, bootMap);
  std::unordered_map<std::string, CDRInfo*> byGuid;
  DRInfoUtils::GetGuidToDRInfoMap(ctx.drInfoList, Api::DR_SITE_SOURCE, byGuid);
  size_t processed = 0;
  for (auto& boot : bootMap) {
    const int32_t order = boot.first;
    SDROperationCtx group;
    group.Copy(ctx);
    std::vector<CDRInfo*> list;
    for (const TMMsg::VMDependencyOrder& entry : boot.second) {
      const std::string& guid =
          entry.GetMsg(TMMsg::VMDependencyOrder::kVMEntity).GetString(ZnEntities::VirtualMachineEntity::kGuid);
      auto found = byGuid.find(guid);
      if (found != byGuid.end()) list.push_back(found->second);
    }
    if (list.empty()) {
      m_event.Error("DispatchMount", "No eligible vms in priority [%d].", order);
      if (!m_orchestrator->ContinueOnFailureToNextPriority()) break;
      continue;
    }
    m_event.Debug("DispatchMount", "VM count for mount : [%zu]", list.size());
    std::map<std::string, std::vector<CDRInfo*>> queues;
    GetMountQueue(list, queues);

    // A machine named twice, or in no queue, must not keep the passes going:
    // they end once every distinct machine is dispatched or a pass adds none.
    const std::set<CDRInfo*> distinct(list.begin(), list.end());
    std::set<CDRInfo*> dispatched;
    std::set<std::string> claimed;
    for (int pass = 0; dispatched.size() < distinct.size(); ++pass) {
      const size_t before = dispatched.size();
      for (auto& queue : queues) {
        for (CDRInfo* info : queue.second) {
          if (dispatched.count(info) != 0) continue;
          SnapDRRepInfo* rep = GetSnapRepInfo(info);
          std::vector<VirtualServer::VMDatastoreInfo> datastores;
          if (rep != nullptr) rep->GetSourceDatastores(datastores);
          if (pass == 0) {
            const bool busy = std::any_of(datastores.begin(), datastores.end(), [&](const VirtualServer::VMDatastoreInfo& d) {
              return claimed.count(d.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName)) != 0;
            });
            if (busy) break;
          }
          dispatched.insert(info);
          m_event.Debug("DispatchMount", "[I:%d] Adding replication [%d] [%s] dsCount [%zu] to dispatch list for priority [%d]",
                        pass, info->GetReplId(),
                        DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_SOURCE).c_str(),
                        datastores.size(), order);
          group.drInfoList.push_back(info);
          for (const VirtualServer::VMDatastoreInfo& d : datastores) {
            claimed.insert(d.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName));
          }
          if (pass == 0) break;
        }
      }
      if (dispatched.size() == before) break;
    }

    m_event.Debug("DispatchMount", "Dispatching [%zu] machines for priority [%d]", list.size(), order);
    if (!m_orchestrator->ProcessIDABatchOp(context, group) && !m_orchestrator->ContinueOnFailureToNextPriority()) {
      m_event.Error("DispatchMount", "Failure in processing priority [%d]. Continue on Failure [FALSE]", order);
      break;
    }
    ++processed;
    if (m_jobManager->IsQuitFlagSet()) break;
    if (bootMap.size() > 1 && processed < bootMap.size()) {
      m_jobManager->Wait(m_orchestrator->GetPriorityDelay(), "Wait before processing next priority");
    }
  }
  return true;
}

void CSnapArrayDRBase::GetMountQueue(std::vector<CDRInfo*>& machines,
                                     std::map<std::string, std::vector<CDRInfo*>>& queues) {
  std::map<std::string, std::vector<CDRInfo*>> byDatastore;
  DRInfoUtils::GetDatastoreToVMList(machines, byDatastore);
  std::vector<std::string> order;
  DRInfoUtils::GetDSQueueByVMCount(byDatastore, order, 0);
  for (const std::string& name : order) {
    std::vector<CDRInfo*> queue;
    DRInfoUtils::GetVMQueueByDSCount(byDatastore[name], queue, 0);
    queues[name] = queue;
  }
}

bool CSnapArrayDRBase::DRMountOperation(SDROperationCtx& ctx) {
  if (!PreVMMountOperation(ctx)) return false;
  if (!_VMMountOperation(ctx)) return false;
  return PostVMMountOperation(ctx);
}

bool CSnapArrayDRBase::_VMMountOperation(SDROperationCtx& ctx) {
  if (!AcquireDatastoreLocks(ctx)) return false;
  const bool mounted = VMMountOperation(ctx);
  if (!ReleaseDatastoreLocks(ctx)) return false;
  return mounted;
}

// The datastore locks are held past this function on purpose, until the
// release after the mount; the analysis looks at one function at a time.
bool CSnapArrayDRBase::AcquireDatastoreLocks(SDROperationCtx& ctx) DR_NO_THREAD_SAFETY_ANALYSIS {
  if (!IsResourceLockRequired(ctx)) return true;
  CDRInfo* info = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(info);
  if (rep == nullptr) return false;
  std::vector<VirtualServer::VMDatastoreInfo> datastores;
  rep->GetSourceDatastores(datastores);
  const char* operation = OperationName(ctx.phase);
  const std::string vmName = rep->GetSourceName();
  m_event.Debug("AcquireDatastoreLocks", "[%d] ds lock(s) required for [%s] for vm [%s]",
                static_cast<int>(datastores.size()), operation, vmName.c_str());

  char failed[128];
  snprintf(failed, sizeof failed, "Failed to acquire all ds locks for [%s]!", operation);
  // The machine's row shows why nothing was mounted: the kill's reason when
  // the job's quit flag kept the locks from being taken, before or during
  // the wait.
  bool halted = false;
  auto recordFailure = [&] {
    const int64_t jobId = ctx.jobId >= 1 ? ctx.jobId : DRJobId();
    if (halted) {
      RecordMountNotRun(ctx, jobId, rep, failed);
    } else {
      RecordPhase(ctx, jobId, DRHelper::IsSnapUnmount(ctx.phase) ? rep->GetDestinationName() : vmName, failed,
                  Api::VIRTUAL_APP_PHASE_STATE_FAILED);
    }
  };
  std::vector<FXNamedMutex*> taken;
  {
    CMountMutexScope acquisition;
    halted = !ctx.ignoreQuit && m_jobManager->IsQuitFlagSet();
    if (!acquisition.IsHeld() || halted) {
      m_event.Debug("AcquireDatastoreLocks", "Unable to acquire [%d] ds lock(s) for [%s] for vm [%s] as Quit flag is set",
                    static_cast<int>(datastores.size()), operation, vmName.c_str());
      recordFailure();
      return false;
    }
    for (VirtualServer::VMDatastoreInfo& datastore : datastores) {
      const std::string name = GetMountMutexName(rep, datastore);
      FXNamedMutex* mutex = LockOf(name);
      m_event.Debug("AcquireDatastoreLocks", "Waiting for ds acquisition lock [%s] ...", name.c_str());
      int left = kDatastoreLockTries;
      bool locked = false;
      while (left > 0) {
        if (!ctx.ignoreQuit && m_jobManager->IsQuitFlagSet()) {
          halted = true;
          break;
        }
        if (mutex->TryLock(CTimeInterval(static_cast<long long>(kDatastoreLockTryMs) * CTimeInterval::kTicksPerMillisecond))) {
          locked = true;
          break;
        }
        --left;
      }
      if (!locked) {
        if (left == 0) m_event.Debug("AcquireDatastoreLocks", "Timed out waiting to acquire ds lock [%s] ...", name.c_str());
        break;
      }
      m_event.Debug("AcquireDatastoreLocks", "Acquired datastore lock[%s]", name.c_str());
      taken.push_back(mutex);
    }
    m_event.Debug("AcquireDatastoreLocks", "[%d] ds lock(s) acquired for [%s] for vm [%s]",
                  static_cast<int>(taken.size()), operation, vmName.c_str());
  }
  if (taken.size() == datastores.size()) return true;

  m_event.Error("AcquireDatastoreLocks", "%s", failed);
  // Exactly what this attempt took goes back; a lock it waited on in vain
  // is someone else's.
  for (FXNamedMutex* mutex : taken) mutex->Unlock();
  recordFailure();
  return false;
}

// Gives up the holds AcquireDatastoreLocks left for this thread.
bool CSnapArrayDRBase::ReleaseDatastoreLocks(SDROperationCtx& ctx) DR_NO_THREAD_SAFETY_ANALYSIS {
  if (!IsResourceLockRequired(ctx)) return true;
  SnapDRRepInfo* rep = GetSnapRepInfo(ctx.GetInfo());
  if (rep == nullptr) return false;
  std::vector<VirtualServer::VMDatastoreInfo> datastores;
  rep->GetSourceDatastores(datastores);
  int released = 0;
  for (VirtualServer::VMDatastoreInfo& datastore : datastores) {
    const std::string name = GetMountMutexName(rep, datastore);
    FXNamedMutex* mutex = FindLock(name);
    if (mutex != nullptr && mutex->GetLockCount() > 0) {
      m_event.Debug("ReleaseDatastoreLocks", "Releasing ds acquisition lock [%s]", name.c_str());
      mutex->Unlock();
      ++released;
    } else {
      m_event.Debug("ReleaseDatastoreLocks", "Failed to find acquisition lock [%s]", name.c_str());
    }
  }
  m_event.Debug("ReleaseDatastoreLocks", "[%d] ds lock(s) released for [%s] for vm [%s]", released,
                OperationName(ctx.phase), rep->GetSourceName().c_str());
  if (released >= static_cast<int>(datastores.size())) return true;
  m_event.Error("ReleaseDatastoreLocks", "Failed to release all ds locks for [%s]!", OperationName(ctx.phase));
  return false;
}

std::string CSnapArrayDRBase::GetMountMutexName(SnapDRRepInfo*, VirtualServer::VMDatastoreInfo& datastore) {
  std::string name = datastore.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName);
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

bool CSnapArrayDRBase::IsResourceLockRequired(SDROperationCtx&) { return !g_datastoreLocksDisabled.load(); }

void CSnapArrayDRBase::SetDatastoreLocksDisabled(bool disabled) { g_datastoreLocksDisabled.store(disabled); }
