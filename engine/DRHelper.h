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
// Everything here is a pure function of its arguments: no instances, no
// state, no locks, no logging; safe from any thread.
//
// What describes one DR step through its operation context (batch
// operation, site and phase, progress weight, worker-thread kind), the
// texts of batch operations and thread kinds, and the checks on a
// replication before a DR type runs live in DRInfoUtils.
#pragma once

#include <string>

#include "msg/MsgEnums.h"

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
};
