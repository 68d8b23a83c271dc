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

class ApplicationId;
class CDRJobManager;
class CDRInfo;
class SnapDRRepInfo;
class VSARepInfo;
struct SDataSourceInfo;
struct SDRPhaseCtx;
struct SDROperationCtx;

// Names of application kinds (not read by the helpers here).
extern const std::string RDS;
extern const std::string DYNAMODB;
extern const std::string REDSHIFT;
extern const std::string DOCUMENTDB;

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
  // Whether a replication whose failover status is `current` already
  // stands where the DR type puts it: failed over after a failover type
  // (planned, unplanned, point in time), back at the source after a
  // failback, a revert or an undo (no failover status, or one of theirs
  // completed). False for every other type: their place is not a failover
  // status.
  static bool IsFailoverStatusWhereTypePutsIt(App::VSAFailoverStatus current, TMMsg::DROrchestrationType drType);
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
  // The same answer from the job manager's index of its restart history.
  static Api::VirtualAppPhaseState GetPhaseStatusForReplication(const CDRJobManager* jobManager,
                                                                Api::VirtualAppJobPhaseType phase, CDRInfo* info);
  // Fills the phase-row update request: exactly one job holding exactly one
  // phase. False when the phase information cannot be serialised.
  static bool PopulateVAppJobUpdateReq(SDataSourceInfo& info, SDRPhaseCtx& phase,
                                       Api::VirtualAppJobUpdateReq& request);

  // Whether the VM of the GUID is powered on; false when it cannot be asked
  // (logged at debug level only: the verdicts ask it as a priority ends, and
  // an error then would read as the priority's).
  static bool IsVMPoweredOn(const std::string& guid, bool& on);

  // ---- VM operation requests and VM backups --------------------------------
  // What every VM operation request carries about the machine: its identity
  // at the site, the policy type, the host and cloud placement of its
  // server, its disks; the VM selection and proxies of a VM backup; facts
  // from a VM's index metadata. A machine without a VM replication record
  // gets nothing filled and a false (or neutral) answer, never a crash.
  // Lookups that fail are logged under the operation's name and end it; what
  // was written stays written.

  // The VM's name and GUID at the site (source 0, destination 1), the
  // policy type, the instance's host name, then the cloud placement
  // (PopulateAdditionalVMOpReq, whose failure does not fail the request).
  // The caller sets the instance id (kInstance -> kInstanceId) first. False
  // only when the host name cannot be found.
  static bool PopulateVMOpReq(Ida::VMOpReq& req, Api::DRSite& site, CDRInfo* info);
  // An instance id as the management database's 32-bit columns hold it.
  // False (out untouched) for an id beyond 32 bits: it names no instance
  // there and must not be taken for the instance its low bits name.
  static bool ToDBInstanceId(int64_t instanceId, int& out);
  // Site 0 the source name and GUID, site 1 the destination's; other sites
  // and a null entity get nothing.
  static void PopulateNameandGUID(ZnEntities::VirtualMachineEntity* entity, Api::DRSite site, CDRInfo* info);
  // The policy type of the site's vendor into kInstance -> kPolicyType; 0
  // without a VM replication, without an instance entity or for a site that
  // is neither. Written in every case.
  static void PopulatePolicyType(Ida::VMOpReq& req, Api::DRSite site, CDRInfo* info);
  // Region and tenant (destination vendors 4 and 12) or project id (16) of
  // the destination into the VM's placement; the source project id at the
  // source of a vendor-16 source VM. The region and tenant are the data
  // center and cluster the task places the VM in; for vendor 4 a host name
  // of the instance other than "default" is the region. Empty values are
  // logged and still written.
  static bool PopulateAdditionalVMOpReq(CDRInfo* info, Api::DRSite& site, Ida::VMOpReq& req);
  // One disk per tracking id of the replication, in order, with the disk
  // count; then the clone details of PopulateVMOpReqToFillAdditionalDiskDetails.
  // False without tracking ids.
  static bool PopulateVMOpReqToFillDiskDetails(CDRInfo* info, Ida::VMOpReq& req);
  // Each request disk named like a disk of the replicated VM's description
  // gets that disk's parent name, label and size. False without request
  // disks.
  static bool PopulateVMOpReqToFillAdditionalDiskDetails(CDRInfo* info, Ida::VMOpReq& req);
  // The disks a vendor-16 destination needs for a snapshot operation.
  static bool PopulateAdditionalVMSnapOpReq(CDRInfo* info, Ida::VMOpReq& req);
  // Appends each machine's source GUID and replication id to the backup's
  // VM selection and sets the option's two switches to 0. Always true.
  static bool GetVSABackupOptions(TMMsg::VSABkpOption& options, ApplicationId& appId, std::vector<CDRInfo*>& list);
  // The proxies of a VM backup, from the first machine: the destination
  // instance's member servers when selection is automatic (destination
  // vendor 4, or the allocation policy names no proxy of its own), else the
  // replication's destination proxy, appended to what the option holds.
  // False for an empty list or without a VM replication record.
  static bool SetProxiesForBackup(TMMsg::VSABkpOption& options, std::vector<CDRInfo*>& list);
  // The datastore of the VM's index metadata; for a managed VM of the
  // vendor-5 family, the first datastore of its data center when the source
  // proxy names one. Empty without metadata.
  static std::string GetDatastoreFromIndex(CDRInfo* info, IdxMetadata::VirtualServerIdxMetaData* metadata);
  // A managed VM: vendor-5 family source and a non-zero managed flag.
  static bool IsManagedVM(CDRInfo* info, IdxMetadata::VirtualServerIdxMetaData* metadata);
  // The target restores managed VMs, and this VM is one.
  static bool GetRestoreAsManagedVM(CDRInfo* info, IdxMetadata::VirtualServerIdxMetaData* metadata);

  // ---- Destination queries and test-failover selections ------------------
  // The recovery target (the allocation policy of the replication's task)
  // and the destination's proxy tell what a test failover's clone gets: a
  // VM size, a network and a subnet. The selections never fail their
  // caller: they write what they could determine and log why not.

  // What a data center (or region) of the site offers, asked of the
  // replication's destination proxy: the first host's list replaces out.
  // False without a VM replication or an application manager, when the
  // query fails, or when the list is empty.
  static bool GetDatastoresFromDatacenter(CDRInfo* info, const std::string& datacenter, Api::DRSite site,
                                          std::vector<EVGui::VMDataStoreInfo>& out);
  static bool GetNetworksFromDatacenter(CDRInfo* info, const std::string& datacenter, Api::DRSite site,
                                        std::vector<EVGui::VMNetworkInfo>& out);
  static bool GetVMSizesFromDatacenter(CDRInfo* info, const std::string& datacenter, Api::DRSite site,
                                       std::vector<EVGui::VMSizeInfo>& out);
  // The policy names no proxy, or the destination instance's own client.
  static bool IsProxySelectionAutomaticSetInAllocPolicy(CDRInfo* info);
  // Vendor 4: the first availability zone; vendor-5 family: the policy
  // instance's region. Unchanged otherwise.
  static void GetRegionFromAllocPolicy(CDRInfo* info, const Ida::VMAllocationPolicy& policy, std::string& region);
  // The configured size, parsed; else a vendor default when the VM's own
  // size is unknown; else the smallest offered size that holds the VM's.
  static void SelectTestFailoverVMSize(CDRInfo* info, const Ida::VMAllocationPolicy& policy, std::string& size);
  // Vendor-5 family: the size name of a size text ("Standard_B1s" when it
  // does not parse); other vendors keep the text. text and name may be the
  // same string.
  static void ParseTestFailoverVMSize(CDRInfo* info, const std::string& text, std::string& name);
  static void GenerateDefaultTestFailoverVMSize(CDRInfo* info, std::string& size);
  static void SelectBestAvailableTestFailoverVMSize(CDRInfo* info, const Ida::VMAllocationPolicy& policy,
                                                    const std::string& original, std::string& size);
  // The entry with the fewest disks, CPUs and memory (each compared as a
  // signed 32-bit value) that is no smaller than required in any of them;
  // among equal ones the last. best is unchanged when none qualifies.
  static void GetBestAvailableVMSize(const std::vector<EVGui::VMSizeInfo>& sizes, EVGui::VMSizeInfo& required,
                                     EVGui::VMSizeInfo& best);
  // Reads "<name> (<cpus> cores : <memory> MB : <disks> data disks : ...)":
  // the name, CPUs, memory and disks plus the system disk. Nothing with three
  // pieces or fewer; a number that is missing its word or out of the 32-bit
  // range leaves its field unset.
  static void GetVMSizeInfoFromVMSizeName(const std::string& text, EVGui::VMSizeInfo& info);
  // The configured test network, unless it is the destination network (or
  // none is configured): then the first network of the region that is not
  // the destination network, with its first subnet.
  static void SelectTestFailoverNetwork(CDRInfo* info, const Ida::VMAllocationPolicy& policy, std::string& network,
                                        std::string& subnet);
};
