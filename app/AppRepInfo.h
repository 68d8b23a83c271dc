// The record of one application (database) replication, and the base of the
// storage-array record. Every getter reaches the replication message through
// GetBaseRepInfo, so a subclass that holds another message makes all of
// them read that one.
#pragma once

#include <string>

#include "engine/IRepInfo.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"

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
  int GetSubTaskId() override;
  long getSubclientId() override;
  long GetSourceVClientId() override;
  int GetApplicationId() override;

  // The replication message every getter reads.
  virtual CNMessageBase& GetBaseRepInfo();

  App::VSAReplicationStatus GetStatus();
  App::VSAFailoverStatus GetFailoverStatus();
  void setSyncStatus(App::VSAReplicationStatus status);
  void setFailoverStatus(App::VSAFailoverStatus status);

 private:
  App::ReplicaSyncReplicationInfo m_info;
};
