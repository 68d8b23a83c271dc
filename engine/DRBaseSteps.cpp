// The step runner of the orchestrator: a DR step is one phase of one batch
// operation over a list of machines, described by the context in an
// operation context and carried out by the context's PerformOperation.
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DRBase.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "drorch/DRJobManager.h"
#include "IDRContext.h"
#include "IRepInfo.h"
#include "SDROperationCtx.h"
#include "SDRPhaseCtx.h"
#include "SDRPriority.h"
#include "settings/ZNPlatformInfo.h"
#include "time/PlatformClock.h"

namespace {

const char kSession[] = "Session";
const unsigned int kDefaultPhasePauseSeconds = 30;
const int kPhaseWriteGapMs = 500;

}  // namespace

bool CDRBase::RunOperation(IDRContext& context, SDROperationCtx& ctx, bool filterFirst) {
  // Taken before the filter, so the messages name the machines the step was
  // asked for.
  const std::string listText = DRInfoUtils::GetReplStr(ctx.drInfoList);
  const size_t asked = ctx.drInfoList.size();
  if (ctx.batchOp == ZNDR::BATCH_OP_NONE) ctx.batchOp = DRInfoUtils::GetBatchOp(ctx);
  if (filterFirst) FilterSuccessList(ctx);
  if (ctx.mandateAllSuccess && ctx.drInfoList.size() < asked) {
    m_event.Debug("RunOperation",
                  "Some machines in list [%s] failed in previous step. [MANDATE ALL SUCCESS] ON. Cannot proceed !",
                  listText.c_str());
    return false;
  }
  bool ok = RunStep(ctx, context);
  if (!ok) {
    m_event.Debug("RunOperation", "[%s] failed for machines in list [%s]",
                  DRHelper::GetPhaseNameStr(ctx.phase).c_str(), listText.c_str());
  }
  return ok;
}

bool CDRBase::RunStep(SDROperationCtx& ctx, IDRContext& context) {
  if (!ctx.ignoreQuit && m_jobManager->IsQuitFlagSet()) {
    m_event.Error("RunStep", "Halting DR step as DR job [%lld] quit flag is set", static_cast<long long>(m_jobId));
    return false;
  }
  if (ctx.drInfoList.empty()) {
    m_event.Error("RunStep", "No machines available for DR step");
    return false;
  }
  if (SkipStep(ctx)) return true;
  if (!RunPreStep(ctx)) return false;
  DumpPhaseDetails(ctx);
  if (!context.PerformOperation(ctx)) return false;
  return RunPostStep(ctx);
}

bool CDRBase::SkipStep(SDROperationCtx& ctx) {
  // Without a priority there is no DR sequence to ask.
  if (ctx.priority == nullptr) return false;
  Api::DRStep step;
  DRHelper::GetDRStep(ctx.priority->drSequence, ctx.phase, step);
  if (!step.Has(Api::DRStep::kSkip) || step.GetInt64(Api::DRStep::kSkip) == 0) return false;
  for (CDRInfo* info : ctx.drInfoList) {
    if (info == nullptr) continue;
    SDRPhaseCtx phase(m_jobId, ctx.phase, Api::VIRTUAL_APP_PHASE_STATE_SKIPPED, ctx.site, true);
    info->UpdatePhase(phase);
  }
  return true;
}

bool CDRBase::RunPreStep(SDROperationCtx& ctx) {
  unsigned int phase = 0;
  if (ZNPlatformInfo::getNumber(kSession, "nDRPhaseType", &phase) == 0) return true;
  if (phase != static_cast<unsigned int>(ctx.phase)) return true;
  unsigned int seconds = kDefaultPhasePauseSeconds;
  ZNPlatformInfo::getNumber(kSession, "nDRPhaseWaitTime", &seconds);
  m_event.Debug("RunPreStep", "Sleep for [%u] seconds at phase [%u]", seconds, phase);
  // 64 bits: a large setting must not wrap into a short pause.
  XOSLEEP(static_cast<uint64_t>(seconds) * 1000u);
  return true;
}

void CDRBase::DumpPhaseDetails(SDROperationCtx& ctx) {
  m_event.Debug("DumpPhaseDetails", "[%s] on site [%s]- markRowAsFailedOnFailure [%s],  updatePhaseInfoTbl [%s]",
                DRHelper::GetPhaseNameStr(ctx.phase).c_str(), DRHelper::GetSiteStr(ctx.site).c_str(),
                ctx.markRowAsFailedOnFailure ? "ON" : "OFF", ctx.updatePhaseInfoTbl ? "ON" : "OFF");
}

bool CDRBase::RunPostStep(SDROperationCtx& ctx) {
  ctx.batchOp = ZNDR::BATCH_OP_NONE;
  ctx.postStep = true;
  Refresh();
  return true;
}

void CDRBase::FilterSuccessList(SDROperationCtx& ctx) {
  std::vector<CDRInfo*> kept;
  kept.reserve(ctx.drInfoList.size());
  for (CDRInfo* info : ctx.drInfoList) {
    if (info == nullptr) continue;
    SDRPhaseCtx last = info->GetLastPhase();
    if (last.state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS || last.state == Api::VIRTUAL_APP_PHASE_STATE_SKIPPED) {
      kept.push_back(info);
      continue;
    }
    m_event.Debug("FilterSuccessList", "Removed DRInfo [%d] as previous phase [%s] status is [%s]",
                  info->GetEntityId(), DRHelper::GetPhaseNameStr(last.phase).c_str(),
                  DRHelper::GetPhaseStatusStr(last.state).c_str());
  }
  ctx.drInfoList.swap(kept);
}

void CDRBase::LoadPhaseContext(SDROperationCtx& ctx, bool markRowAsFailedOnFailure, bool updatePhaseInfoTbl,
                               Api::VirtualAppJobPhaseType phase, Api::DRSite site, bool filter) {
  if (filter) FilterSuccessList(ctx);
  ctx.phase = phase;
  ctx.site = site;
  ctx.updatePhaseInfoTbl = updatePhaseInfoTbl;
  ctx.markRowAsFailedOnFailure = markRowAsFailedOnFailure;
}

SDROperationCtx CDRBase::GetDROpCtx(Api::VirtualAppJobPhaseType phase, Api::DRSite site, bool updatePhaseInfoTbl) {
  SDROperationCtx ctx;
  ctx.phase = phase;
  ctx.site = site;
  ctx.updatePhaseInfoTbl = updatePhaseInfoTbl;
  return ctx;
}

bool CDRBase::ProcessIDAPriority(IDRContext& context, const SDRPriority& priority, ZNDR::BatchOperation op) {
  SDROperationCtx ctx;
  ctx.batchOp = op;
  ctx.priority = const_cast<SDRPriority*>(&priority);
  GetDRInfoListForPriority(priority, ctx.drInfoList, 0);
  if (ctx.drInfoList.empty()) return false;
  return ProcessIDABatchOp(context, ctx);
}

bool CDRBase::ProcessIDABatchOp(IDRContext& context, SDROperationCtx& ctx) {
  int count = 0;
  if (IsThreadsApplicable(ctx, ctx.drInfoList)) {
    if (!RunParallelDROperation(ctx, &context)) return false;
    for (CDRInfo* info : ctx.drInfoList) {
      if (info != nullptr && info->IsBatchOpSuccess(ctx)) ++count;
    }
  } else {
    for (CDRInfo* info : ctx.drInfoList) {
      SDROperationCtx one(ctx);
      one.drInfoList.assign(1, info);
      if (context.ProcessDROperationThread(one)) {
        ++count;
      } else {
        context.CleanupDROperationThread(one);
      }
      Refresh();
    }
  }
  return count > 0;
}

void CDRBase::Complete(SDROperationCtx& ctx) {
  // A suspended job records no phase, so a machine's last phase may be a
  // step before the one the suspension stopped; the restart completes them.
  if (m_jobManager->IsJobSuspended()) {
    m_event.Debug("Complete", "DR job [%lld] is suspended; no machine completed", static_cast<long long>(m_jobId));
    return;
  }
  FilterSuccessList(ctx);
  for (CDRInfo* info : ctx.drInfoList) {
    IRepInfo* rep = info->GetRepInfo();
    std::string name = rep != nullptr ? rep->GetSourceName() : std::string();
    m_event.Debug("Complete", "DR complete for replication [%d] [%s] => [SUCCESS]", info->GetReplId(), name.c_str());
    info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  }
}

void CDRBase::UpdatePhaseForList(int64_t jobId, std::vector<CDRInfo*>& list, SDROperationCtx& ctx,
                                 Api::VirtualAppPhaseState state, const std::string& message) {
  for (CDRInfo* info : list) {
    if (info == nullptr) continue;
    SDRPhaseCtx phase(jobId, ctx.phase, state, ctx.site, true);
    phase.clientEntity.SetString(ZnEntities::GenericEntity::kClientName, DRInfoUtils::GetDRClientName(info, m_drType));
    phase.message = message;
    phase.markRowAsFailedOnFailure = ctx.markRowAsFailedOnFailure;
    phase.updatePhaseInfoTbl = ctx.updatePhaseInfoTbl;
    info->UpdatePhase(phase);
    m_jobManager->Wait(kPhaseWriteGapMs, "");
  }
}
