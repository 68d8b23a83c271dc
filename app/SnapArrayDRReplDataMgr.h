// The data manager of storage-array snapshot replications (information
// source 4). It loads the records (SnapDRRepInfo) of the data source's
// replications through the management server's snapshot-replication
// request, the replica groups their datastore volumes lie in through the
// replica-group report procedure and the snapshot mounts through the
// archive-files procedure, answers the storage-array context's questions,
// stores (test) failover statuses back whole, and acts on the arrays:
// reads, breaks and re-syncs the groups' volume relationships and lists and
// unmaps the LUNs of their destination volumes (SnapArrayDRReplDataMgrVolumes.cpp).
//
// Threads: the data sources of several subclient groups run at once, and
// one replica group may span records of several of them. Locks, in the
// order they may be taken (never the other way round):
// - the status lock (the base's second section): status stores and the
//   whole-record write, one at a time; IsDRComplete;
// - the snap lock: replica-group and mount queries, the relationship write-
//   back, GetReplicaGroups and GetStorageDetails (the group map), and every
//   read or change of a group's addressing (destination vserver, paths);
// - the load lock (the base's first section): the record map, the GUID
//   index and the mount marks; held by a load for its whole work and
//   briefly by every look-up;
// - each record's own lock (SnapDRRepInfo), innermost.
// The status and snap locks are never held together. A load assigns into a
// record's map entry and never erases it, and the group map never loses an
// entry, so a record or group pointer handed out stays valid while the
// manager lives. A group's relationship status is atomic and written
// without a lock by the operation acting on it; its other fields are read
// and written under the snap lock, so callers reach them through the
// manager's operations (or only after the query that loaded the group).
#pragma once

#include <stdint.h>

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "AppReplDataMgr.h"
#include "SSMReplicaGroup.h"
#include "SnapDRContext.h"
#include "SnapDRRepInfo.h"
#include "array/ArrayRecords.h"
#include "engine/SDRStorage.h"

class ManageONTAP;

class CSnapArrayDRReplDataMgr : public CAppReplDataMgr {
 public:
  explicit CSnapArrayDRReplDataMgr(SDataSourceInfo& info);
  ~CSnapArrayDRReplDataMgr() override;

  // ---- IDRDataMgr ----
  // The record of the info's replication id; null when it has none.
  IRepInfo* FetchReplData(SDataSourceInfo& info) override;
  // Loads the records of the info's id list in one request. An entry
  // without a replication id is passed over; a loaded id's record is
  // replaced in place (its mount mark cleared); records the answer does not
  // name stay. False when the request fails or its answer cannot be read.
  bool LoadData(SDataSourceInfo& info) override;
  bool ReloadData(SDataSourceInfo& info) override;
  // The (test) failover status of the info's phase state for the manager's
  // DR type.
  bool UpdateStatus(SDataSourceInfo& info) override;
  bool IsDRComplete(SDataSourceInfo& info) override;
  bool UpdateFailoverStatus(SDataSourceInfo& info, App::VSAFailoverStatus status) override;

  // ---- records and queries ----
  // Loads the replica groups of the context's copy and group set that are
  // not loaded yet; true when any group is loaded (now or before).
  bool QuerySnapReplicaInfo(SnapDRContext& ctx);
  // Loads the snapshot mounts of the context's master jobs into the records
  // of its replications; true when a row was stored. Without reQuery it
  // answers true at once when every replication of the context already has
  // its mount information from an earlier query (and no reload since).
  bool QueryMountAfiles(SnapDRContext& ctx, bool reQuery);
  // The copy id, and the policy and default copy of the first loaded group
  // of that copy (ascending group id); false when none is of that copy.
  bool GetStorageDetails(int copyId, int appId, SDRStorage& storage);
  // The groups of the info's replications, by group id; a group id that has
  // no loaded group gets an empty one (on which every array operation
  // fails). True when any group was given.
  bool GetReplicaGroups(SDataSourceInfo& info, std::map<int, SSMReplicaGroup*>& groups);
  // Any record with a test-failover status above 0 other than 3.
  bool CheckTestFailoverVMMount();
  bool UpdateTestFailoverStatus(SDataSourceInfo& info, App::DRTestFailoverStatus status);
  // Writes the whole record (the info names the DR group and replication).
  bool UpdateDRStatus(SDataSourceInfo& info, SnapDRRepInfo& rep);

  // ---- volume relationships and LUNs ----
  // Breaks (phase 35) or re-syncs (36) the group's relationship, and on
  // success writes the group's status into the records that use it.
  bool ChangeRelationShipStatus(int copyId, SSMReplicaGroup& group, Api::VirtualAppJobPhaseType phase,
                                bool resyncOnBreakFailure);
  // True when the array has a management entry (also when the connection
  // could not be opened: later calls then fail on their own).
  bool Connect(const std::string& arrayName, int controlHostId, ManageONTAP& array);
  bool BreakVolumeRelationship(SSMReplicaGroup& group, bool resyncOnFailure);
  bool ReSyncVolumeRelationship(SSMReplicaGroup& group);
  // Up to retries + 1 attempts, each a call only while the relationship is
  // idle, with waitSeconds between them (the relationship of destPath is
  // read again after each wait); the job's quit ends it between attempts.
  bool PerformVolumeAction(ManageONTAP& array, _SVSMRelationshipProgressInfo& info, const std::string& destVolume,
                           const std::string& destVServer, Api::VirtualAppJobPhaseType phase, int retries,
                           int waitSeconds, const std::string& destPath);
  // Field 7 of the group's volumes in every loaded record of its
  // replications := the group's status (not for status 8).
  void UpdateRelationshipStatus(SSMReplicaGroup& group);
  bool IsRelationshipBroken(SSMReplicaGroup& group, bool& broken);
  // Adds the number of broken relationships among the groups of the info's
  // replications to count; false when a group cannot be read.
  bool GetBrokenRelationshipCount(SnapDRContext& ctx, SDataSourceInfo& info, int& count);
  bool GetMappedLuns(ManageONTAP& array, SSMReplicaGroup& group, std::vector<std::string>& luns);
  // No LUN of the destination volume stays mapped (after unmapping them
  // when asked).
  bool VerifyLUNMapping(SSMReplicaGroup& group, bool unmap);

 private:
  friend class CSnapArrayDRReplDataMgrTestPeer;

  // The record of an id, null when there is none (takes the load lock).
  SnapDRRepInfo* Find(int64_t replId);
  // Every record with its id, in the record map's order.
  std::vector<std::pair<int64_t, SnapDRRepInfo*>> Records();
  // Every id of the context has its mount information from a query.
  bool AllMountsCached(const SnapDRContext& ctx);
  // Stores one mount row into the record of its GUID when that record is one
  // of the context's; false when the row is not the context's.
  bool StoreMountRow(const SnapDRContext& ctx, const std::string& vmGuid, const SDRMountInfo& mount, int& replId);
  // A copy of the group's addressing, read under the snap lock.
  SSMReplicaGroup Addressing(const SSMReplicaGroup& group);

  std::unordered_map<int64_t, SnapDRRepInfo> m_snapRepInfoMap DR_GUARDED_BY(m_loadLock);
  std::map<int, SSMReplicaGroup> m_replicaGroups DR_GUARDED_BY(m_snapLock);
  std::unordered_map<std::string, int> m_guidIndex DR_GUARDED_BY(m_loadLock);
  // The replications whose mount information a query stored since their
  // record was last loaded.
  std::set<int64_t> m_mountCached DR_GUARDED_BY(m_loadLock);
  ZnCriticalSection m_snapLock DR_ACQUIRED_BEFORE(m_loadLock);
};
