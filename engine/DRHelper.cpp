#include "DRHelper.h"

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

namespace {

// One row of a lookup table: an enumeration value and what it maps to.
template <typename TValue>
struct SEntry {
  int32_t key;
  TValue value;
};

// The tables hold a few dozen rows at most and are read a few times per
// step, so a linear search keeps them in the order the reader expects.
template <typename TValue, size_t N>
const TValue* Find(const SEntry<TValue> (&table)[N], int32_t key) {
  for (const SEntry<TValue>& entry : table) {
    if (entry.key == key) return &entry.value;
  }
  return nullptr;
}

// The fallback does not take part in deducing TValue, so an enumerator or a
// string literal converts to the table's type.
template <typename TValue, size_t N>
TValue Lookup(const SEntry<TValue> (&table)[N], int32_t key,
              typename std::common_type<TValue>::type fallback) {
  const TValue* found = Find(table, key);
  return found ? *found : fallback;
}

using STextEntry = SEntry<const char*>;
using SValueEntry = SEntry<int32_t>;

// ---- Display texts ----------------------------------------------------------

const STextEntry kPhaseNames[] = {
    {0, "Script Execution"},
    {1, "Power On"},
    {2, "Power Off"},
    {7, "Replication"},
    {8, "Backup"},
    {15, "Disable Sync"},
    {16, "Enable Sync"},
    {17, "Create Snapshot"},
    {18, "Delete Snapshot"},
    {19, "Revert Snapshot"},
    {20, "Disable Network Adapters"},
    {21, "Aux Copy"},
    {23, "Backup Copy"},
    {24, "Shutdown"},
    {25, "Storage Operation"},
    {28, "Delete Operation"},
    {29, "Create Virtual Machine"},
    {30, "Get VM Info VM"},
    {31, "Create DR Virtual Machine"},
    {32, "Post VM Failover"},
    {34, "DR-VM Snap Mount"},
    {35, "Break Volume Relationship"},
    {36, "Re-sync Volume Relationship"},
    {37, "DR-VM Snap Unmount"},
    {38, "DR-VM Test Snap Mount"},
    {39, "DR-VM Test Snap Unmount"},
    {40, "Delete DR Virtual Machine"},
    {41, "Post VM Failover"},
    {42, "Clone VM"},
    {43, "Refresh VM"},
};

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

const STextEntry kPhaseStateNames[] = {
    {0, "SUCCESS"}, {1, "FAILED"},  {2, "IN-PROGRESS"}, {4, "CWE"},
    {8, "SKIPPED"}, {16, "KILLED"}, {32, "SUSPENDED"},
};

const STextEntry kSyncStatusNames[] = {
    {1, "In Sync"},           {2, "Need Sync"},     {3, "Sync in Progress"},
    {4, "Sync Paused"},       {5, "Sync Failed"},   {6, "Sync Disabled"},
    {7, "Sync Enabled"},      {8, "Validation Failed"}, {10, "Revert Failed"},
    {11, "Sync Starting"},
};

const STextEntry kFailoverStatusNames[] = {
    {1, "Failover Complete"},
    {2, "Failover in Progress"},
    {4, "Failover Failed"},
    {5, "Failback Complete"},
    {6, "Failback in Progress"},
    {8, "Failback Failed"},
    {13, "Revert Failover Complete"},
    {14, "Revert Failover in Progress"},
    {15, "Revert Failover Failed"},
};

const STextEntry kTestFailoverStatusNames[] = {
    {1, "Test Failover Complete"},
    {2, "Test Failover in Progress"},
    {3, "Test Failover Failed"},
    {4, "Undo-Test Failover in Progress"},
    {5, "Undo-Test Failover Failed"},
};

const STextEntry kDrTypeNames[] = {
    {1, "Planned Failover"},
    {2, "Failback"},
    {3, "Unplanned Failover"},
    {4, "Revert Failover"},
    {6, "Undo Failover"},
    {7, "Testboot"},
    {8, "Point in Time Failover"},
    {9, "Reverse Replication"},
    {10, "Cleanup up Destination VM"},
    {11, "Test Failover"},
    {13, "Undo Test Failover"},
};

const STextEntry kOpTypeNames[] = {
    {4, "Backup"}, {13, "Aux Copy"}, {60, "Backup Copy"}, {105, "Replication"},
};

const STextEntry kSiteNames[] = {{0, "Source"}, {1, "Destination"}};

const STextEntry kInfoSourceNames[] = {{0, "VSA Replication"}, {2, "DB Replication"}};

const STextEntry kJobOpNames[] = {{0, "Suspend"}, {2, "Resume"}, {3, "Kill"}};

const STextEntry kThreadTypeNames[] = {
    {0, "Subclient"},
    {1, "Sub-Priority"},
    {3, "Break Volume Relationship"},
    {4, "Resync Volume Relationship"},
};

// ---- Step mappings ----------------------------------------------------------

const SValueEntry kPhaseVMOperations[] = {
    {0, 46},  {1, 10},  {2, 29},  {17, 3},  {18, 15}, {19, 4},  {20, 47},
    {24, 2},  {28, 5},  {29, 0},  {30, 16}, {31, 50}, {32, 52}, {34, 55},
    {38, 55}, {37, 56}, {39, 56}, {40, 57}, {41, 58}, {42, 6},  {43, 20},
};

const SValueEntry kPhaseChildJobTypes[] = {{7, 105}, {8, 4}, {21, 13}, {23, 60}};

const SValueEntry kVendorPolicyTypes[] = {{2, 2}, {4, 1}, {5, 3}, {7, 7}, {12, 10}};

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

struct SFailoverStatuses {
  int32_t running;
  int32_t success;
  int32_t failure;
};

// A failed point-in-time failover (8) records no failure status on purpose:
// its context's clean-up turns a status still "in progress" into "failed",
// so recording one here as well would only duplicate that write.
const SEntry<SFailoverStatuses> kFailoverStatuses[] = {
    {1, {2, 1, 4}},    {3, {2, 1, 4}},    {8, {2, 1, 0}},
    {2, {6, 5, 8}},    {4, {14, 13, 15}}, {6, {14, 13, 15}},
};

struct STestFailoverStatuses {
  int32_t test;  // DR type 11
  int32_t undo;  // any other DR type
};

const SEntry<STestFailoverStatuses> kTestFailoverStatuses[] = {
    {0, {1, 0}}, {1, {3, 5}}, {2, {2, 4}},
};

const SFailoverStatuses kNoFailoverStatuses = {0, 0, 0};

const SFailoverStatuses& FailoverStatusesOf(TMMsg::DROrchestrationType drType) {
  const SFailoverStatuses* found = Find(kFailoverStatuses, drType);
  return found ? *found : kNoFailoverStatuses;
}

}  // namespace

std::string DRHelper::GetPhaseNameStr(Api::VirtualAppJobPhaseType phase) {
  return Lookup(kPhaseNames, phase, "DR Operation");
}

std::string DRHelper::GetBatchOpStr(ZNDR::BatchOperation op) {
  return Lookup(kBatchOpNames, op, "Gen Op");
}

std::string DRHelper::GetPhaseStatusStr(Api::VirtualAppPhaseState state) {
  return Lookup(kPhaseStateNames, state, "UNKOWN");
}

std::string DRHelper::GetVSASyncStatusStr(App::VSAReplicationStatus status) {
  return Lookup(kSyncStatusNames, status, "");
}

std::string DRHelper::GetVSAFailoverStatusStr(App::VSAFailoverStatus status) {
  return Lookup(kFailoverStatusNames, status, "");
}

std::string DRHelper::GetDRTestFailoverStatusStr(App::DRTestFailoverStatus status) {
  return Lookup(kTestFailoverStatusNames, status, "");
}

std::string DRHelper::GetDrTypeStr(TMMsg::DROrchestrationType drType) {
  return Lookup(kDrTypeNames, drType, "");
}

std::string DRHelper::GetOpStr(ZNOpType opType) {
  return Lookup(kOpTypeNames, opType, "Custom Op");
}

std::string DRHelper::GetSiteStr(Api::DRSite site) { return Lookup(kSiteNames, site, ""); }

std::string DRHelper::GetInfoSourceStr(TMMsg::DROpSourceType source) {
  return Lookup(kInfoSourceNames, source, "");
}

std::string DRHelper::GetJobOpStr(JobManager::JobOperation op) {
  return Lookup(kJobOpNames, op, "");
}

std::string DRHelper::GetDRThreadTypeStr(DRThreadType type) {
  return Lookup(kThreadTypeNames, type, "Gen-Op");
}

TMMsg::VMOperationType DRHelper::GetVMPhaseMapping(Api::VirtualAppJobPhaseType phase) {
  return static_cast<TMMsg::VMOperationType>(
      Lookup(kPhaseVMOperations, phase, TMMsg::VM_OPERATION_GENERIC));
}

ZNOpType DRHelper::GetZNOptype(Api::VirtualAppJobPhaseType phase) {
  return static_cast<ZNOpType>(Lookup(kPhaseChildJobTypes, phase, ZN_OP_NONE));
}

int DRHelper::GetPolicyType(Common::VSVendor vendor) {
  return Lookup(kVendorPolicyTypes, vendor, 0);
}

ZNDR::BatchOperation DRHelper::GetBatchOp(Api::VirtualAppJobPhaseType phase, Api::DRSite site,
                                          bool preScript) {
  const SSiteOps* ops = nullptr;
  if (phase == Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION) {
    ops = preScript ? &kPreScriptOps : &kPostScriptOps;
  } else {
    ops = Find(kPhaseBatchOps, phase);
  }
  if (ops == nullptr) return ZNDR::BATCH_OP_NONE;
  if (ops->anySite || site == Api::DR_SITE_SOURCE) {
    return static_cast<ZNDR::BatchOperation>(ops->primary);
  }
  if (site == Api::DR_SITE_DESTINATION) return static_cast<ZNDR::BatchOperation>(ops->secondary);
  return ZNDR::BATCH_OP_NONE;
}

void DRHelper::LoadBasicPhaseDetails(ZNDR::BatchOperation op, Api::DRSite& site,
                                     Api::VirtualAppJobPhaseType& phase) {
  const SSitePhase* details = Find(kBatchOpPhases, op);
  if (details == nullptr) return;
  site = static_cast<Api::DRSite>(details->site);
  phase = static_cast<Api::VirtualAppJobPhaseType>(details->phase);
}

int DRHelper::GetPhaseWeightage(Api::VirtualAppJobPhaseType phase,
                                TMMsg::DROrchestrationType drType) {
  const SWeight* weight = Find(kPhaseWeights, phase);
  if (weight == nullptr) return 0;
  return drType == TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER ? weight->unplanned
                                                              : weight->normal;
}

DRThreadType DRHelper::GetDRThreadType(Api::VirtualAppJobPhaseType phase) {
  switch (phase) {
    case Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP:
      return DR_THREAD_BREAK_VOLUME_RELATIONSHIP;
    case Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP:
      return DR_THREAD_RESYNC_VOLUME_RELATIONSHIP;
    default:
      return DR_THREAD_GENERIC_OP;
  }
}

E_VOLUME_RELATIONSHIP_STATUS DRHelper::GetSuccessStatus(Api::VirtualAppJobPhaseType phase) {
  switch (phase) {
    case Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP:
      return VOLUME_RELATIONSHIP_BROKEN;
    case Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP:
      return VOLUME_RELATIONSHIP_NORMAL;
    default:
      return VOLUME_RELATIONSHIP_NOT_RECORDED;
  }
}

bool DRHelper::IsThreadsApplicableForPhase(Api::VirtualAppJobPhaseType phase,
                                           TMMsg::DROrchestrationType /*drType*/) {
  return !IsSnapUnmount(phase);
}

bool DRHelper::IsPriorityBootBased(TMMsg::DRReplicationType replicationType) {
  return replicationType == TMMsg::DR_REPLICATION_TYPE_SNAP_ARRAY;
}

bool DRHelper::IsSnapMount(Api::VirtualAppJobPhaseType phase) {
  return phase == Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT ||
         phase == Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT;
}

bool DRHelper::IsSnapUnmount(Api::VirtualAppJobPhaseType phase) {
  return phase == Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT ||
         phase == Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT;
}

Api::VirtualAppJobPhaseType DRHelper::GetMountType(TMMsg::DROrchestrationType drType) {
  if (drType == TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER ||
      drType == TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER) {
    return Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT;
  }
  return Api::VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT;
}

bool DRHelper::IsTestFailoverType(TMMsg::DROrchestrationType drType) {
  return drType == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER ||
         drType == TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER;
}

bool DRHelper::IsSnapFailoverJob(TMMsg::DROrchestrationType drType) {
  return drType == TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER ||
         drType == TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER ||
         drType == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER;
}

Api::VirtualAppPhaseState DRHelper::GetBackupPhaseStatus(App::VmStatusEnum status) {
  if (status == App::VM_STATUS_SUCCESS || status == App::VM_STATUS_SUCCESS_WITH_ERRORS) {
    return Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
  }
  return Api::VIRTUAL_APP_PHASE_STATE_FAILED;
}

App::VSAFailoverStatus DRHelper::GetFailoverRunningStatus(TMMsg::DROrchestrationType drType) {
  return static_cast<App::VSAFailoverStatus>(FailoverStatusesOf(drType).running);
}

App::VSAFailoverStatus DRHelper::GetFailoverSuccessStatus(TMMsg::DROrchestrationType drType) {
  return static_cast<App::VSAFailoverStatus>(FailoverStatusesOf(drType).success);
}

App::VSAFailoverStatus DRHelper::GetFailoverFailureStatus(TMMsg::DROrchestrationType drType) {
  return static_cast<App::VSAFailoverStatus>(FailoverStatusesOf(drType).failure);
}

App::VSAFailoverStatus DRHelper::GetFailoverStatus(TMMsg::DROrchestrationType drType,
                                                   Api::VirtualAppPhaseState state) {
  switch (state) {
    case Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS:
      return GetFailoverRunningStatus(drType);
    case Api::VIRTUAL_APP_PHASE_STATE_SUCCESS:
      return GetFailoverSuccessStatus(drType);
    case Api::VIRTUAL_APP_PHASE_STATE_FAILED:
      return GetFailoverFailureStatus(drType);
    default:
      return App::VSA_FAILOVER_STATUS_NONE;
  }
}

App::DRTestFailoverStatus DRHelper::GetTestFailoverStatus(TMMsg::DROrchestrationType drType,
                                                          Api::VirtualAppPhaseState state) {
  const STestFailoverStatuses* statuses = Find(kTestFailoverStatuses, state);
  if (statuses == nullptr) return App::DR_TEST_FAILOVER_STATUS_NONE;
  return static_cast<App::DRTestFailoverStatus>(
      drType == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER ? statuses->test : statuses->undo);
}

bool DRHelper::IsFailoverStatusValid(App::VSAFailoverStatus current,
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
