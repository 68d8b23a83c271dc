// Building the DR job's priority queue at Initialize: from the DR group's
// VM groups (one sub-priority per information source and group priority, or
// one boot-ordered priority), or from the replication monitor's list; each
// priority gets its data source and the machine records of its replications.
#include <stdint.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "DRBase.h"
#include "DRDataSource.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "IRepInfo.h"
#include "SDRInfoCtx.h"
#include "SDRPriority.h"
#include "SDataSourceInfo.h"
#include "drorch/DRJobManager.h"

namespace {

TMMsg::DROpSourceType EntrySource(const CNMessageBase& entry) {
  return static_cast<TMMsg::DROpSourceType>(entry.Has(TMMsg::VMDependencyOrder::kInformationSource)
                                                ? entry.GetInt32(TMMsg::VMDependencyOrder::kInformationSource)
                                                : 0);
}

// The delay and continue settings of a priority come from its first group.
void TakeGroupSettings(const TMMsg::VMGroup& from, TMMsg::VMGroup& to, int32_t priority) {
  to.SetInt32(TMMsg::VMGroup::kDelayMinutes, from.GetInt32(TMMsg::VMGroup::kDelayMinutes));
  to.SetInt32(TMMsg::VMGroup::kContinueOnFailure, from.GetInt32(TMMsg::VMGroup::kContinueOnFailure) != 0 ? 1 : 0);
  to.SetInt32(TMMsg::VMGroup::kPriority, priority);
}

}  // namespace

bool CDRBase::InitInvocation() {
  if (m_appManager.IsMonitorBasedDR()) {
    m_event.Debug("InitInvocation", "Starting Monitor based DR");
    return InitMonitorBasedInvocation();
  }
  m_event.Debug("InitInvocation", "Initiated from Monitor set as [false]. Starting Group based DR");
  return InitDRGroupInvocation();
}

bool CDRBase::InitDRGroupInvocation() {
  if (!GenerateSDRPriority()) {
    m_event.Error("InitDRGroupInvocation", "Error in generating SDRPriorities.");
    return false;
  }
  AddRemovedFromGroup();
  // A priority failing here leaves the ones already filed in the queue;
  // every record stays owned by the creation-order list.
  for (SDRPriority* priority : m_priorities) {
    SetInfoSource(*priority);
    if (!SetupDataSource(*priority)) return false;
    m_priorityQueue[priority->order].push_back(priority);
  }
  m_event.Debug("InitDRGroupInvocation", "DR Priority-Queue initialized with [%zu] member(s)", m_priorityQueue.size());
  return true;
}

bool CDRBase::GenerateSDRPriority() {
  if (DRInfoUtils::IsPriorityBootBased(m_appManager.GetReplicationType())) return GenerateBootBasedSDRPriority();

  // Buckets in the order their key is first met, so sub-priorities of one
  // order number are made (and later logged and started) in DR group order.
  typedef std::pair<const TMMsg::VMGroup*, const CNMessageBase*> SPair;
  std::vector<std::string> keys;
  std::map<std::string, std::vector<SPair>> buckets;
  const std::vector<TMMsg::VMGroup>& groups = m_appManager.GetVAppGroups();
  for (const TMMsg::VMGroup& group : groups) {
    if (!group.Has(TMMsg::VMGroup::kVMSequence)) {
      m_event.Error("GenerateSDRPriority", "VmSequence not set for one or more groups. Exiting");
      return false;
    }
    for (size_t i = 0; i < group.ListSize(TMMsg::VMGroup::kVMSequence); ++i) {
      const CNMessageBase& entry = group.GetListMsg(TMMsg::VMGroup::kVMSequence, i);
      std::string key = std::to_string(static_cast<int>(EntrySource(entry))) + "_" +
                        std::to_string(group.GetInt32(TMMsg::VMGroup::kPriority));
      auto it = buckets.find(key);
      if (it == buckets.end()) {
        keys.push_back(key);
        it = buckets.emplace(key, std::vector<SPair>()).first;
      }
      it->second.push_back(SPair(&group, &entry));
    }
  }

  for (const std::string& key : keys) {
    const std::vector<SPair>& bucket = buckets[key];
    const TMMsg::VMGroup& first = *bucket.front().first;
    SDRPriority* priority = new SDRPriority();
    TakeGroupSettings(first, priority->vmGroup, first.GetInt32(TMMsg::VMGroup::kPriority));
    priority->vmGroup.TouchField(TMMsg::VMGroup::kVMSequence);
    for (const SPair& pair : bucket) priority->vmGroup.AppendMsg(TMMsg::VMGroup::kVMSequence, *pair.second);
    SetupSequence(EntrySource(*bucket.front().second), *priority);
    priority->order = first.GetInt32(TMMsg::VMGroup::kPriority);
    // The machines' status writes name the DR group through their priority.
    priority->drGroupId = m_appManager.GetVAppId();
    m_priorities.push_back(priority);
  }
  m_event.Debug("GenerateSDRPriority", "Extracted [%zu] sub-priorities from DRGroup configuration",
                m_priorities.size());
  return true;
}

bool CDRBase::GenerateBootBasedSDRPriority() {
  SDRPriority* priority = new SDRPriority();
  priority->vmGroup.TouchField(TMMsg::VMGroup::kVMSequence);
  bool result = true;

  const bool selective = m_appManager.IsUseSelectiveVMReplicationSet();
  std::vector<int> selected;
  if (selective && !m_appManager.GetReplList(selected)) {
    delete priority;
    return false;
  }

  bool first = true;
  for (const TMMsg::VMGroup& group : m_appManager.GetVAppGroups()) {
    if (!group.Has(TMMsg::VMGroup::kVMSequence)) {
      m_event.Error("GenerateBootBasedSDRPriority", "VmSequence not set for one or more groups. Exiting");
      result = false;
      break;
    }
    const int32_t order = group.GetInt32(TMMsg::VMGroup::kPriority);
    for (size_t i = 0; i < group.ListSize(TMMsg::VMGroup::kVMSequence); ++i) {
      const CNMessageBase& entry = group.GetListMsg(TMMsg::VMGroup::kVMSequence, i);
      if (selective) {
        const int64_t replId = entry.GetInt64(TMMsg::VMDependencyOrder::kReplicationId);
        bool kept = false;
        for (int id : selected) kept = kept || id == replId;
        if (!kept) continue;
      }
      CNMessageBase& kept = priority->vmGroup.AddMsg(TMMsg::VMGroup::kVMSequence);
      kept = entry;
      kept.SetInt32(TMMsg::VMDependencyOrder::kBootOrder, order);
      const CNMessageBase& vm = entry.GetMsg(TMMsg::VMDependencyOrder::kVMEntity);
      m_event.Debug("GenerateBootBasedSDRPriority", "VM %-25s => Priority list order [%d]",
                    vm.GetString(ZnEntities::VirtualMachineEntity::kName).c_str(), order);
    }
    if (first) {
      TakeGroupSettings(group, priority->vmGroup, 0);
      first = false;
    }
  }
  if (!result) {
    delete priority;
    return false;
  }
  priority->drGroupId = m_appManager.GetVAppId();
  m_priorities.push_back(priority);
  return true;
}

bool CDRBase::InitMonitorBasedInvocation() {
  std::vector<int> ids;
  if (!m_appManager.GetReplList(ids)) return false;
  SDRPriority* priority = new SDRPriority();
  priority->infoSource = static_cast<TMMsg::DROpSourceType>(m_appManager.GetMonitorType());
  m_event.Debug("InitMonitorBasedInvocation", "Found Info Source for Monitor invocation as [%s]",
                DRHelper::GetInfoSourceStr(priority->infoSource).c_str());
  m_priorities.push_back(priority);
  priority->replIds.assign(ids.begin(), ids.end());
  priority->vmGroup.SetInt32(TMMsg::VMGroup::kPriority, 0);
  if (!SetupDataSource(*priority)) return false;
  m_priorityQueue[0].push_back(priority);
  return true;
}

bool CDRBase::SetInfoSource(SDRPriority& priority) {
  const TMMsg::VMGroup& group = priority.vmGroup;
  if (group.Has(TMMsg::VMGroup::kVMSequence) && group.ListSize(TMMsg::VMGroup::kVMSequence) > 0) {
    priority.infoSource = EntrySource(group.GetListMsg(TMMsg::VMGroup::kVMSequence, 0));
  }
  if (m_appManager.GetReplicationType() == TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY) {
    priority.infoSource = TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
  }
  return true;
}

bool CDRBase::SetupDataSource(SDRPriority& priority) {
  switch (priority.infoSource) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION:
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION: {
      bool result = SetupReplDataSource(priority);
      if (m_drInfoList.empty()) m_event.Error("SetupDataSource", "DR list empty for priority [%d]", priority.order);
      return result;
    }
    default:
      // Physical machines need no data source.
      return true;
  }
}

bool CDRBase::SetupReplDataSource(SDRPriority& priority) {
  if (!m_appManager.IsMonitorBasedDR()) {
    std::vector<int> ids;
    if (!DRHelper::GetReplicationList(priority.vmGroup, ids)) return false;
    priority.replIds.assign(ids.begin(), ids.end());
  }
  if (priority.replIds.empty()) {
    m_event.Error("SetupReplDataSource", "Replication list empty for priority [%d]", priority.order);
    return false;
  }
  SDataSourceInfo info;
  info.jobId = m_jobId;
  info.drGroupId = m_appManager.GetVAppId();
  info.drType = m_drType;
  info.infoSource = priority.infoSource;
  info.replIds = priority.replIds;
  info.jobManager = m_jobManager;

  CDRDataSource* source = new CDRDataSource(info);
  if (!source->IsDataLoaded()) {
    m_event.Error("SetupReplDataSource", "Error in loading data for priority [%d] ", priority.order);
    // Nobody else holds it yet.
    delete source;
    return false;
  }
  m_dataSources.push_back(source);
  priority.dataSource = source;
  if (!CreateReplBasedDRInfoObjects(priority)) {
    m_event.Error("SetupReplDataSource", "Error setting up CDRInfo for priority [%d] ", priority.order);
    return false;
  }
  m_event.Debug("SetupReplDataSource", "Successfully setup [Replication] datasource for priority [%d]",
                priority.order);
  return true;
}

bool CDRBase::CreateReplBasedDRInfoObjects(SDRPriority& priority) {
  m_event.DebugLvl(2, "CreateReplBasedDRInfoObjects", "Setting up CDRInfo for priority [%d]", priority.order);
  const size_t before = m_drInfoList.size();
  for (int32_t replId : priority.replIds) {
    SDataSourceInfo info;
    info.replId = replId;
    info.jobId = m_jobId;
    IRepInfo* rep = priority.dataSource != nullptr ? priority.dataSource->FetchReplData(info) : nullptr;
    if (rep == nullptr && IsCleanupRestart()) {
      // A clean-up run again finds its own removals gone, which are done,
      // and maybe another job's since it stopped, which are not its success.
      const bool own = IsRemovedByEarlierCleanupRun(replId);
      CDRInfo* record = MakeInfo(priority, info);
      AdoptInfo(record);
      record->SetReplicationRemoved();
      if (!own) {
        m_event.Debug("CreateReplBasedDRInfoObjects",
                      "Replication [%d] has no record and no earlier run of DR job [%lld] removed it. Skipped", replId,
                      static_cast<long long>(m_jobId));
        record->SetSkipReason("its replication has no record any more, and no earlier attempt of this job removed it");
      }
      record->SetStatus(own ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
      continue;
    }
    // A replication without its record fails the whole priority.
    if (rep == nullptr) return false;
    info.drGroupId = m_appManager.GetVAppId();
    info.appId = rep->GetApplicationId();

    CDRInfo* record = MakeInfo(priority, info);

    m_appManager.QueryFirstTimeSyncDuringFailover(rep->GetTaskId());
    TMMsg::DROrchestrationType drType = m_drType;
    const bool preChecksDue = !DRInfoUtils::CanSkipPreCheck(record, drType) &&
                              !m_appManager.IsFirstTimeSyncDuringFailoverSet();
    if (preChecksDue && !rep->RunPreChecks()) {
      m_event.Debug("CreateReplBasedDRInfoObjects", "Pre-checks failed for repl [%d]", replId);
      m_verdicts.LeftOut(replId, rep->GetSourceName(), "its pre-checks failed");
      delete record;
      continue;
    }
    AdoptInfo(record);
  }
  return m_drInfoList.size() > before;
}

CDRInfo* CDRBase::MakeInfo(SDRPriority& priority, const SDataSourceInfo& info) {
  SDRInfoCtx ctx(priority.dataSource, info, priority);
  ctx.drType = m_drType;
  ctx.jobManager = m_jobManager;
  ctx.appManager = &m_appManager;
  return new CDRInfo(ctx);
}

bool CDRBase::IsRemovedByEarlierCleanupRun(int32_t replId) {
  // A clean-up removes the replications it completes: when it runs again
  // after its process died, those have no record any more. They are done,
  // not missing: refusing them would fail the rerun before it starts. Only
  // a removal the job's own rows record counts: a replication another job
  // removed is not this job's success. With deletion the removal follows
  // the DR VM's deletion, whose "Delete Operation" row says SUCCESS; without
  // it that row is begun before the removal and ends with it.
  if (!IsCleanupRestart()) return false;
  const TMMsg::DROrchestrationOption* options = m_appManager.GetDROrchestrationOption();
  const bool deleting =
      options != nullptr && options->GetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor) != 0;
  const int32_t state = EarlierRowState(replId, Api::VIRTUAL_APP_PHASE_DELETE_OPERATION);
  if (state != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && (deleting || state != Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS)) {
    return false;
  }
  m_event.Debug("CreateReplBasedDRInfoObjects", "Replication [%d] was removed by an earlier run of DR job [%lld]",
                replId, static_cast<long long>(m_jobId));
  return true;
}

bool CDRBase::IsCleanupRestart() const {
  return m_drType == TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM && m_jobManager != nullptr &&
         m_jobManager->IsJobRestarted();
}

int32_t CDRBase::EarlierRowState(int32_t replId, Api::VirtualAppJobPhaseType phase) {
  for (const Api::VirtualAppJob* job : m_jobManager->GetRestartHistoryOf(replId)) {
    for (size_t i = 0; i < job->ListSize(Api::VirtualAppJob::kPhases); ++i) {
      const CNMessageBase& entry = job->GetListMsg(Api::VirtualAppJob::kPhases, i);
      if (entry.GetInt32(Api::VirtualAppJobPhase::kPhaseType) == phase) {
        return entry.GetInt32(Api::VirtualAppJobPhase::kPhaseState);
      }
    }
  }
  return -1;
}

void CDRBase::AddRemovedFromGroup() {
  if (!IsCleanupRestart()) return;
  std::vector<int> listed;
  if (!m_appManager.GetReplList(listed)) return;
  std::vector<int> named;
  for (const SDRPriority* priority : m_priorities) {
    std::vector<int> ids;
    DRHelper::GetReplicationList(priority->vmGroup, ids);
    named.insert(named.end(), ids.begin(), ids.end());
  }
  SDRPriority* first = m_priorities.empty() ? nullptr : m_priorities.front();
  for (int replId : listed) {
    if (std::find(named.begin(), named.end(), replId) != named.end()) continue;
    if (first == nullptr) {
      first = new SDRPriority();
      first->vmGroup.SetInt32(TMMsg::VMGroup::kPriority, 1);
      first->vmGroup.SetInt32(TMMsg::VMGroup::kDelayMinutes, 0);
      first->vmGroup.SetInt32(TMMsg::VMGroup::kContinueOnFailure, 1);
      first->order = 1;
      first->drGroupId = m_appManager.GetVAppId();
      m_priorities.push_back(first);
    }
    CNMessageBase& entry = first->vmGroup.AddMsg(TMMsg::VMGroup::kVMSequence);
    entry.SetInt64(TMMsg::VMDependencyOrder::kReplicationId, replId);
    entry.SetInt32(TMMsg::VMDependencyOrder::kInformationSource, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
    named.push_back(replId);
    m_event.Debug("AddRemovedFromGroup", "Replication [%d] of DR job [%lld] is no longer in its DR group", replId,
                  static_cast<long long>(m_jobId));
  }
}

bool CDRBase::SetupSequence(TMMsg::DROpSourceType, SDRPriority&) { return true; }

bool CDRBase::GetBootMap(const SDRPriority& priority,
                         std::map<int32_t, std::vector<TMMsg::VMDependencyOrder>>& bootMap) {
  bootMap.clear();
  const TMMsg::VMGroup& group = priority.vmGroup;
  for (size_t i = 0; i < group.ListSize(TMMsg::VMGroup::kVMSequence); ++i) {
    const TMMsg::VMDependencyOrder& entry =
        group.GetListMsgAs<TMMsg::VMDependencyOrder>(TMMsg::VMGroup::kVMSequence, i);
    bootMap[entry.GetInt32(TMMsg::VMDependencyOrder::kBootOrder)].push_back(entry);
  }
  return true;
}
