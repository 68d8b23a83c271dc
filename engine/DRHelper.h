// DRHelper: stateless helpers shared by the engine, the DR contexts and the
// management services.
//
// - Display texts of the DR enumerations, for log lines and the job report.
//   Each returns a new string and never fails; a value without a text of its
//   own (negative and out-of-range values included) gives the operation's
//   default text, which is the empty string for most of them.
// - Mappings between the enumerations: the VM operation and child-job type
//   of a phase, the policy type of a vendor, the snap-mount phases and DR
//   types, and the failover status a DR type records on a replication.
//
// - Job-status tests on a child job's status text, readers of the DR group's
//   configuration messages, datastore-replication converters, and small
//   helpers around task responses, entities, XML and id lists.
//
// No instances, no state, no locks; safe from any thread. Only the message
// readers log, and only their failures.
//
// What describes one DR step through its operation context (batch
// operation, site and phase, progress weight, worker-thread kind), the
// texts of batch operations and thread kinds, and the checks on a
// replication before a DR type runs live in DRInfoUtils.
#pragma once

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class ApplicationId;
class ZNJobQuery;

class DRHelper {
 public:
  DRHelper() = delete;

  // ---- Display texts ------------------------------------------------------

  // Default "DR Operation".
  static std::string GetPhaseNameStr(Api::VirtualAppJobPhaseType phase);
  // States are compared as whole values: a combination of bits has no text.
  // Default "UNKOWN".
  static std::string GetPhaseStatusStr(Api::VirtualAppPhaseState state);
  // Default empty.
  static std::string GetVSASyncStatusStr(App::VSAReplicationStatus status);
  // Default empty.
  static std::string GetVSAFailoverStatusStr(App::VSAFailoverStatus status);
  // Default empty.
  static std::string GetDRTestFailoverStatusStr(App::DRTestFailoverStatus status);
  // Default empty.
  static std::string GetDrTypeStr(TMMsg::DROrchestrationType drType);
  // Default "Custom Op".
  static std::string GetOpStr(ZNOpType opType);
  // Default empty.
  static std::string GetSiteStr(Api::DRSite site);
  // Default empty.
  static std::string GetInfoSourceStr(TMMsg::DROpSourceType source);
  // Default empty.
  static std::string GetJobOpStr(JobManager::JobOperation op);

  // ---- Phase and DR-type mappings -----------------------------------------

  // VM operation a phase asks the platform for; VM_OPERATION_GENERIC when
  // the phase has none of its own.
  static TMMsg::VMOperationType GetVMPhaseMapping(Api::VirtualAppJobPhaseType phase);
  // Job operation type of the child job a phase starts; ZN_OP_NONE when the
  // phase starts no child job.
  static ZNOpType GetZNOptype(Api::VirtualAppJobPhaseType phase);
  // Policy type of a VM operation request for the vendor of its site; 0 for
  // vendors without one.
  static int GetPolicyType(Common::VSVendor vendor);

  static bool IsSnapMount(Api::VirtualAppJobPhaseType phase);
  static bool IsSnapUnmount(Api::VirtualAppJobPhaseType phase);
  // Mount phase of a DR type: the failovers mount for real, everything else
  // mounts for a test.
  static Api::VirtualAppJobPhaseType GetMountType(TMMsg::DROrchestrationType drType);
  static bool IsTestFailoverType(TMMsg::DROrchestrationType drType);
  static bool IsSnapFailoverJob(TMMsg::DROrchestrationType drType);

  // Phase state of a backup phase from a VM's backup status.
  static Api::VirtualAppPhaseState GetBackupPhaseStatus(App::VmStatusEnum status);

  // ---- Failover statuses --------------------------------------------------

  // The failover status a DR type records while it runs, when it succeeds and
  // when it fails; VSA_FAILOVER_STATUS_NONE (record nothing) for DR types
  // that do not change the failover status.
  static App::VSAFailoverStatus GetFailoverRunningStatus(TMMsg::DROrchestrationType drType);
  static App::VSAFailoverStatus GetFailoverSuccessStatus(TMMsg::DROrchestrationType drType);
  static App::VSAFailoverStatus GetFailoverFailureStatus(TMMsg::DROrchestrationType drType);
  // One of the three above chosen by the phase state (in progress, success,
  // failed); VSA_FAILOVER_STATUS_NONE for any other state.
  static App::VSAFailoverStatus GetFailoverStatus(TMMsg::DROrchestrationType drType,
                                                  Api::VirtualAppPhaseState state);
  // Test-failover status to record: DR type 11 records the test failover's
  // statuses, any other type the undo's. DR_TEST_FAILOVER_STATUS_NONE for
  // states other than in progress, success and failed.
  static App::DRTestFailoverStatus GetTestFailoverStatus(TMMsg::DROrchestrationType drType,
                                                         Api::VirtualAppPhaseState state);

  // ---- Job-status tests ---------------------------------------------------
  // Each upper-cases the caller's text in place, then compares it whole with
  // its texts (no trimming).

  // "COMPLETED", "COMPLETED W/ ONE OR MORE ERRORS", "COMPLETED WITH ERRORS".
  static bool IsJobSuccessful(std::string& status);
  // "SUSPENDED", "SUSPEND PENDING".
  static bool IsJobSuspended(std::string& status);
  // "KILLED", "KILL PENDING".
  static bool IsJobKilledIssued(std::string& status);
  // "FAILED".
  static bool IsJobFailed(std::string& status);

  // ---- DR group readers ---------------------------------------------------

  // Replaces out with the group's priorities; false (out untouched) when the
  // group has no configuration.
  static bool GetVMPriorities(const Api::VirtualApp& app, std::vector<TMMsg::VMGroup>& out);
  // Replaces out with the option's replication ids; false (out untouched)
  // when there is no replication information or no id list.
  static bool GetReplList(const TMMsg::DROrchestrationOption& option, std::vector<int>& out);
  // Clears out, then appends the replication id of each VM sequence entry;
  // false when the group has no sequence.
  static bool GetReplicationList(const TMMsg::VMGroup& group, std::vector<int>& out);
  // Leaves the step as the caller passed it: per-phase step settings are not
  // read from the sequence, so callers see the step's initial values.
  static void GetDRStep(const Api::DRSequence& sequence, Api::VirtualAppJobPhaseType phase, Api::DRStep& step);

  // ---- Task, entity and XML helpers ---------------------------------------

  // The first job id of a task-creation response. False, with jobId left
  // untouched, when there is none or it does not start with a positive
  // 64-bit number ("123abc" gives 123).
  static bool GetJobId(const TMMsg::CreateTaskResp& resp, long long& jobId);
  // The same rule for one job id text.
  static bool ParseJobId(const std::string& text, long long& jobId);
  // Sets the entity's application, instance, backup set, subclient and
  // client ids, in that order.
  static void GetApplicationInfo(const ApplicationId& app, ZnEntities::GenericEntity& entity);
  // Indented XML of the message; false when the serializer fails.
  static bool GetFormattedXML(const CNMessageBase& msg, std::string& xml);

  // ---- Jobs ---------------------------------------------------------------

  // Whether the job is a snap backup. False when the job query cannot tell
  // the job's operation type.
  static bool IsSnapJob(long long jobId, ZNJobQuery& query);

  // ---- Datastore replications ---------------------------------------------

  // For destination site and the DR-VM snap mount phase only: every API entry
  // takes the destination datastore (fields 2, then 1) of each VM-side entry
  // with the same id; with duplicate ids the last VM-side entry wins.
  static void UpdateSiteDatastores(const std::vector<Ida::VMDatastoreReplication>& vmSide,
                                   std::vector<Api::DatastoreReplication>& apiSide, Api::DRSite site,
                                   Api::VirtualAppJobPhaseType phase);
  // Appends one VM-side entry per API entry (source, destination, id).
  static void ConstructSiteDatastores(const std::vector<Api::DatastoreReplication>& apiSide,
                                      std::vector<Ida::VMDatastoreReplication>& vmSide);

  // "1,2,3": the elements in iteration order, no blanks, no trailing comma.
  template <class TCollection>
  static std::string GetCollCSVStr(const TCollection& values) {
    std::ostringstream out;
    for (const auto& v : values) out << v << ",";
    std::string text = out.str();
    if (!text.empty()) text.pop_back();
    return text;
  }
};
