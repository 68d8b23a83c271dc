#include "DRHelper.h"

#include <ctype.h>
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>

#include "appmgr/ApplicationId.h"
#include "jobs/PhaseTexts.h"
#include "jobs/ZNJobQuery.h"
#include "log/EvEvent.h"
#include "msg/XMLSerializer.h"
#include "repl/ReplicationStatusTexts.h"

#include "EnumLookup.h"

namespace {

using EnumLookup::Find;
using EnumLookup::Lookup;
using EnumLookup::SEntry;
using EnumLookup::STextEntry;
using EnumLookup::SValueEntry;

// ---- Display texts ----------------------------------------------------------

const STextEntry kPhaseStateNames[] = {
    {0, "SUCCESS"}, {1, "FAILED"},  {2, "IN-PROGRESS"}, {4, "CWE"},
    {8, "SKIPPED"}, {16, "KILLED"}, {32, "SUSPENDED"},
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

// ---- Step mappings ----------------------------------------------------------

const SValueEntry kPhaseVMOperations[] = {
    {0, 46},  {1, 10},  {2, 29},  {17, 3},  {18, 15}, {19, 4},  {20, 47},
    {24, 2},  {28, 5},  {29, 0},  {30, 16}, {31, 50}, {32, 52}, {34, 55},
    {38, 55}, {37, 56}, {39, 56}, {40, 57}, {41, 58}, {42, 6},  {43, 20},
};

const SValueEntry kPhaseChildJobTypes[] = {{7, 105}, {8, 4}, {21, 13}, {23, 60}};

const SValueEntry kVendorPolicyTypes[] = {{2, 2}, {4, 1}, {5, 3}, {7, 7}, {12, 10}};

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
  return CPhaseTexts::Phase(phase);
}

std::string DRHelper::GetPhaseStatusStr(Api::VirtualAppPhaseState state) {
  return Lookup(kPhaseStateNames, state, "UNKOWN");
}

std::string DRHelper::GetVSASyncStatusStr(App::VSAReplicationStatus status) {
  return CReplicationStatusTexts::Sync(status);
}

std::string DRHelper::GetVSAFailoverStatusStr(App::VSAFailoverStatus status) {
  return CReplicationStatusTexts::Failover(status);
}

std::string DRHelper::GetDRTestFailoverStatusStr(App::DRTestFailoverStatus status) {
  return CReplicationStatusTexts::TestFailover(status);
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

// ---- Job-status tests -------------------------------------------------------

namespace {

void UpperInPlace(std::string& text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
}

bool MatchesAny(std::string& status, std::initializer_list<const char*> texts) {
  UpperInPlace(status);
  for (const char* t : texts) {
    if (status == t) return true;
  }
  return false;
}

}  // namespace

bool DRHelper::IsJobSuccessful(std::string& status) {
  return MatchesAny(status, {"COMPLETED", "COMPLETED W/ ONE OR MORE ERRORS", "COMPLETED WITH ERRORS"});
}

bool DRHelper::IsJobSuspended(std::string& status) { return MatchesAny(status, {"SUSPENDED", "SUSPEND PENDING"}); }

bool DRHelper::IsJobKilledIssued(std::string& status) { return MatchesAny(status, {"KILLED", "KILL PENDING"}); }

bool DRHelper::IsJobFailed(std::string& status) { return MatchesAny(status, {"FAILED"}); }

// ---- DR group readers ---------------------------------------------------------

bool DRHelper::GetVMPriorities(const Api::VirtualApp& app, std::vector<TMMsg::VMGroup>& out) {
  if (!app.Has(Api::VirtualApp::kConfig)) {
    EvEvent().Error("GetVMPriorities", "vapp config not set");
    return false;
  }
  const CNMessageBase& config = app.GetMsg(Api::VirtualApp::kConfig);
  size_t n = config.ListSize(TMMsg::DRGroupConfigFields::kPriorities);
  std::vector<TMMsg::VMGroup> groups;
  groups.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    groups.push_back(config.GetListMsgAs<TMMsg::VMGroup>(TMMsg::DRGroupConfigFields::kPriorities, i));
  }
  out.swap(groups);
  return true;
}

bool DRHelper::GetReplList(const TMMsg::DROrchestrationOption& option, std::vector<int>& out) {
  const CNMessageBase& info = option.GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  if (!option.Has(TMMsg::DROrchestrationOption::kReplicationInfo) ||
      !info.Has(TMMsg::DRReplicationInfoFields::kReplicationIds)) {
    EvEvent().Error("GetReplList", "Replication info not set OR replication id(s) not found");
    return false;
  }
  size_t n = info.ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds);
  std::vector<int> ids;
  ids.reserve(n);
  for (size_t i = 0; i < n; ++i) ids.push_back(info.GetListInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, i));
  out.swap(ids);
  return true;
}

bool DRHelper::GetReplicationList(const TMMsg::VMGroup& group, std::vector<int>& out) {
  out.clear();
  if (!group.Has(TMMsg::VMGroup::kVMSequence)) return false;
  size_t n = group.ListSize(TMMsg::VMGroup::kVMSequence);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(group.GetListMsg(TMMsg::VMGroup::kVMSequence, i).GetInt32(TMMsg::VMDependencyOrder::kReplicationId));
  }
  return true;
}

void DRHelper::GetDRStep(const Api::DRSequence&, Api::VirtualAppJobPhaseType, Api::DRStep&) {}

// ---- Task, entity and XML helpers -------------------------------------------

bool DRHelper::GetJobId(const TMMsg::CreateTaskResp& resp, long long& jobId) {
  if (resp.ListSize(TMMsg::CreateTaskResp::kJobIds) == 0) return false;
  return ParseJobId(resp.GetListString(TMMsg::CreateTaskResp::kJobIds, 0), jobId);
}

bool DRHelper::ParseJobId(const std::string& text, long long& jobId) {
  if (text.empty() || !isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  long long value = strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value <= 0) return false;
  jobId = value;
  return true;
}

void DRHelper::GetApplicationInfo(const ApplicationId& app, ZnEntities::GenericEntity& entity) {
  entity.SetInt32(ZnEntities::GenericEntity::kApplicationId, static_cast<int32_t>(app.getApplicationId()));
  entity.SetInt32(ZnEntities::GenericEntity::kInstanceId, static_cast<int32_t>(app.getInstanceId()));
  entity.SetInt32(ZnEntities::GenericEntity::kBackupSetId, static_cast<int32_t>(app.getBackupSetId()));
  entity.SetInt32(ZnEntities::GenericEntity::kSubclientId, static_cast<int32_t>(app.getSubclientId()));
  entity.SetInt64(ZnEntities::GenericEntity::kClientId, app.getClientId());
}

bool DRHelper::GetFormattedXML(const CNMessageBase& msg, std::string& xml) {
  // Indented, with the type id, no field hashes, UTF-8.
  EncodingFlags flags = {1, 0, 1, 0, 0, -1, 0, 0, 1, 0, 0};
  XMLSerializer serializer(flags);
  return serializer.serialize(msg, xml, true) == 0;
}

// ---- Datastore replications ---------------------------------------------------

void DRHelper::UpdateSiteDatastores(const std::vector<Ida::VMDatastoreReplication>& vmSide,
                                    std::vector<Api::DatastoreReplication>& apiSide, Api::DRSite site,
                                    Api::VirtualAppJobPhaseType phase) {
  if (site != Api::DR_SITE_DESTINATION || phase != Api::VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT) return;
  for (Api::DatastoreReplication& api : apiSide) {
    for (const Ida::VMDatastoreReplication& vm : vmSide) {
      if (api.GetInt32(Api::DatastoreReplication::kReplicationId) !=
          vm.GetInt32(Ida::VMDatastoreReplication::kReplicationId))
        continue;
      const CNMessageBase& from = vm.GetMsg(Ida::VMDatastoreReplication::kDestinationDatastore);
      CNMessageBase& to = api.MutableMsg(Api::DatastoreReplication::kDestinationDatastore);
      to.SetString(VirtualServer::VMDatastoreInfo::kDatastoreName,
                   from.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName));
      to.SetString(VirtualServer::VMDatastoreInfo::kDatastoreId,
                   from.GetString(VirtualServer::VMDatastoreInfo::kDatastoreId));
    }
  }
}

void DRHelper::ConstructSiteDatastores(const std::vector<Api::DatastoreReplication>& apiSide,
                                       std::vector<Ida::VMDatastoreReplication>& vmSide) {
  for (const Api::DatastoreReplication& api : apiSide) {
    Ida::VMDatastoreReplication vm;
    vm.SetMsg(Ida::VMDatastoreReplication::kSourceDatastore, api.GetMsg(Api::DatastoreReplication::kSourceDatastore));
    vm.SetMsg(Ida::VMDatastoreReplication::kDestinationDatastore,
              api.GetMsg(Api::DatastoreReplication::kDestinationDatastore));
    vm.SetInt32(Ida::VMDatastoreReplication::kReplicationId, api.GetInt32(Api::DatastoreReplication::kReplicationId));
    vmSide.push_back(std::move(vm));
  }
}

bool DRHelper::IsSnapJob(long long jobId, ZNJobQuery& query) {
  // A failed query leaves the type at "none" rather than whatever the
  // caller's stack held.
  ZNOpType opType = ZN_OP_NONE;
  if (query.getOpTypeForJob(jobId, opType) != 0) return false;
  return opType == ZN_OP_SNAP_BACKUP;
}
