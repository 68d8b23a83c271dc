#include "DRInfo.h"

#include "DRDataSource.h"
#include "DRHelper.h"
#include "DRInfoUtils.h"
#include "drorch/DRJobManager.h"
#include "IRepInfo.h"
#include "SDROperationCtx.h"
#include "SDRPriority.h"
#include "log/ArgumentInfo.h"
#include "log/EvEvent.h"

namespace {

const int kPhaseFailedCause = 0x480000A7;
const uint32_t kNoState = 0xFFFFFFFFu;

// The fields of a script record that must all be set.
const SMsgField kScriptFields[] = {TMMsg::ScriptFields::kFlag, TMMsg::ScriptFields::kScriptText,
                                   TMMsg::ScriptFields::kSubRecord7, TMMsg::ScriptFields::kSubRecord4};

}  // namespace

CDRInfo::CDRInfo(SDRInfoCtx& ctx)
    : m_sourceInfo(ctx.dsInfo),
      m_drType(ctx.drType),
      m_dataSource(ctx.dataSource),
      m_priority(ctx.priority),
      m_success(false),
      m_skipped(false),
      m_pending(false),
      m_percent(0),
      m_jobManager(ctx.jobManager),
      m_appManager(ctx.appManager) {}

CDRInfo::~CDRInfo() {}

bool CDRInfo::IsDRComplete() {
  if (m_dataSource == nullptr) return false;
  return m_dataSource->IsDRComplete(m_sourceInfo);
}

void CDRInfo::SetStatus(Api::VirtualAppPhaseState state) {
  // A suspended job records no phase from the moment it finds the suspend:
  // a step under way then keeps its row in progress, and one the quit flag
  // halted may have been let pass. Completing the machine now would store a
  // status it may not have reached, and a restart would count it done and
  // never close that row. The restart completes it, judging the steps from
  // the lab as after a crash.
  if (state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && m_jobManager != nullptr && m_jobManager->IsJobSuspended()) {
    EvEvent(m_sourceInfo.jobId)
        .Debug("SetStatus", "DR job [%lld] is suspended; replication [%d] is left for its restart to complete",
               static_cast<long long>(m_sourceInfo.jobId), m_sourceInfo.replId);
    return;
  }
  m_sourceInfo.status = state;
  switch (state) {
    case Api::VIRTUAL_APP_PHASE_STATE_SUCCESS: {
      // Success shows as 100 whatever the weights gathered: the jump counts.
      const int before = GetPercentageComplete();
      m_success = true;
      ReportPercentChange(static_cast<int64_t>(GetPercentageComplete()) - before);
      if (m_dataSource != nullptr) m_dataSource->UpdateStatus(m_sourceInfo);
      break;
    }
    case Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS:
      m_underWay = true;
      if (m_dataSource != nullptr) m_dataSource->UpdateStatus(m_sourceInfo);
      break;
    case Api::VIRTUAL_APP_PHASE_STATE_SKIPPED:
      m_skipped = true;
      break;
    case Api::VIRTUAL_APP_PHASE_STATE_PENDING:
      m_pending = true;
      break;
    default:
      break;
  }
}

void CDRInfo::GetErrors(std::vector<std::string>& errors) {
  for (const std::string& error : m_errors) {
    if (!error.empty()) errors.push_back(error);
  }
}

int CDRInfo::GetPercentageComplete() { return IsSuccess() ? 100 : m_percent.load(); }

void CDRInfo::UpdatePhase(SDRPhaseCtx& phase) {
  if (m_jobManager != nullptr && m_jobManager->IsJobSuspended()) return;
  UpdatePhaseMap(phase);
  if (!phase.notLastPhase) {
    m_lastPhase = phase;
    m_stepBegun = true;
  }
  if (phase.state == Api::VIRTUAL_APP_PHASE_STATE_FAILED) {
    if (!m_hasFailure) {
      m_firstFailure = phase;
      m_hasFailure = true;
    }
    if (!phase.notLastPhase && !m_hasStepFailure) {
      m_firstStepFailure = phase;
      m_hasStepFailure = true;
    } else if (phase.notLastPhase && !m_hasFailureAfterKill && m_jobManager != nullptr &&
               m_jobManager->IsJobKillIssued()) {
      m_firstFailureAfterKill = phase;
      m_hasFailureAfterKill = true;
    }
    UpdateError(phase, phase.raisePendingCause);
    if (phase.markRowAsFailedOnFailure) {
      m_sourceInfo.status = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
      if (m_dataSource != nullptr) m_dataSource->UpdateStatus(m_sourceInfo);
    }
  }
  if (phase.state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && !phase.notLastPhase) {
    // A restarted job does not count again what its previous run already
    // succeeded in.
    uint32_t previous = kNoState;
    if (m_jobManager != nullptr) {
      previous = static_cast<uint32_t>(
          DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, phase.phase, this));
    }
    if (previous != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS && phase.updatePhaseInfoTbl) {
      UpdatePhasePercentage(phase.phase);
    }
  }
  if (!phase.updatePhaseInfoTbl) return;
  if (phase.clientEntity.GetString(ZnEntities::GenericEntity::kClientName).empty()) {
    IRepInfo* rep = GetRepInfo();
    if (rep != nullptr) phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, rep->GetSourceName());
  }
  if (m_dataSource != nullptr) m_dataSource->UpdatePhaseDetails(m_sourceInfo, phase);
}

bool CDRInfo::GetFirstFailure(SDRPhaseCtx& failure) const {
  if (!m_hasFailure) return false;
  failure = m_firstFailure;
  return true;
}

bool CDRInfo::GetFirstStepFailure(SDRPhaseCtx& failure) const {
  if (!m_hasStepFailure) return false;
  failure = m_firstStepFailure;
  return true;
}

bool CDRInfo::GetFirstFailureAfterKill(SDRPhaseCtx& failure) const {
  if (!m_hasFailureAfterKill) return false;
  failure = m_firstFailureAfterKill;
  return true;
}

void CDRInfo::UpdatePhasePercentage(Api::VirtualAppJobPhaseType phase) {
  const int before = GetPercentageComplete();
  m_percent += DRInfoUtils::GetPhaseWeightage(phase, m_drType);
  ReportPercentChange(static_cast<int64_t>(GetPercentageComplete()) - before);
}

bool CDRInfo::IsScriptsConfigured(bool post) {
  EvEvent event(m_sourceInfo.jobId);
  if (m_priority == nullptr) return false;
  const TMMsg::VMGroup& group = m_priority->vmGroup;
  if (!group.Has(TMMsg::VMGroup::kVMSequence) || group.ListSize(TMMsg::VMGroup::kVMSequence) == 0) return false;
  const CNMessageBase* entry = nullptr;
  for (size_t i = 0; i < group.ListSize(TMMsg::VMGroup::kVMSequence); ++i) {
    const CNMessageBase& e = group.GetListMsg(TMMsg::VMGroup::kVMSequence, i);
    if (e.GetInt64(TMMsg::VMDependencyOrder::kReplicationId) == m_sourceInfo.replId) {
      entry = &e;
      break;
    }
  }
  if (entry == nullptr) {
    event.DebugLvl(2, "IsScriptsConfigured", "No scripts found for replication [%d]", m_sourceInfo.replId);
    return false;
  }
  const SMsgField& field = post ? TMMsg::VMDependencyOrder::kPostScript : TMMsg::VMDependencyOrder::kPreScript;
  if (!entry->Has(field)) {
    event.DebugLvl(2, "IsScriptsConfigured", post ? "Post script not found for replication [%d]"
                                                  : "Pre script not found for replication [%d]",
                   m_sourceInfo.replId);
    return false;
  }
  const CNMessageBase& script = entry->GetMsg(field);
  for (const SMsgField& f : kScriptFields) {
    if (!script.Has(f)) return false;
  }
  return true;
}

bool CDRInfo::IsBatchOpSuccess(SDROperationCtx& ctx) {
  auto it = m_batchOpStatusMap.find(ctx.GetHash());
  return it != m_batchOpStatusMap.end() && it->second;
}

void CDRInfo::SetBatchOpStatus(SDROperationCtx& ctx, bool ok) {
  const std::string key = ctx.GetHash();
  if (m_batchOpStatusMap.find(key) == m_batchOpStatusMap.end()) {
    m_batchOpStatusMap[key] = ok;
    return;
  }
  EvEvent event(m_sourceInfo.jobId);
  event.Debug("SetBatchOpStatus",
              "Attempt to override m_batchOpStatusMap key for operation [%s] with val [%s]. Invalid request!",
              DRInfoUtils::GetBatchOpStr(ctx.batchOp).c_str(), ok ? "true" : "false");
}

bool CDRInfo::UpdateProperty(ZNDR::DR_ORCHESTRATION_PROPERTY property, SDataSourceInfo* info) {
  if (m_dataSource == nullptr) return false;
  return m_dataSource->UpdateProperty(property, info != nullptr ? *info : m_sourceInfo);
}

bool CDRInfo::IsIndexingV2() {
  IRepInfo* rep = GetRepInfo();
  return rep != nullptr && rep->IsIndexingV2();
}

void CDRInfo::UpdateError(SDRPhaseCtx& phase, bool raisePendingCause) {
  std::string phaseName = DRHelper::GetPhaseNameStr(phase.phase);
  std::string clientName = phase.clientEntity.GetString(ZnEntities::GenericEntity::kClientName);
  std::string error = " " + phaseName + " failed for machine " + clientName + " [" + phase.message + "]";
  if (raisePendingCause && m_jobManager != nullptr) {
    ArgumentInfo args;
    args << phaseName.c_str() << phase.message.c_str() << clientName.c_str();
    m_jobManager->SetPendingCause(kPhaseFailedCause, &args);
  }
  m_errors.push_back(error);
}

int32_t CDRInfo::GetEntityId() const {
  if (m_priority == nullptr) return 0;
  switch (m_priority->infoSource) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION:
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION:
      return m_sourceInfo.replId;
    default:
      return 0;
  }
}

IRepInfo* CDRInfo::GetRepInfo() {
  if (m_dataSource == nullptr) return nullptr;
  return m_dataSource->FetchReplData(m_sourceInfo);
}

TMMsg::DROpSourceType CDRInfo::GetInfoSource() const {
  return m_priority != nullptr ? m_priority->infoSource : TMMsg::DR_OP_SOURCE_VSA_REPLICATION;
}

std::string CDRInfo::GetId() const {
  return std::to_string(m_priority != nullptr ? m_priority->order : 0) + ":" + std::to_string(m_sourceInfo.replId);
}

int32_t CDRInfo::GetVAppId() const { return m_priority != nullptr ? m_priority->drGroupId : 0; }

void CDRInfo::UpdatePhaseMap(const SDRPhaseCtx& phase) {
  m_phaseMap[phase.phase][phase.site] = phase.state;
  if (phase.updatePhaseInfoTbl) m_storedPhaseState[phase.phase] = phase.state;
}

uint32_t CDRInfo::GetStoredPhaseState(Api::VirtualAppJobPhaseType phase) const {
  auto found = m_storedPhaseState.find(phase);
  return found == m_storedPhaseState.end() ? kNoState : static_cast<uint32_t>(found->second);
}

uint32_t CDRInfo::GetPhaseState(Api::VirtualAppJobPhaseType phase, Api::DRSite site) const {
  auto byPhase = m_phaseMap.find(phase);
  if (byPhase == m_phaseMap.end()) return kNoState;
  auto bySite = byPhase->second.find(site);
  if (bySite == byPhase->second.end()) return kNoState;
  return static_cast<uint32_t>(bySite->second);
}
