// DRHelper: stateless helpers shared by the engine, the DR contexts and the
// management services.
//
// - Display texts of the DR enumerations, for log lines and the job report.
//   Each returns a new string and never fails; a value without a text of its
//   own (negative and out-of-range values included) gives the operation's
//   default text, which is the empty string for most of them.
// - Mappings between the enumerations: the batch operation, VM operation and
//   child-job type of a DR step, its site and phase, its weight in the job's
//   progress, its worker-thread kind, and the failover status a DR type
//   records on a replication.
//
// Everything here is a pure function of its arguments: no instances, no
// state, no locks, no logging; safe from any thread.
//
// The step-level mappings take the fields of an operation context (phase,
// site, pre-script switch) rather than the context itself, so that they stay
// pure and usable by any caller that holds those values.
#pragma once

#include <string>

#include "DRThreadType.h"
#include "msg/MsgEnums.h"

class DRHelper {
 public:
  DRHelper() = delete;

  // ---- Display texts ------------------------------------------------------

  // Default "DR Operation".
  static std::string GetPhaseNameStr(Api::VirtualAppJobPhaseType phase);
  // Default "Gen Op".
  static std::string GetBatchOpStr(ZNDR::BatchOperation op);
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
  // Default "Gen-Op" (the generic per-machine kind 2 included).
  static std::string GetDRThreadTypeStr(DRThreadType type);

  // ---- Step mappings ------------------------------------------------------

  // VM operation a phase asks the platform for; VM_OPERATION_GENERIC when
  // the phase has none of its own.
  static TMMsg::VMOperationType GetVMPhaseMapping(Api::VirtualAppJobPhaseType phase);
  // Job operation type of the child job a phase starts; ZN_OP_NONE when the
  // phase starts no child job.
  static ZNOpType GetZNOptype(Api::VirtualAppJobPhaseType phase);
  // Policy type of a VM operation request for the vendor of its site; 0 for
  // vendors without one.
  static int GetPolicyType(Common::VSVendor vendor);

  // Batch operation of a step. For a script phase the pre-script switch
  // chooses pre- or post-scripts. Site-dependent phases give BATCH_OP_NONE
  // for a site other than source or destination; phases that run the same
  // operation on either site ignore the site. Phases without an operation
  // (the test-mount phases 38 and 39 included) give BATCH_OP_NONE.
  static ZNDR::BatchOperation GetBatchOp(Api::VirtualAppJobPhaseType phase, Api::DRSite site,
                                         bool preScript);
  // Sets the site and phase that a batch operation implies. Operations that
  // imply none (scripts, snapshots, ...) leave both untouched. Not the exact
  // inverse of GetBatchOp: the test mounts 33 and 34 load phases 38 and 39,
  // which GetBatchOp does not map back.
  static void LoadBasicPhaseDetails(ZNDR::BatchOperation op, Api::DRSite& site,
                                    Api::VirtualAppJobPhaseType& phase);

  // Percentage points a phase adds to a machine's progress when it succeeds.
  static int GetPhaseWeightage(Api::VirtualAppJobPhaseType phase,
                               TMMsg::DROrchestrationType drType);

  // Worker-thread kind of a phase: the volume-relationship phases have their
  // own, every other phase is a generic per-machine operation.
  static DRThreadType GetDRThreadType(Api::VirtualAppJobPhaseType phase);
  // Relationship status a replica group records when a break or re-sync
  // step succeeds; VOLUME_RELATIONSHIP_NOT_RECORDED for any other phase.
  static E_VOLUME_RELATIONSHIP_STATUS GetSuccessStatus(Api::VirtualAppJobPhaseType phase);
  // Whether a step may run its machines on worker threads: not for the snap
  // unmounts. The DR type does not matter today.
  static bool IsThreadsApplicableForPhase(Api::VirtualAppJobPhaseType phase,
                                          TMMsg::DROrchestrationType drType);
  // Whether priorities follow the machines' boot order (storage-array
  // replication).
  static bool IsPriorityBootBased(TMMsg::DRReplicationType replicationType);

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
  // Whether a replication whose failover status is `current` may run the
  // DR type.
  static bool IsFailoverStatusValid(App::VSAFailoverStatus current,
                                    TMMsg::DROrchestrationType drType);
};
