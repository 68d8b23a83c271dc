#include "DRInfoUtils.h"

#include <stdint.h>

#include "DRAppManager.h"
#include "DRDataSource.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "EnumLookup.h"
#include "IRepInfo.h"
#include "SDROperationCtx.h"
#include "SDRPhaseCtx.h"
#include "SDataSourceInfo.h"
#include "SnapDRRepInfo.h"
#include "VSARepInfo.h"
#include "log/EvEvent.h"

namespace {

using EnumLookup::Find;
using EnumLookup::Lookup;
using EnumLookup::SEntry;
using EnumLookup::STextEntry;

// ---- Display texts ----------------------------------------------------------

const STextEntry kBatchOpNames[] = {
    {1, "Power off Primary"},
    {2, "Power on Primary"},
    {3, "Power on Secondary"},
    {4, "Power off Secondary"},
    {5, "Shutdown Primary"},
    {6, "Shutdown Secondary"},
    {7, "Failover"},
    {8, "Post Replication"},
    {9, "Testboot Secondary"},
    {12, "Create snapshot Primary"},
    {13, "Create snapshot Secondary"},
    {14, "Delete snapshot Primary"},
    {15, "Delete snapshot Secondary"},
    {16, "Revert snapshot Primary"},
    {17, "Revert snapshot Secondary"},
    {18, "Run Pre-Scripts on Primary"},
    // Operators and log scanners know this text as it is, typo included.
    {19, "Run Pre-cripts on Secondary"},
    {20, "Run Post-Scripts on Primary"},
    {21, "Run Post-Scripts on Secondary"},
    {29, "SRC-VM Mount from Snap"},
    {30, "DR-VM Mount from Snap"},
    {31, "DR-VM Unmount from Snap"},
    {32, "SRC-VM Unmount from Snap"},
    {33, "DR-VM Test Mount"},
    {34, "DR-VM Test Unmount"},
    {35, "Delete Destination"},
    {36, "GetVMInfo Destination"},
    {37, "Create VM Destination"},
    {38, "Post Failover"},
    {39, "Delete DR Virtual Machine"},
    {42, "Clone VM Destination"},
    {43, "Refresh VM Destination"},
};

const STextEntry kThreadTypeNames[] = {
    {0, "Subclient"},
    {1, "Sub-Priority"},
    {3, "Break Volume Relationship"},
    {4, "Resync Volume Relationship"},
};

// ---- Step mappings ----------------------------------------------------------

// Batch operation of a phase on the primary and on the secondary. A phase
// whose operation does not depend on the site is marked so, and then also
// answers for a site that is neither.
struct SSiteOps {
  int32_t primary;
  int32_t secondary;
  bool anySite;
};

constexpr SSiteOps PerSite(int32_t primary, int32_t secondary) {
  return {primary, secondary, false};
}
constexpr SSiteOps AnySite(int32_t op) { return {op, op, true}; }

// Phase 0 (scripts) is missing: its operation also depends on the
// pre-script switch.
const SEntry<SSiteOps> kPhaseBatchOps[] = {
    {1, PerSite(2, 3)},   {2, PerSite(1, 4)},   {7, PerSite(25, 26)}, {8, PerSite(23, 24)},
    {15, AnySite(40)},    {17, PerSite(12, 13)}, {18, PerSite(14, 15)}, {19, PerSite(16, 17)},
    {20, PerSite(11, 10)}, {22, AnySite(41)},   {24, PerSite(5, 6)},  {25, PerSite(27, 28)},
    {28, AnySite(35)},    {29, AnySite(37)},    {30, AnySite(36)},    {31, AnySite(37)},
    {32, AnySite(38)},    {34, PerSite(29, 30)}, {37, PerSite(32, 31)}, {40, AnySite(39)},
    {42, AnySite(42)},    {43, AnySite(43)},
};

const SSiteOps kPreScriptOps = PerSite(18, 19);
const SSiteOps kPostScriptOps = PerSite(20, 21);

struct SSitePhase {
  int32_t site;
  int32_t phase;
};

const SEntry<SSitePhase> kBatchOpPhases[] = {
    {1, {0, 2}},   {2, {0, 1}},   {3, {1, 1}},   {4, {1, 2}},   {5, {0, 24}},  {6, {1, 24}},
    {23, {0, 8}},  {24, {1, 8}},  {27, {0, 25}}, {28, {1, 25}}, {30, {1, 34}}, {31, {1, 37}},
    {33, {1, 38}}, {34, {1, 39}}, {36, {1, 30}}, {37, {1, 29}}, {42, {1, 42}}, {43, {1, 43}},
};

// Weight of a phase. An unplanned failover runs neither backup nor
// replication, so its power, snapshot, script and mount phases weigh more.
struct SWeight {
  int32_t normal;
  int32_t unplanned;
};

const SEntry<SWeight> kPhaseWeights[] = {
    {0, {2, 15}},   {1, {2, 15}},   {2, {2, 15}},   {17, {2, 15}},  {18, {2, 15}},
    {19, {2, 15}},  {20, {2, 15}},  {24, {2, 15}},  {7, {25, 25}},  {8, {30, 30}},
    {21, {20, 20}}, {41, {20, 20}}, {23, {10, 10}}, {28, {90, 90}}, {37, {90, 90}},
    {39, {90, 90}}, {34, {10, 70}}, {38, {70, 70}},
};

}  // namespace

std::string DRInfoUtils::GetBatchOpStr(ZNDR::BatchOperation op) {
  return Lookup(kBatchOpNames, op, "Gen Op");
}

std::string DRInfoUtils::GetDRThreadTypeStr(DRThreadType type) {
  return Lookup(kThreadTypeNames, type, "Gen-Op");
}

ZNDR::BatchOperation DRInfoUtils::GetBatchOp(const SDROperationCtx& ctx) {
  const SSiteOps* ops = nullptr;
  if (ctx.phase == Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION) {
    ops = ctx.preScript ? &kPreScriptOps : &kPostScriptOps;
  } else {
    ops = Find(kPhaseBatchOps, ctx.phase);
  }
  if (ops == nullptr) return ZNDR::BATCH_OP_NONE;
  if (ops->anySite || ctx.site == Api::DR_SITE_SOURCE) {
    return static_cast<ZNDR::BatchOperation>(ops->primary);
  }
  if (ctx.site == Api::DR_SITE_DESTINATION) {
    return static_cast<ZNDR::BatchOperation>(ops->secondary);
  }
  return ZNDR::BATCH_OP_NONE;
}

void DRInfoUtils::LoadBasicPhaseDetails(SDROperationCtx& ctx, ZNDR::BatchOperation op) {
  const SSitePhase* details = Find(kBatchOpPhases, op);
  if (details == nullptr) return;
  ctx.site = static_cast<Api::DRSite>(details->site);
  ctx.phase = static_cast<Api::VirtualAppJobPhaseType>(details->phase);
}

int DRInfoUtils::GetPhaseWeightage(Api::VirtualAppJobPhaseType phase,
                                   TMMsg::DROrchestrationType drType) {
  const SWeight* weight = Find(kPhaseWeights, phase);
  if (weight == nullptr) return 0;
  return drType == TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER ? weight->unplanned
                                                              : weight->normal;
}

DRThreadType DRInfoUtils::GetDRThreadType(Api::VirtualAppJobPhaseType phase) {
  switch (phase) {
    case Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP:
      return DR_THREAD_BREAK_VOLUME_RELATIONSHIP;
    case Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP:
      return DR_THREAD_RESYNC_VOLUME_RELATIONSHIP;
    default:
      return DR_THREAD_GENERIC_OP;
  }
}

E_VOLUME_RELATIONSHIP_STATUS DRInfoUtils::GetSuccessStatus(Api::VirtualAppJobPhaseType phase) {
  switch (phase) {
    case Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP:
      return VOLUME_RELATIONSHIP_BROKEN;
    case Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP:
      return VOLUME_RELATIONSHIP_NORMAL;
    default:
      return VOLUME_RELATIONSHIP_NOT_RECORDED;
  }
}

bool DRInfoUtils::IsThreadsApplicableForPhase(const SDROperationCtx& ctx,
                                              TMMsg::DROrchestrationType /*drType*/) {
  return !DRHelper::IsSnapUnmount(ctx.phase);
}

bool DRInfoUtils::IsFailoverStatusValid(App::VSAFailoverStatus current,
                                        TMMsg::DROrchestrationType drType) {
  switch (drType) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      // Nothing failed over yet, or the last failover came back.
      return current == App::VSA_FAILOVER_STATUS_NONE ||
             current == App::VSA_FAILOVER_STATUS_FAILOVER_FAILED ||
             current == App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE ||
             current == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE;
    case TMMsg::DR_ORCHESTRATION_FAILBACK:
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      // Only what stands failed over can go back.
      return current == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE ||
             current == App::VSA_FAILOVER_STATUS_FAILBACK_FAILED ||
             current == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED;
    case TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION:
      return current != App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS;
    default:
      return true;
  }
}

bool DRInfoUtils::IsPriorityBootBased(TMMsg::DRReplicationType replicationType) {
  return replicationType == TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY;
}

// ---- Machine records, replication records and phase rows --------------------

VSARepInfo* DRInfoUtils::GetVSARepInfo(CDRInfo* info) {
  if (info == nullptr) return nullptr;
  EvEvent event;
  CDRDataSource* source = info->getDataSource();
  const int infoSource = source != nullptr ? static_cast<int>(source->GetInfoSource()) : -1;
  if (infoSource != TMMsg::DR_OP_SOURCE_VSA_REPLICATION) {
    event.DebugLvl(2, "GetVSARepInfo", "Info source = [%d] . Will not fetch VSARepInfo", infoSource);
    return nullptr;
  }
  IRepInfo* rep = info->GetRepInfo();
  if (rep == nullptr) {
    event.Debug("GetVSARepInfo", "Error fetching VSARepInfo");
    return nullptr;
  }
  return dynamic_cast<VSARepInfo*>(rep);
}

SnapDRRepInfo* DRInfoUtils::GetSnapRepInfo(CDRInfo* info) {
  if (info == nullptr || info->GetInfoSource() != TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION) return nullptr;
  IRepInfo* rep = info->GetRepInfo();
  return rep != nullptr ? dynamic_cast<SnapDRRepInfo*>(rep) : nullptr;
}

void DRInfoUtils::GetReplIds(const std::vector<CDRInfo*>& list, std::vector<int>& ids) {
  for (CDRInfo* info : list) {
    if (info != nullptr) ids.push_back(info->GetReplId());
  }
}

std::string DRInfoUtils::GetReplStr(const std::vector<CDRInfo*>& list) {
  std::vector<int> ids;
  GetReplIds(list, ids);
  return DRHelper::GetCollCSVStr(ids);
}

bool DRInfoUtils::CanSkipPreCheck(CDRInfo* info, TMMsg::DROrchestrationType& drType) {
  if (info != nullptr && info->GetAppMgrPtr() != nullptr && info->GetAppMgrPtr()->IsFirstTimeSyncDuringFailoverSet()) {
    return true;
  }
  return drType == TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM;
}

Api::VirtualAppPhaseState DRInfoUtils::GetPhaseStatusForReplication(std::vector<Api::VirtualAppJob>& jobs,
                                                                    Api::VirtualAppJobPhaseType phase,
                                                                    CDRInfo* info) {
  const Api::VirtualAppPhaseState notFound = static_cast<Api::VirtualAppPhaseState>(0xFFFFFFFFu);
  if (info == nullptr) return notFound;
  for (const Api::VirtualAppJob& job : jobs) {
    if (job.GetInt32(4) != info->GetReplId()) continue;
    for (size_t i = 0; i < job.ListSize(5, 5); ++i) {
      const CNMessageBase& entry = job.GetListMsg(5, 5, i);
      if (entry.GetInt32(1) == phase) return static_cast<Api::VirtualAppPhaseState>(entry.GetInt32(2));
    }
    return notFound;
  }
  return notFound;
}

bool DRInfoUtils::PopulateVAppJobUpdateReq(SDataSourceInfo& info, SDRPhaseCtx& phase,
                                           Api::VirtualAppJobUpdateReq& request) {
  // ZnEntities::GenericEntity: client name, and the new name and GUID a VM
  // operation may report.
  const int kClientNameA = 18, kClientNameB = 48;
  const int kExtraFields[][2] = {{24, 69}, {23, 65}};

  Api::VirtualAppJobInfo jobInfo;
  jobInfo.SetInt64(4, 4, phase.jobId);
  jobInfo.SetInt32(2, 2, DRHelper::GetZNOptype(phase.phase));
  jobInfo.MutableMsg(3, 3).SetString(2, 2, phase.message);
  CNMessageBase& entity = jobInfo.MutableMsg(5, 5);
  entity.SetString(kClientNameA, kClientNameB, phase.clientEntity.GetString(kClientNameA, kClientNameB));
  for (const auto& field : kExtraFields) {
    if (!phase.clientEntity.Has(field[0])) continue;
    const std::string& value = phase.clientEntity.GetString(field[0], field[1]);
    if (!value.empty()) entity.SetString(field[0], field[1], value);
  }

  Api::VirtualAppPhaseInfo phaseInfo;
  phaseInfo.AppendMsg(1, 1, jobInfo);
  std::string phaseXml;
  if (!phaseInfo.serializeUTF8(phaseXml, true)) {
    EvEvent event;
    event.Error("PopulateVAppJobUpdateReq", "Failed to serialize message request");
    return false;
  }

  Api::VirtualAppJob job;
  job.MutableMsg(2, 2).SetInt32(0, 0, info.drGroupId);
  job.SetInt32(4, 4, info.replId);
  job.SetInt64(6, 6, info.jobId);
  job.SetInt32(7, 7, info.appId);

  Api::VirtualAppJobPhase jobPhase;
  jobPhase.SetInt32(1, 1, phase.phase);
  jobPhase.SetInt32(2, 2, phase.state);
  jobPhase.SetString(3, 3, phaseXml);

  request.AppendMsg(1, 1, job);
  request.MutableListMsg(1, 1, 0).AppendMsg(5, 5, jobPhase);
  return true;
}
