// DRInfoUtils: stateless helpers that describe one DR step (an operation
// context) in terms of the DR enumerations.
//
// - The batch operation a step performs on its site, and the site and phase
//   a batch operation implies.
// - The step's weight in the job's progress, its worker-thread kind, whether
//   its machines may run on worker threads, and the relationship status a
//   replica group records when a volume-relationship step succeeds.
// - Whether a replication may run a DR type, and whether priorities follow
//   the machines' boot order.
// - The display texts of batch operations and worker-thread kinds. Each
//   returns a new string and never fails; a value without a text of its own
//   gives the default text.
//
// Everything here is a pure function of its arguments: no instances, no
// state, no locks, no logging; safe from any thread as long as no other
// thread writes the context passed in. The helpers that do not depend on a
// step (phase names, statuses, VM operations, failover statuses) live in
// DRHelper.
//
// Machine lists and step rules (blocks below): helpers over lists of machine
// records, the selection orders of the snapshot work, and yes/no rules a
// step asks before it touches a machine. These read machine records and the
// application manager; a few log through a local event. A null record or an
// empty list never crashes: yes/no rules answer no, texts are empty, ids 0.
#pragma once

#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "DRThreadType.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

class CDRInfo;
class SnapDRRepInfo;
class VSARepInfo;
struct SDataSourceInfo;
struct SDRPhaseCtx;
struct SDROperationCtx;

// A per-site property of a machine record.
enum DR_SITE_PROPERTY : int32_t {
  DR_SITE_PROPERTY_NAME = 0,
  DR_SITE_PROPERTY_GUID = 1,
  DR_SITE_PROPERTY_INSTANCE_ID = 2,
};

class DRInfoUtils {
 public:
  DRInfoUtils() = delete;

  // ---- Display texts ------------------------------------------------------

  // Default "Gen Op".
  static std::string GetBatchOpStr(ZNDR::BatchOperation op);
  // Default "Gen-Op" (the generic per-machine kind 2 included).
  static std::string GetDRThreadTypeStr(DRThreadType type);

  // ---- Step mappings ------------------------------------------------------

  // Batch operation of the step from the context's phase, site and
  // pre-script switch (the switch only matters for the script phase). The
  // context's own batch operation is not read: the step runner calls this
  // to fill it in. Site-dependent phases give BATCH_OP_NONE for a site other
  // than source or destination; phases that run the same operation on either
  // site ignore the site. Phases without an operation (the test-mount phases
  // 38 and 39 included) give BATCH_OP_NONE.
  static ZNDR::BatchOperation GetBatchOp(const SDROperationCtx& ctx);
  // Sets the context's site and phase to those a batch operation implies;
  // no other field is written. Operations that imply none (scripts,
  // snapshots, ...) leave the context untouched. Not the exact inverse of
  // GetBatchOp: the test mounts 33 and 34 load phases 38 and 39, which
  // GetBatchOp does not map back.
  static void LoadBasicPhaseDetails(SDROperationCtx& ctx, ZNDR::BatchOperation op);

  // Percentage points a phase adds to a machine's progress when it succeeds.
  static int GetPhaseWeightage(Api::VirtualAppJobPhaseType phase,
                               TMMsg::DROrchestrationType drType);

  // Worker-thread kind of a phase: the volume-relationship phases have their
  // own, every other phase is a generic per-machine operation.
  static DRThreadType GetDRThreadType(Api::VirtualAppJobPhaseType phase);
  // Relationship status a replica group records when a break or re-sync
  // step succeeds; VOLUME_RELATIONSHIP_NOT_RECORDED for any other phase.
  static E_VOLUME_RELATIONSHIP_STATUS GetSuccessStatus(Api::VirtualAppJobPhaseType phase);
  // Whether the step may run its machines on worker threads: not for the
  // snap unmounts. Only the context's phase is read; the DR type does not
  // matter today.
  static bool IsThreadsApplicableForPhase(const SDROperationCtx& ctx,
                                          TMMsg::DROrchestrationType drType);

  // ---- Replications -------------------------------------------------------

  // Whether a replication whose failover status is `current` may run the
  // DR type.
  static bool IsFailoverStatusValid(App::VSAFailoverStatus current,
                                    TMMsg::DROrchestrationType drType);
  // Whether priorities follow the machines' boot order (storage-array
  // replication).
  static bool IsPriorityBootBased(TMMsg::DRReplicationType replicationType);

  // ---- Machine lists ------------------------------------------------------
  // A site other than 0 is the destination.

  // Property 0 the name, 1 the GUID; empty for others or without a record.
  static std::string GetSitePropStr(CDRInfo* info, DR_SITE_PROPERTY property, Api::DRSite site);
  // Property 2 the instance id; 0 for others or without a record.
  static long GetSiteProp(CDRInfo* info, DR_SITE_PROPERTY property, Api::DRSite site);
  // "<message> for [<site name>] RId [<id>]", then " - <detail>" when given.
  static std::string GetDRInfoMesg(CDRInfo* info, const std::string& message, const std::string& detail,
                                   Api::DRSite site);
  static void GetReplIds(const std::vector<CDRInfo*>& list, std::vector<int>& out);
  // "1,2,3" in list order.
  static std::string GetReplStr(const std::vector<CDRInfo*>& list);
  // GetReplStr when the first machine's priority is a replication source
  // (0, 2 or 4); empty otherwise.
  static std::string GetDRListStr(const std::vector<CDRInfo*>& list);
  // The replication's subclient id; 0 without a record.
  static int32_t GetAppId(CDRInfo* info);
  static void GetTaskIds(const std::vector<CDRInfo*>& list, std::set<long>& out, bool copyPrecedenceOnly);
  // Adds to the map; the map is not cleared.
  static void GetDRInfoTaskMap(std::unordered_map<long, std::vector<CDRInfo*>>& taskMap,
                               const std::vector<CDRInfo*>& list);
  static void GetDRInfoForTasks(const std::set<long>& taskIds, const std::vector<CDRInfo*>& list,
                                std::vector<CDRInfo*>& out);
  static void UpdateSubclientReplicationMap(std::unordered_map<int, std::set<int>>& subclientMap, CDRInfo* info);
  // The destination name for a failback, the source name otherwise.
  static std::string GetDRClientName(CDRInfo* info, TMMsg::DROrchestrationType drType);
  // Every machine IN-PROGRESS.
  static void SetRunning(const std::vector<CDRInfo*>& list);
  // Clears the map, then maps each GUID of the site to its first machine.
  static void GetGuidToDRInfoMap(const std::vector<CDRInfo*>& list, Api::DRSite site,
                                 std::unordered_map<std::string, CDRInfo*>& out);
  // Datastore names in processing order: order 0 fewest machines first,
  // order 1 most first, any other order by name; ties go to the name that
  // sorts first. Appends one entry per datastore of the map.
  static void GetDSQueueByVMCount(const std::map<std::string, std::vector<CDRInfo*>>& dsMap,
                                  std::vector<std::string>& queue, int order);
  // "<destination name>-Clone-<process id>-<job id>".
  static std::string GetCloneVMName(CDRInfo* info);
  // Appends each storage-array machine under the name of every source
  // datastore of its replication; the map is not cleared. Machines without
  // a storage-array record are passed over.
  static void GetDatastoreToVMList(const std::vector<CDRInfo*>& list,
                                   std::map<std::string, std::vector<CDRInfo*>>& dsMap);
  // Storage-array machines in processing order by their datastore count:
  // order 0 fewest first, order 1 most first, any other order by source
  // GUID; ties go to the GUID that sorts first. One entry per source GUID
  // (the first machine of a GUID), appended to out.
  static void GetVMQueueByDSCount(const std::vector<CDRInfo*>& list, std::vector<CDRInfo*>& out, int order);
  // The first machine whose source GUID equals the browse entry's GUID
  // (field 5), ignoring case; null when none.
  static CDRInfo* GetDRInfoForBrowseData(databrowse::BrowseData& data, const std::vector<CDRInfo*>& list);
  // The integrity snapshot of a replicated disk: field 2 of the entry for
  // the vendor-5 family at the destination, field 8 otherwise; empty
  // without a VM replication record.
  static std::string GetSnapshotId(CDRInfo* info, App::VSAReplicationTrakingIdInfo& entry);

  // ---- Step rules ---------------------------------------------------------

  // Every machine has scripts of the context's kind (pre or post); true for
  // an empty list.
  static bool IsScriptExecutionSet(SDROperationCtx& ctx);
  static bool IsFailoverSnapshotType(SDROperationCtx& ctx);
  // A power-on of the primary on its own threads, when memory allows; false
  // without machines.
  static bool IsVMOpThreadApplicable(SDROperationCtx& ctx, TMMsg::DRReplicationType replicationType);
  // Now plus the VM allocation policy's hours (else days), in seconds since
  // the epoch, clamped to INT32_MAX; false (expiry = now) without a policy.
  static bool GetVMExpirationTime(CDRInfo* info, int& expiry);
  // The vendor table of CanSkipVMOp once the replication has been read: the
  // option is the create-DR-VM option of the replication's task.
  static bool CanSkipVMOpForVendor(TMMsg::VMOperationType op, TMMsg::DROrchestrationType drType,
                                   const SDROperationCtx& ctx, int32_t destVendor, bool createDRVMOption);
  // Whether a vendor is of the family the argument stands for (5 with 7, 17).
  static bool IsVendorOfFamily(int32_t vendor, int32_t family);
  // Whether the VM operation is not needed for the context's first machine:
  // first-time sync skips the power-off of a planned failover whose DR VM
  // does not exist yet; create-VM and clone-VM depend on the vendors; the
  // other operations follow the destination vendor's table (reason set to
  // the vendor text). False without machines.
  static bool CanSkipVMOp(TMMsg::VMOperationType op, TMMsg::DROrchestrationType drType, SDROperationCtx& ctx,
                          std::string& reason);

  // ---- Vendor rules ---------------------------------------------------------
  // Each reads the machine's VM replication record and answers no without
  // one.

  // Site 0 the source vendor, any other site the destination vendor.
  static bool IsSiteVendor(CDRInfo* info, Api::DRSite site, Common::VSVendor vendor);
  static bool IsDestinationVMSnapshotCreationAllowed(CDRInfo* info);
  static bool IsCleanupSnapshotsRequired(CDRInfo* info);
  // A test failover needs a destination of the vendor-5 family or 4.
  static bool IsDRTypeApplicable(CDRInfo* info);
  static bool IsReplicaSyncDirectEnabled(CDRInfo* info);
  static bool IsVSAFailbackSupported(CDRInfo* info);
  static bool IsVSAPostVMFailoverSupported(CDRInfo* info);
  // From the VM replication record or the storage-array record, by the
  // machine's data source; false for other sources.
  static bool IsToolsInstalled(CDRInfo* info);
  // ---- Machine records, replication records and phase rows ----------------
  // These read machine records and their replication records; a null record,
  // a missing replication record or an empty list gives the negative
  // answer, an empty text or 0, never a crash.

  // The machine's VM replication record; null when the machine's data source
  // is not of VM replications or holds no record for it.
  static VSARepInfo* GetVSARepInfo(CDRInfo* info);
  // The machine's storage-array record; null for a null machine or one whose
  // priority is not of storage-array replications.
  static SnapDRRepInfo* GetSnapRepInfo(CDRInfo* info);
  // Pre-checks are skipped with first-time sync during failover, and for the
  // clean-up of destination VMs.
  static bool CanSkipPreCheck(CDRInfo* info, TMMsg::DROrchestrationType& drType);
  // State of the phase for the machine's replication in a previous run's job
  // list: the first job of the replication, its first entry of the phase.
  // All bits set (matching no state) when there is none.
  static Api::VirtualAppPhaseState GetPhaseStatusForReplication(std::vector<Api::VirtualAppJob>& jobs,
                                                                Api::VirtualAppJobPhaseType phase, CDRInfo* info);
  // Fills the phase-row update request: exactly one job holding exactly one
  // phase. False when the phase information cannot be serialised.
  static bool PopulateVAppJobUpdateReq(SDataSourceInfo& info, SDRPhaseCtx& phase,
                                       Api::VirtualAppJobUpdateReq& request);
};
