// Storage operations before a snapshot mount: the copies that bring the
// array copy up to date and the check that they covered every machine, the
// breaks and re-syncs of the machines' replica groups, and the filters that
// drop machines whose volumes are not in the state the next step needs.
#include <set>
#include <string>
#include <vector>

#include "SnapArrayDRBase.h"
#include "SnapArrayDRReplDataMgr.h"
#include "SnapDRRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRStorage.h"
#include "engine/SDRThreadInfo.h"
#include "engine/SDataSourceInfo.h"
#include "services/DRAppManager.h"
#include "sync/ZnThreadPool.h"

namespace {

SDataSourceInfo ReplicationsOf(const std::vector<CDRInfo*>& machines) {
  SDataSourceInfo info;
  DRInfoUtils::GetReplIds(machines, info.replIds);
  return info;
}

}  // namespace

bool CSnapArrayDRBase::StorageOps(SDROperationCtx& ctx) {
  CDRInfo* first = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(first);
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  if (rep == nullptr || manager == nullptr || ctx.subclient == nullptr) return false;
  if (!QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_REPLICA_GROUP_INFO, false)) return false;
  const int copyId = rep->GetCopyId();
  m_event.DebugLvl(2, "StorageOps", "Populating storage details for copyId [%d]", copyId);
  // The copies of a storage-array copy have no copy tasks: the machines are
  // the list.
  SDRStorage storage(false);
  if (!manager->GetStorageDetails(copyId, ctx.subclient->GetAppId(), storage)) return false;
  storage.subclient = ctx.subclient;
  std::set<SDRStorage> storages{storage};
  if (!m_orchestrator->HandleCopyOps(storages, *ctx.subclient, ctx.drInfoList)) {
    m_event.Error("StorageOps", "Error running CopyOps => copyId [%d]", copyId);
    return false;
  }
  SDataSourceInfo reload = ReplicationsOf(ctx.drInfoList);
  reload.drGroupId = m_appManager->GetVAppId();
  manager->ReloadData(reload);
  if (!QuerySnapDataMgr(ctx, SNAP_REPLMGR_REQ_MOUNT_AFILES, false)) return false;
  if (IsBackupJobSynced(ctx)) return true;
  m_event.Error("StorageOps", "Failing storage operations as one of the vms wasn't synced as part of aux job");
  return false;
}

bool CSnapArrayDRBase::IsBackupJobSynced(SDROperationCtx& ctx) {
  const long long backupJobId = ctx.subclient != nullptr ? ctx.subclient->GetBkpJobId() : 0;
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep == nullptr) continue;
    const int64_t synced = rep->GetLastSyncedJobId();
    if (synced < backupJobId) {
      m_event.Debug("IsBackupJobSynced", "Last synced job [%lu] is lesser than DR Backup job [%lld] for vm [%s]",
                    static_cast<unsigned long>(synced), backupJobId, rep->GetSourceName().c_str());
      return false;
    }
  }
  return true;
}

bool CSnapArrayDRBase::ChangeSyncStatus(SDROperationCtx& ctx, int copyId, Api::VirtualAppJobPhaseType phase, bool all) {
  ctx.phase = phase;
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  std::map<int, SSMReplicaGroup*> groups;
  if (!ReplicaGroupsOf(ctx, "ChangeSyncStatus", groups)) return false;
  const DRThreadType threadType = DRInfoUtils::GetDRThreadType(phase);
  const E_VOLUME_RELATIONSHIP_STATUS success = DRInfoUtils::GetSuccessStatus(phase);
  int successes = 0;
  if (groups.size() <= 1) {
    for (auto& entry : groups) {
      if (manager->ChangeRelationShipStatus(copyId, *entry.second, phase, false)) ++successes;
    }
  } else {
    ZnThreadPool* pool = m_orchestrator->InitDrThreadPool(kRelationshipPoolThreads);
    if (pool == nullptr) return false;
    // Each work item acts on a copy of its group whose status starts "not
    // recorded", so what the count reads is what this change did, and a
    // group another subclient group shares is not reset under it.
    std::vector<SSMReplicaGroup> work;
    std::vector<SSMReplicaGroup*> shared;
    work.reserve(groups.size());
    for (auto& entry : groups) {
      work.push_back(*entry.second);
      work.back().SetRelationshipStatus(VOLUME_RELATIONSHIP_NOT_RECORDED);
      shared.push_back(entry.second);
    }
    std::vector<SDROperationCtx> contexts(work.size());
    for (size_t i = 0; i < work.size(); ++i) {
      contexts[i].Copy(ctx);
      contexts[i].phase = phase;
      contexts[i].priority = ctx.priority;
      contexts[i].subclient = ctx.subclient;
      contexts[i].jobId = ctx.jobId;
      contexts[i].drInfoList.assign(1, ctx.GetInfo());
      contexts[i].replicaGroup = &work[i];
    }
    for (size_t i = 0; i < contexts.size(); ++i) {
      SDRThreadInfo* item = new SDRThreadInfo(this, &contexts[i], threadType);
      item->SetDRObject(m_drObject);
      if (!pool->doWork(&CDRBase::DRThreadStatic, item)) delete item;
    }
    m_orchestrator->ThreadPoolWait(pool, DRInfoUtils::GetDRThreadTypeStr(threadType), std::to_string(work.size()),
                                   false);
    for (size_t i = 0; i < work.size(); ++i) {
      if (work[i].GetRelationshipStatus() != success) continue;
      ++successes;
      shared[i]->SetRelationshipStatus(success);
    }
  }
  const std::string list = DRInfoUtils::GetReplStr(ctx.drInfoList);
  m_event.Debug("ChangeSyncStatus", "[%s] successful for [%d] out of [%zu] volumes on copy [%d] and replList [%s]",
                DRInfoUtils::GetDRThreadTypeStr(threadType).c_str(), successes, groups.size(), copyId, list.c_str());
  if (all) return successes == static_cast<int>(groups.size());
  return successes >= 1;
}

bool CSnapArrayDRBase::ReplicaGroupsOf(SDROperationCtx& ctx, const char* function,
                                       std::map<int, SSMReplicaGroup*>& groups) {
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  SDataSourceInfo info = ReplicationsOf(ctx.drInfoList);
  if (manager != nullptr && manager->GetReplicaGroups(info, groups)) return true;
  m_event.Debug(function, "Failed to get replica Group map for vms");
  return false;
}

bool CSnapArrayDRBase::_RunPreMountOps(SDROperationCtx& ctx) {
  SnapDRRepInfo* rep = GetSnapRepInfo(ctx.GetInfo());
  if (rep == nullptr) return false;
  if (!ChangeSyncStatus(ctx, rep->GetCopyId(), Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP, true)) return false;
  if (!LoadMountList(ctx)) return false;
  const int appId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : DRInfoUtils::GetAppId(ctx.GetInfo());
  return m_appManager->ChangeSubclientActivity(appId, false);
}

bool CSnapArrayDRBase::LoadMountList(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> kept;
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep != nullptr && rep->IsAllVolumeRelationsBroken()) {
      kept.push_back(info);
    } else {
      UpdateFailoverStatus(info, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
    }
  }
  ctx.drInfoList.swap(kept);
  if (!ctx.drInfoList.empty()) return true;
  m_event.Debug("LoadMountList", "There are no eligible vms for mount operations");
  return false;
}

bool CSnapArrayDRBase::CanSyncVolumes(SDROperationCtx& ctx, bool& countFailed) {
  countFailed = false;
  CDRInfo* first = ctx.GetInfo();
  SnapDRRepInfo* rep = GetSnapRepInfo(first);
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  SnapDRContext snapCtx;
  GetSnapCopyContext(ctx, snapCtx);
  int broken = 0;
  SDataSourceInfo info = ReplicationsOf(ctx.drInfoList);
  if (rep == nullptr || manager == nullptr || !manager->GetBrokenRelationshipCount(snapCtx, info, broken)) {
    m_event.Debug("CanSyncVolumes", "Error querying broken relationship count");
    countFailed = true;
    return false;
  }
  const bool sync = broken == 0;
  const int appId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : DRInfoUtils::GetAppId(first);
  m_event.Debug("CanSyncVolumes", "SYNC is [%s] for all volumes for copy [%d] appId [%d]", sync ? "ON" : "OFF",
                rep->GetCopyId(), appId);
  return sync;
}

bool CSnapArrayDRBase::CanSyncVolumes(SDROperationCtx& ctx) {
  bool countFailed = false;
  return CanSyncVolumes(ctx, countFailed);
}

bool CSnapArrayDRBase::FilterLUNMappedVMs(SDROperationCtx& ctx) {
  CSnapArrayDRReplDataMgr* manager = GetSnapDataManager(ctx);
  std::map<int, SSMReplicaGroup*> groups;
  if (!ReplicaGroupsOf(ctx, "FilterLUNMappedVMs", groups)) return false;
  std::set<int> failed;
  for (auto& entry : groups) {
    if (manager->VerifyLUNMapping(*entry.second, true)) continue;
    const SSMReplicaGroup group(*entry.second);
    m_event.Debug("FilterLUNMappedVMs", "One or more LUNs are mapped for volume [%s]", group.getDestVolume().c_str());
    for (int replId : group.ReplicationIds()) failed.insert(replId);
  }
  if (failed.empty()) {
    m_event.Debug("FilterLUNMappedVMs", "All LUNs are un-mapped for vm volumes in replList [%s]",
                  DRInfoUtils::GetReplStr(ctx.drInfoList).c_str());
  } else {
    std::vector<CDRInfo*> kept;
    for (CDRInfo* info : ctx.drInfoList) {
      if (info != nullptr && failed.count(info->GetReplId()) != 0) {
        m_event.Debug("FilterLUNMappedVMs", "Failing vm as one or more LUNs are mapped for replication [%d].",
                      info->GetReplId());
        UpdateFailoverStatus(info, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
        continue;
      }
      kept.push_back(info);
    }
    ctx.drInfoList.swap(kept);
  }
  return !ctx.drInfoList.empty();
}

bool CSnapArrayDRBase::FilterMountedVMs(SDROperationCtx& ctx, Api::DRSite) {
  std::vector<CDRInfo*> kept;
  for (CDRInfo* info : ctx.drInfoList) {
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    bool unmounted = rep != nullptr && rep->IsVMAfileUnMounted();
    if (unmounted) {
      SDROperationCtx one = OneMachine(ctx, info);
      // The look-up asks whether the unmount left a VM registered: "not
      // found" is the answer hoped for, not a failure of the machine.
      one.failureNotLastPhase = true;
      if (__OP(one, ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION, false)) {
        m_event.Debug("FilterMountedVMs", "Destination VM - Replication [%d] is registered", info->GetReplId());
        unmounted = false;
      }
    }
    if (unmounted) {
      kept.push_back(info);
      continue;
    }
    m_event.Debug("FilterMountedVMs", "VM replication [%d] is NOT unmounted. Failing VM",
                  info != nullptr ? info->GetReplId() : 0);
    UpdateFailoverStatus(info, App::VSA_FAILOVER_STATUS_FAILOVER_FAILED);
  }
  ctx.drInfoList.swap(kept);
  return !ctx.drInfoList.empty();
}

bool CSnapArrayDRBase::QueryVMAfiles(SDROperationCtx& ctx, bool reQuery) {
  bool any = false;
  for (CDRInfo* info : ctx.drInfoList) {
    // A record that names no mount job (an undo's machine that no failover
    // mounted) has nothing for the query to find: its loaded mount record
    // stands, as the unmount judged it.
    SnapDRRepInfo* rep = GetSnapRepInfo(info);
    if (rep != nullptr && GetMountOpJobId(rep) == 0) {
      any = true;
      continue;
    }
    SDROperationCtx one = OneMachine(ctx, info);
    if (QuerySnapDataMgr(one, SNAP_REPLMGR_REQ_MOUNT_AFILES, reQuery)) any = true;
  }
  return any;
}
