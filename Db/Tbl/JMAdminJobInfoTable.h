// Job information of administrative jobs, one row per job and Halden. Read
// here only to find a running copy job of a storage policy or of one of its
// copies.
// Binding of the table "JMAdminJobInfoTable".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct JMAdminJobInfoTable_t {
  int jobId = 0;
  int opType = 0;
  int status = 0;
  long long servStart = 0;
  long long servEnd = 0;
  int archGrpID = 0;
  char* archGrpName = nullptr;  // owned, null when empty
  int AP_NumDays = 0;
  int AP_IsForecast = 0;
  int AP_SeqNum = 0;
  int AC_NewMediaFlag = 0;
  int ER_BkpLevel = 0;
  char* ER_DbName = nullptr;  // owned, null when empty
  char* ER_Destination = nullptr;  // owned, null when empty
  int ER_SendCount = 0;
  char* ER_MediasUsed = nullptr;  // owned, null when empty
  long long TotalObjects = 0;
  long long ObjectsDone = 0;
  long long ObjectsFailed = 0;
  int archGrpCopyID = 0;
  int LibraryID = 0;
  int MI_InventoryType = 0;
  int currentWriteTime = 0;
  int noOfStreams = 0;
  int appID = 0;
  int dependantJobId = 0;
  int workFlowId = 0;
  char* srcMediaAgent = nullptr;  // owned, null when empty
  char* destMediaAgent = nullptr;  // owned, null when empty
  int drivePoolId = 0;
  int mediaId = 0;
  int sourceJobId = 0;
  long long TotalSize = 0;
  int noOfStreamsAllocated = 0;
  int maxRestarts = 0;
  int restartInterval = 0;
  long long embeddedObjects = 0;
  long long uncompBytes = 0;
  long long numFiles = 0;
  long long skippedItems = 0;
  int writeTime = 0;
  int reportType = 0;
  int cloudId = 0;
  int reportSetId = 0;
  char* reportName = nullptr;  // owned, null when empty
  char* reportSetName = nullptr;  // owned, null when empty
  int fromTime = 0;
  int toTime = 0;
  int subTaskId = 0;
  char* otherOpName = nullptr;  // owned, null when empty
  long long nwTransBytes = 0;
  int haldenId = 0;

  JMAdminJobInfoTable_t() = default;
  ~JMAdminJobInfoTable_t();
  JMAdminJobInfoTable_t(const JMAdminJobInfoTable_t&) = delete;
  JMAdminJobInfoTable_t& operator=(const JMAdminJobInfoTable_t&) = delete;
};

class JMAdminJobInfoTable_t2 : public ZNDBGeneratedRow<JMAdminJobInfoTable_t2> {
 public:
  JMAdminJobInfoTable_t2() = default;
  ~JMAdminJobInfoTable_t2() override;
  static const SDBBindingDesc& Desc();
};

class JMAdminJobInfoTable
    : public ZNDBGeneratedBinding<JMAdminJobInfoTable, JMAdminJobInfoTable_t, JMAdminJobInfoTable_t2, 52> {
 public:
  explicit JMAdminJobInfoTable(DBtran* tran);
  ~JMAdminJobInfoTable() override;
  static const SDBBindingDesc& Desc();
};
