// One replication record as a data manager holds it. Records are owned and
// destroyed by their data manager through their own type, so the interface
// has no virtual destructor.
#pragma once

#include <string>

class IRepInfo {
 public:
  virtual int GetReplId() = 0;
  // Copy precedence of the storage copy the replication reads from.
  virtual int GetCopyPrecedence() = 0;
  virtual bool IsCopyPrecedenceApplicable() = 0;
  virtual std::string GetSourceName() = 0;
  virtual std::string GetSourceGuid() = 0;
  virtual std::string GetDestinationName() = 0;
  virtual long GetDestInstanceId() = 0;
  virtual long GetSrcInstanceId() = 0;
  virtual std::string GetDestinationGuid() = 0;
  // The replication (schedule) task.
  virtual int GetTaskId() = 0;
  virtual long GetTargetId() = 0;
  virtual int GetSubTaskId() = 0;
  virtual long getSubclientId() = 0;
  virtual long GetSourceVClientId() = 0;
  virtual int GetApplicationId() = 0;
  virtual bool RunPreChecks() { return true; }
  virtual bool IsIndexingV2() { return false; }

 protected:
  IRepInfo() = default;
  IRepInfo(const IRepInfo&) = default;
  IRepInfo& operator=(const IRepInfo&) = default;
  ~IRepInfo() = default;
};
