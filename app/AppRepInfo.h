// The record of one application (database) replication, and the base of the
// storage-array record.
//
// Every getter and setter reaches the replication message through
// GetBaseRepInfo and finds its field through the record's field table
// (GetFieldTable): a subclass that holds another message hands out that
// message and a table of its own, and every inherited getter and setter acts
// on the field of the same meaning there, whatever its number (the
// replication id is field 1 of the application message and another field of
// the storage-array message). A meaning the message does not carry reads as
// 0 or empty and is not written.
//
// Threads: a record is a plain value; its data manager decides who may read
// or change it while others do (CAppReplDataMgr). Every access to the
// message here holds MessageGuard() for its read or write: none for an
// application record; a subclass whose message other threads change while
// its owner reads it returns a lock of its own (SnapDRRepInfo).
#pragma once

#include <stdint.h>

#include <string>

#include "drorch/ZnCriticalSection.h"
#include "engine/IRepInfo.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

// Where a replication message keeps each field the record reads or writes.
// Entities are ZnEntities::SubClientEntity messages, the subtask a
// ZnEntities::SubtaskEntity.
struct SAppRepFieldTable {
  SMsgField replicationId;
  SMsgField lastRestoreTime;  // 32-bit
  SMsgField subtask;
  SMsgField sourceEntity;
  SMsgField destinationEntity;
  SMsgField syncStatus;
  SMsgField failoverStatus;
  SMsgField sourceGuid;
  SMsgField destinationGuid;
  SMsgField proxyVMName;
  SMsgField proxyVMGuid;
  SMsgField testFailoverStatus;
  SMsgField lastSyncedJobId;  // 64-bit
  SMsgField indexingV2;
};

// A meaning the message does not carry.
constexpr SMsgField kNoRepField{0, 0, 0, 0};

class AppRepInfo : public IRepInfo {
 public:
  AppRepInfo();
  explicit AppRepInfo(const App::ReplicaSyncReplicationInfo& info);
  AppRepInfo(const AppRepInfo&) = default;
  AppRepInfo& operator=(const AppRepInfo&) = default;
  virtual ~AppRepInfo();

  // ---- IRepInfo ----
  int GetReplId() override;
  int GetCopyPrecedence() override { return 0; }
  bool IsCopyPrecedenceApplicable() override { return false; }
  std::string GetSourceName() override;
  std::string GetSourceGuid() override;
  std::string GetDestinationName() override;
  long GetDestInstanceId() override;
  long GetSrcInstanceId() override;
  std::string GetDestinationGuid() override;
  int GetTaskId() override;
  long GetTargetId() override { return 0; }
  // 0 when the message has no subtask.
  int GetSubTaskId() override;
  long getSubclientId() override;
  long GetSourceVClientId() override;
  int GetApplicationId() override;
  bool IsIndexingV2() override;

  // The replication message every getter reads.
  virtual CNMessageBase& GetBaseRepInfo();
  // Where that message keeps each field.
  virtual const SAppRepFieldTable& GetFieldTable() const;
  // The table of the application message (App::ReplicaSyncReplicationInfo).
  static const SAppRepFieldTable& ApplicationFieldTable();

  CNMessageBase& GetLSReplicationInfo() { return GetBaseRepInfo(); }
  App::VSAReplicationStatus GetStatus();
  App::VSAFailoverStatus GetFailoverStatus();
  // 0 when not set.
  App::DRTestFailoverStatus GetTestFailoverStatus();
  int64_t GetLastSyncedJobId();
  // The entity sub-records; an empty entity when not set.
  ZnEntities::SubClientEntity GetSource();
  ZnEntities::SubClientEntity GetDestination();
  // Empty when not set.
  std::string GetProxyVMName();
  std::string GetProxyVMGuid();

  // Change the record only; the data manager stores.
  void setSyncStatus(App::VSAReplicationStatus status);
  void setFailoverStatus(App::VSAFailoverStatus status);
  void setTestFailoverStatus(App::DRTestFailoverStatus status);
  void setLastRestoreTime(int time);
  void SetRepInfo(const App::ReplicaSyncReplicationInfo& info);

 protected:
  // The lock every accessor below holds around its use of the message.
  virtual ZnCriticalSection* MessageGuard() { return nullptr; }

  // Reads and writes of one field by meaning.
  bool HasField(const SMsgField& field);
  int32_t ReadInt32(const SMsgField& field);
  int64_t ReadInt64(const SMsgField& field);
  std::string ReadText(const SMsgField& field);
  // The entity's field, or 0 / empty when the record has no such entity.
  int32_t EntityInt(const SMsgField& entity, const SMsgField& field);
  std::string EntityText(const SMsgField& entity, const SMsgField& field);
  void WriteInt32(const SMsgField& field, int32_t value);

 private:
  App::ReplicaSyncReplicationInfo m_info;
};
