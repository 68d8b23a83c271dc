#include "DRInfoUtils.h"

#include <stdint.h>

#include <strings.h>

#include <sstream>

#include "services/DRAppManager.h"
#include "drorch/DRJobManager.h"
#include "DRDataSource.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "EnumLookup.h"
#include "IRepInfo.h"
#include "SDROperationCtx.h"
#include "SDRPhaseCtx.h"
#include "SDRPriority.h"
#include "SDataSourceInfo.h"
#include "app/SnapDRRepInfo.h"
#include "vsa/VSARepInfo.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

const std::string RDS = "RDS";
const std::string DYNAMODB = "DynamoDB";
const std::string REDSHIFT = "Redshift";
const std::string DOCUMENTDB = "DocumentDB";

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

bool DRInfoUtils::IsFailoverStatusWhereTypePutsIt(App::VSAFailoverStatus current,
                                                  TMMsg::DROrchestrationType drType) {
  switch (drType) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER:
      return current == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
    case TMMsg::DR_ORCHESTRATION_FAILBACK:
    case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      return current == App::VSA_FAILOVER_STATUS_NONE || current == App::VSA_FAILOVER_STATUS_FAILBACK_COMPLETE ||
             current == App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE;
    default:
      return false;
  }
}

bool DRInfoUtils::IsPriorityBootBased(TMMsg::DRReplicationType replicationType) {
  return replicationType == TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY;
}

// =============================================================================
// Machine lists
// =============================================================================

namespace {

IRepInfo* RepOf(CDRInfo* info) { return info != nullptr ? info->GetRepInfo() : nullptr; }

bool IsReplicationSource(TMMsg::DROpSourceType source) {
  return source == TMMsg::DR_OP_SOURCE_VSA_REPLICATION || source == TMMsg::DR_OP_SOURCE_DB_REPLICATION ||
         source == TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
}

}  // namespace

std::string DRInfoUtils::GetSitePropStr(CDRInfo* info, DR_SITE_PROPERTY property, Api::DRSite site) {
  IRepInfo* rep = RepOf(info);
  if (rep == nullptr) return std::string();
  const bool destination = site != Api::DR_SITE_SOURCE;
  switch (property) {
    case DR_SITE_PROPERTY_NAME:
      return destination ? rep->GetDestinationName() : rep->GetSourceName();
    case DR_SITE_PROPERTY_GUID:
      return destination ? rep->GetDestinationGuid() : rep->GetSourceGuid();
    default:
      return std::string();
  }
}

long DRInfoUtils::GetSiteProp(CDRInfo* info, DR_SITE_PROPERTY property, Api::DRSite site) {
  IRepInfo* rep = RepOf(info);
  if (rep == nullptr || property != DR_SITE_PROPERTY_INSTANCE_ID) return 0;
  return site != Api::DR_SITE_SOURCE ? rep->GetDestInstanceId() : rep->GetSrcInstanceId();
}

std::string DRInfoUtils::GetDRInfoMesg(CDRInfo* info, const std::string& message, const std::string& detail,
                                       Api::DRSite site) {
  std::ostringstream out;
  out << message << " for [" << GetSitePropStr(info, DR_SITE_PROPERTY_NAME, site) << "] RId ["
      << (info != nullptr ? info->GetReplId() : 0) << "]";
  if (!detail.empty()) out << " - " << detail;
  return out.str();
}

void DRInfoUtils::GetReplIds(const std::vector<CDRInfo*>& list, std::vector<int>& out) {
  for (CDRInfo* info : list) {
    if (info != nullptr) out.push_back(info->GetReplId());
  }
}

std::string DRInfoUtils::GetReplStr(const std::vector<CDRInfo*>& list) {
  std::vector<int> ids;
  GetReplIds(list, ids);
  return DRHelper::GetCollCSVStr(ids);
}

std::string DRInfoUtils::GetDRListStr(const std::vector<CDRInfo*>& list) {
  if (list.empty() || list.front() == nullptr) return std::string();
  SDRPriority* priority = list.front()->GetPriority();
  if (priority == nullptr || !IsReplicationSource(priority->infoSource)) return std::string();
  return GetReplStr(list);
}

int32_t DRInfoUtils::GetAppId(CDRInfo* info) {
  IRepInfo* rep = RepOf(info);
  return rep != nullptr ? static_cast<int32_t>(rep->getSubclientId()) : 0;
}

void DRInfoUtils::GetTaskIds(const std::vector<CDRInfo*>& list, std::set<long>& out, bool copyPrecedenceOnly) {
  for (CDRInfo* info : list) {
    IRepInfo* rep = RepOf(info);
    if (rep == nullptr) continue;
    if (copyPrecedenceOnly && !rep->IsCopyPrecedenceApplicable()) continue;
    out.insert(rep->GetTaskId());
  }
}

void DRInfoUtils::GetDRInfoTaskMap(std::unordered_map<long, std::vector<CDRInfo*>>& taskMap,
                                   const std::vector<CDRInfo*>& list) {
  for (CDRInfo* info : list) {
    IRepInfo* rep = RepOf(info);
    if (rep != nullptr) taskMap[rep->GetTaskId()].push_back(info);
  }
}

void DRInfoUtils::GetDRInfoForTasks(const std::set<long>& taskIds, const std::vector<CDRInfo*>& list,
                                    std::vector<CDRInfo*>& out) {
  for (CDRInfo* info : list) {
    IRepInfo* rep = RepOf(info);
    if (rep != nullptr && taskIds.count(rep->GetTaskId()) != 0) out.push_back(info);
  }
}

void DRInfoUtils::UpdateSubclientReplicationMap(std::unordered_map<int, std::set<int>>& subclientMap,
                                                CDRInfo* info) {
  if (info == nullptr) return;
  subclientMap[GetAppId(info)].insert(info->GetReplId());
}

std::string DRInfoUtils::GetDRClientName(CDRInfo* info, TMMsg::DROrchestrationType drType) {
  IRepInfo* rep = RepOf(info);
  if (rep == nullptr) return std::string();
  return drType == TMMsg::DR_ORCHESTRATION_FAILBACK ? rep->GetDestinationName() : rep->GetSourceName();
}

void DRInfoUtils::SetRunning(const std::vector<CDRInfo*>& list) {
  for (CDRInfo* info : list) {
    if (info != nullptr) info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS);
  }
}

void DRInfoUtils::GetGuidToDRInfoMap(const std::vector<CDRInfo*>& list, Api::DRSite site,
                                     std::unordered_map<std::string, CDRInfo*>& out) {
  out.clear();
  EvEvent event;
  for (CDRInfo* info : list) {
    IRepInfo* rep = RepOf(info);
    if (rep == nullptr) continue;
    std::string guid = site != Api::DR_SITE_SOURCE ? rep->GetDestinationGuid() : rep->GetSourceGuid();
    if (!out.emplace(guid, info).second) {
      event.Debug("GetGuidToDRInfoMap", "Duplicate GUID [%s] found in DRList", guid.c_str());
    }
  }
}

void DRInfoUtils::GetDSQueueByVMCount(const std::map<std::string, std::vector<CDRInfo*>>& dsMap,
                                      std::vector<std::string>& queue, int order) {
  // Runs until every datastore is placed, whatever the queue held on entry.
  std::set<std::string> remaining;
  for (const auto& entry : dsMap) remaining.insert(entry.first);
  while (!remaining.empty()) {
    auto best = remaining.begin();
    size_t bestCount = dsMap.at(*best).size();
    for (auto it = remaining.begin(); it != remaining.end(); ++it) {
      size_t count = dsMap.at(*it).size();
      if ((order == 0 && count < bestCount) || (order == 1 && count > bestCount)) {
        best = it;
        bestCount = count;
      }
    }
    queue.push_back(*best);
    remaining.erase(best);
  }
}

void DRInfoUtils::GetDatastoreToVMList(const std::vector<CDRInfo*>& list,
                                       std::map<std::string, std::vector<CDRInfo*>>& dsMap) {
  std::vector<VirtualServer::VMDatastoreInfo> datastores;
  for (CDRInfo* info : list) {
    SnapDRRepInfo* snap = GetSnapRepInfo(info);
    if (snap == nullptr) continue;
    snap->GetSourceDatastores(datastores);
    for (const VirtualServer::VMDatastoreInfo& ds : datastores)
      dsMap[ds.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName)].push_back(info);
  }
}

void DRInfoUtils::GetVMQueueByDSCount(const std::vector<CDRInfo*>& list, std::vector<CDRInfo*>& out, int order) {
  std::unordered_map<std::string, CDRInfo*> byGuid;
  GetGuidToDRInfoMap(list, Api::DR_SITE_SOURCE, byGuid);
  // Weights are read once; a machine without a storage-array record weighs 0.
  std::map<std::string, unsigned> remaining;
  for (const auto& entry : byGuid) {
    SnapDRRepInfo* snap = GetSnapRepInfo(entry.second);
    remaining[entry.first] = snap != nullptr ? snap->GetDSCount() : 0;
  }
  // Runs until every machine is placed, whatever the output held on entry.
  while (!remaining.empty()) {
    auto best = remaining.begin();
    for (auto it = remaining.begin(); it != remaining.end(); ++it) {
      if ((order == 0 && it->second < best->second) || (order == 1 && it->second > best->second)) best = it;
    }
    out.push_back(byGuid[best->first]);
    remaining.erase(best);
  }
}

CDRInfo* DRInfoUtils::GetDRInfoForBrowseData(databrowse::BrowseData& data, const std::vector<CDRInfo*>& list) {
  const std::string& guid = data.GetString(databrowse::BrowseData::kName);
  for (CDRInfo* info : list) {
    IRepInfo* rep = RepOf(info);
    if (rep != nullptr && strcasecmp(rep->GetSourceGuid().c_str(), guid.c_str()) == 0) return info;
  }
  return nullptr;
}

std::string DRInfoUtils::GetSnapshotId(CDRInfo* info, App::VSAReplicationTrakingIdInfo& entry) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return std::string();
  std::string id = IsVendorOfFamily(vsa->GetDestinationVendor(), Common::VS_VENDOR_5)
                       ? entry.GetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshotFamily5)
                       : entry.GetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot);
  EvEvent event;
  event.DebugLvl(2, "GetSnapshotId", "Integrity snapshot [%s] retrieved.", id.c_str());
  return id;
}

std::string DRInfoUtils::GetCloneVMName(CDRInfo* info) {
  EvEvent event;
  std::ostringstream out;
  out << GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_DESTINATION) << "-Clone-"
      << EvEvent::getProcessId() << "-" << event.getJobId();
  return out.str();
}

// =============================================================================
// Step rules
// =============================================================================

namespace {

const long kVMOpThreadMinFreeMemMB = 65536;

}  // namespace

bool DRInfoUtils::IsScriptExecutionSet(SDROperationCtx& ctx) {
  const bool post = !ctx.preScript;
  const char* kind = post ? "POST" : "PRE";
  for (CDRInfo* info : ctx.drInfoList) {
    if (info != nullptr && info->IsScriptsConfigured(post)) continue;
    EvEvent event;
    event.Debug("IsScriptExecutionSet", "No [%s]-scripts configured on [%s] vm(s).", kind,
                DRHelper::GetSiteStr(ctx.site).c_str());
    return false;
  }
  return true;
}

bool DRInfoUtils::IsFailoverSnapshotType(SDROperationCtx& ctx) { return ctx.snapType == 2; }

bool DRInfoUtils::IsVMOpThreadApplicable(SDROperationCtx& ctx, TMMsg::DRReplicationType replicationType) {
  if (replicationType == TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY) return false;
  if (ctx.batchOp != ZNDR::BATCH_OP_POWER_ON_PRIMARY) return false;
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr || info->GetAppMgrPtr() == nullptr) return false;
  return info->GetAppMgrPtr()->GetFreeMemSizeMB() >= kVMOpThreadMinFreeMemMB;
}

bool DRInfoUtils::GetVMExpirationTime(CDRInfo* info, int& expiry) {
  EvEvent event;
  int64_t now = CPlatformClock::Instance().NowEpochSeconds();
  if (now > INT32_MAX) now = INT32_MAX;
  expiry = static_cast<int>(now);
  IRepInfo* rep = RepOf(info);
  CDRAppManager* appMgr = info != nullptr ? info->GetAppMgrPtr() : nullptr;
  Ida::VMAllocationPolicy policy;
  if (rep != nullptr && appMgr != nullptr) {
    long targetId = rep->GetTargetId();
    if (targetId < 1) {
      appMgr->QueryVMAllocationPolicyFromTask(rep->GetTaskId(), policy);
    } else {
      appMgr->QueryVMAllocationPolicy(targetId, policy);
    }
  }
  if (!policy.Has(Ida::VMAllocationPolicy::kInstance)) {
    event.Error("GetVMExpirationTime",
                "Failed to VMAllocationPolicy from Target/Task. Please check if Replication target configured "
                "properly.");
    return false;
  }
  // In 64 bits and clamped: a long retention must not wrap into an expiry in
  // the past.
  int64_t seconds = now;
  if (policy.Has(Ida::VMAllocationPolicy::kTestVMHours) && policy.GetInt32(Ida::VMAllocationPolicy::kTestVMHours) > 0) {
    seconds += static_cast<int64_t>(policy.GetInt32(Ida::VMAllocationPolicy::kTestVMHours)) * 3600;
  } else if (policy.Has(Ida::VMAllocationPolicy::kTestVMDays) &&
             policy.GetInt32(Ida::VMAllocationPolicy::kTestVMDays) > 0) {
    seconds += static_cast<int64_t>(policy.GetInt32(Ida::VMAllocationPolicy::kTestVMDays)) * 86400;
  }
  expiry = seconds > INT32_MAX ? INT32_MAX : static_cast<int>(seconds);
  event.Debug("GetVMExpirationTime", "VM Expiration time [%d]", expiry);
  return true;
}

bool DRInfoUtils::IsVendorOfFamily(int32_t vendor, int32_t family) {
  if (vendor == family) return true;
  return family == Common::VS_VENDOR_5 && (vendor == Common::VS_VENDOR_7 || vendor == Common::VS_VENDOR_17);
}

bool DRInfoUtils::CanSkipVMOpForVendor(TMMsg::VMOperationType op, TMMsg::DROrchestrationType drType,
                                       const SDROperationCtx& ctx, int32_t destVendor, bool createDRVMOption) {
  const bool destination = ctx.site == Api::DR_SITE_DESTINATION;
  const bool failoverSnapshot = ctx.snapType == 2;
  switch (destVendor) {
    case 4:
    case 19:
      return op == 3 || op == 15;
    case 5:
    case 7:
    case 17:
      if (ctx.site == Api::DR_SITE_SOURCE) return op == 15;
      if (!destination) return false;
      if (op == 15) return true;
      if (op == 10 || op == 16 || op == 29) return createDRVMOption;
      if (op == 3) return (createDRVMOption && drType == TMMsg::DR_ORCHESTRATION_FAILBACK) || failoverSnapshot;
      return false;
    case 12:
      if (destination && drType != TMMsg::DR_ORCHESTRATION_FAILBACK) {
        return op == 3 || op == 10 || op == 15 || op == 29;
      }
      return op == 3 || op == 15;
    case 16:
      if (op == 3) return true;
      if (op == 15) return failoverSnapshot;
      if (op == 10 || op == 16 || op == 29) return destination && createDRVMOption;
      return false;
    default:
      return false;
  }
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

bool DRInfoUtils::CanSkipPreCheck(CDRInfo* info, TMMsg::DROrchestrationType& drType) {
  if (info != nullptr && info->GetAppMgrPtr() != nullptr && info->GetAppMgrPtr()->IsFirstTimeSyncDuringFailoverSet()) {
    return true;
  }
  return drType == TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM;
}

namespace {

const Api::VirtualAppPhaseState kNoPhaseFound = static_cast<Api::VirtualAppPhaseState>(0xFFFFFFFFu);

// Only the replication's first record counts: a later one's entry of the
// phase is not looked at.
Api::VirtualAppPhaseState PhaseStateIn(const Api::VirtualAppJob& job, Api::VirtualAppJobPhaseType phase) {
  for (size_t i = 0; i < job.ListSize(Api::VirtualAppJob::kPhases); ++i) {
    const CNMessageBase& entry = job.GetListMsg(Api::VirtualAppJob::kPhases, i);
    if (entry.GetInt32(Api::VirtualAppJobPhase::kPhaseType) == phase)
      return static_cast<Api::VirtualAppPhaseState>(entry.GetInt32(Api::VirtualAppJobPhase::kPhaseState));
  }
  return kNoPhaseFound;
}

}  // namespace

Api::VirtualAppPhaseState DRInfoUtils::GetPhaseStatusForReplication(std::vector<Api::VirtualAppJob>& jobs,
                                                                    Api::VirtualAppJobPhaseType phase,
                                                                    CDRInfo* info) {
  if (info == nullptr) return kNoPhaseFound;
  for (const Api::VirtualAppJob& job : jobs) {
    if (job.GetInt32(Api::VirtualAppJob::kReplicationId) == info->GetReplId()) return PhaseStateIn(job, phase);
  }
  return kNoPhaseFound;
}

Api::VirtualAppPhaseState DRInfoUtils::GetPhaseStatusForReplication(const CDRJobManager* jobManager,
                                                                    Api::VirtualAppJobPhaseType phase,
                                                                    CDRInfo* info) {
  if (info == nullptr || jobManager == nullptr) return kNoPhaseFound;
  const std::vector<const Api::VirtualAppJob*>& records = jobManager->GetRestartHistoryOf(info->GetReplId());
  return records.empty() ? kNoPhaseFound : PhaseStateIn(*records.front(), phase);
}

bool DRInfoUtils::PopulateVAppJobUpdateReq(SDataSourceInfo& info, SDRPhaseCtx& phase,
                                           Api::VirtualAppJobUpdateReq& request) {
  // The new name and GUID a VM operation may report go with the client name.
  using Entity = ZnEntities::GenericEntity;
  const SMsgField kReportedFields[] = {Entity::kNewClientName, Entity::kClientGuid};

  Api::VirtualAppJobInfo jobInfo;
  jobInfo.SetInt64(Api::VirtualAppJobInfo::kJobId, phase.jobId);
  jobInfo.SetInt32(Api::VirtualAppJobInfo::kOperationType, DRHelper::GetZNOptype(phase.phase));
  jobInfo.MutableMsg(Api::VirtualAppJobInfo::kMessage).SetString(Api::GenericResp::kText, phase.message);
  CNMessageBase& entity = jobInfo.MutableMsg(Api::VirtualAppJobInfo::kClientEntity);
  entity.SetString(Entity::kClientName, phase.clientEntity.GetString(Entity::kClientName));
  for (const SMsgField& field : kReportedFields) {
    if (!phase.clientEntity.Has(field)) continue;
    const std::string& value = phase.clientEntity.GetString(field);
    if (!value.empty()) entity.SetString(field, value);
  }

  Api::VirtualAppPhaseInfo phaseInfo;
  phaseInfo.AppendMsg(Api::VirtualAppPhaseInfo::kJobInfos, jobInfo);
  std::string phaseXml;
  if (!phaseInfo.serializeUTF8(phaseXml, true)) {
    EvEvent event;
    event.Error("PopulateVAppJobUpdateReq", "Failed to serialize message request");
    return false;
  }

  Api::VirtualAppJob job;
  job.MutableMsg(Api::VirtualAppJob::kVirtualAppEntity)
      .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, info.drGroupId);
  job.SetInt32(Api::VirtualAppJob::kReplicationId, info.replId);
  job.SetInt64(Api::VirtualAppJob::kJobId, info.jobId);
  job.SetInt32(Api::VirtualAppJob::kApplicationId, info.appId);

  Api::VirtualAppJobPhase jobPhase;
  jobPhase.SetInt32(Api::VirtualAppJobPhase::kPhaseType, phase.phase);
  jobPhase.SetInt32(Api::VirtualAppJobPhase::kPhaseState, phase.state);
  jobPhase.SetString(Api::VirtualAppJobPhase::kPhaseInfoXml, phaseXml);

  request.AppendMsg(Api::VirtualAppJobUpdateReq::kJobs, job);
  request.MutableListMsg(Api::VirtualAppJobUpdateReq::kJobs, 0).AppendMsg(Api::VirtualAppJob::kPhases, jobPhase);
  return true;
}

// ---- Vendor rules and the VM-operation skip rule ----------------------------

namespace {

const char kNoVSARepInfo[] = "No valid VSARepInfo retrieved";

bool IsFamily5(int32_t vendor) { return DRInfoUtils::IsVendorOfFamily(vendor, Common::VS_VENDOR_5); }

}  // namespace

bool DRInfoUtils::IsSiteVendor(CDRInfo* info, Api::DRSite site, Common::VSVendor vendor) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  const int32_t actual = site == Api::DR_SITE_SOURCE ? vsa->GetSourceVendor() : vsa->GetDestinationVendor();
  return IsVendorOfFamily(actual, vendor);
}

bool DRInfoUtils::IsDestinationVMSnapshotCreationAllowed(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  return vsa != nullptr && vsa->GetDestinationVendor() != Common::VS_VENDOR_HYPERV;
}

bool DRInfoUtils::IsCleanupSnapshotsRequired(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  return vsa != nullptr && vsa->GetDestinationVendor() != Common::VS_VENDOR_HYPERV_19;
}

bool DRInfoUtils::IsDRTypeApplicable(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  if (info->GetDRType() != TMMsg::DR_ORCHESTRATION_TEST_FAILOVER) return true;
  const int32_t dest = vsa->GetDestinationVendor();
  return IsFamily5(dest) || dest == Common::VS_VENDOR_4;
}

bool DRInfoUtils::IsReplicaSyncDirectEnabled(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || info->GetAppMgrPtr() == nullptr) return false;
  return info->GetAppMgrPtr()->IsReplicaSyncDirectEnabled(vsa->GetTaskId());
}

bool DRInfoUtils::IsVSAFailbackSupported(CDRInfo* info) {
  EvEvent event;
  event.Debug("IsVSAFailbackSupported", "Check failback support for vm [%s]",
              GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_SOURCE).c_str());
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) {
    event.Error("IsVSAFailbackSupported", "%s", kNoVSARepInfo);
    return false;
  }
  if (vsa->IsReplicaSyncFromSnap()) {
    if (IsReplicaSyncDirectEnabled(info)) {
      event.Debug("IsVSAFailbackSupported", "Replica Sync Direct configuration found. Failback SUPPORT [TRUE].");
      return true;
    }
    event.Debug("IsVSAFailbackSupported", "Failback not supported for replica sync from snap configuration");
    return false;
  }
  const int32_t dest = vsa->GetDestinationVendor();
  if (dest == Common::VS_VENDOR_HYPERV || dest == Common::VS_VENDOR_HYPERV_19) {
    event.Debug("IsVSAFailbackSupported", "Failback not supported as Destination Vendor is HyperV");
    return false;
  }
  event.Debug("IsVSAFailbackSupported", "Failback SUPPORT [TRUE]");
  return true;
}

bool DRInfoUtils::IsVSAPostVMFailoverSupported(CDRInfo* info) {
  EvEvent event;
  event.DebugLvl(2, "IsVSAPostVMFailoverSupported", "Check PostVMFailover support for vm [%s]",
                 GetSitePropStr(info, DR_SITE_PROPERTY_NAME, Api::DR_SITE_SOURCE).c_str());
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) {
    event.Error("IsVSAPostVMFailoverSupported", "%s", kNoVSARepInfo);
    return false;
  }
  const int32_t dest = vsa->GetDestinationVendor();
  if (IsFamily5(dest) || dest == Common::VS_VENDOR_1) {
    event.DebugLvl(2, "IsVSAPostVMFailoverSupported", "PostVMFailover SUPPORT [TRUE]");
    return true;
  }
  event.DebugLvl(2, "IsVSAPostVMFailoverSupported", "PostVMFailover SUPPORT [FALSE]");
  return false;
}

bool DRInfoUtils::IsToolsInstalled(CDRInfo* info) {
  if (info == nullptr || info->getDataSource() == nullptr) return false;
  switch (info->getDataSource()->GetInfoSource()) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION: {
      VSARepInfo* vsa = GetVSARepInfo(info);
      return vsa != nullptr && vsa->IsToolsInstalled();
    }
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION: {
      SnapDRRepInfo* snap = dynamic_cast<SnapDRRepInfo*>(info->GetRepInfo());
      return snap != nullptr && snap->IsToolsInstalled();
    }
    default:
      return false;
  }
}

bool DRInfoUtils::CanSkipVMOp(TMMsg::VMOperationType op, TMMsg::DROrchestrationType drType, SDROperationCtx& ctx,
                              std::string& reason) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return false;
  VSARepInfo* vsa = GetVSARepInfo(info);
  CDRAppManager* appMgr = info->GetAppMgrPtr();

  if (appMgr != nullptr && vsa != nullptr && appMgr->IsFirstTimeSyncDuringFailoverSet() &&
      drType == TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER && vsa->GetDestinationGuid().empty() &&
      op == TMMsg::VM_OPERATION_POWER_OFF) {
    return true;
  }

  // Without a VM replication record the vendors are unknown (0): neither
  // create-VM nor clone-VM is needed then.
  const int32_t source = vsa != nullptr ? vsa->GetSourceVendor() : 0;
  const int32_t dest = vsa != nullptr ? vsa->GetDestinationVendor() : 0;
  if (op == TMMsg::VM_OPERATION_CREATE_VM) return !(source == Common::VS_VENDOR_1 && dest == Common::VS_VENDOR_1);
  if (op == TMMsg::VM_OPERATION_CLONE_VM) return !(IsFamily5(dest) || dest == Common::VS_VENDOR_4);

  if (info->GetInfoSource() != TMMsg::DR_OP_SOURCE_VSA_REPLICATION) return false;
  reason = "Operation not required for VSVendor type";
  if (vsa == nullptr) return false;

  // The option costs a task lookup: ask only where the vendor table reads it.
  bool option = false;
  if (ctx.site == Api::DR_SITE_DESTINATION && (IsFamily5(dest) || dest == Common::VS_VENDOR_16) &&
      appMgr != nullptr) {
    option = appMgr->IsCreateDRVMOptionEnabled(vsa->GetTaskId());
  }
  return CanSkipVMOpForVendor(op, drType, ctx, dest, option);
}
