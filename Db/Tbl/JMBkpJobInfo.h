// Job information of backup jobs, one row per job and Halden. Read here only
// to find a running backup job of an application.
// Binding of the table "JMBkpJobInfo".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct JMBkpJobInfo_t {
  int jobId = 0;
  int haldenId = 0;
  int applicationId = 0;
  int numStreams = 0;
  int currentPolicy = 0;
  char* targetCopyList = nullptr;  // owned, null when empty
  int bkpLevel = 0;
  int indexOverride = 0;
  int startNewMedia = 0;
  long long compBytes = 0;
  long long unCompBytes = 0;
  long long filesToXfer = 0;
  int backupTaskId = 0;
  int scanFileFailures = 0;
  int scanFolderFailures = 0;
  int backupFileFailures = 0;
  int backupFolderFailures = 0;
  char* shadowCopyId = nullptr;  // owned, null when empty
  int bkpOptions = 0;
  int oraSubLevel = 0;
  long long bkpattributes = 0;
  int dataPolicy = 0;
  int logPolicy = 0;
  long long filesXfered = 0;
  float currentThroughput = 0;
  float averageThroughput = 0;
  long long filesIndexed = 0;
  long long filesFailedToIndex = 0;
  long long filesSkippedForIndex = 0;
  long long contentIndexDBSize = 0;
  long long totalMediaUsageTime = 0;
  char* mediaAgentName = nullptr;  // owned, null when empty
  int scanType = 0;
  char scanTypeChangeReason[25];
  int numStreamsAllocated = 0;
  int maxRestarts = 0;
  int restartInterval = 0;
  int cloudId = 0;
  int diffPolicy = 0;
  int targetClientId = 0;
  long long unCompBytesToXfer = 0;
  int secondaryBkpLevel = 0;
  int jobIdActedOn = 0;
  int fromTime = 0;
  int toTime = 0;
  long long nwTransBytes = 0;
  long long totSkippedObjects = 0;
  long long bkpAttributesEx = 0;
  int jobReferenceTime = 0;
  long long totReadBytes = 0;
  long long totReadTime = 0;
  long long totPhysicalWriteBytes = 0;
  long long totPhysicalWriteTime = 0;
  long long totNwTransTime = 0;
  long long totSidbLookups = 0;
  long long totSidbLookupTime = 0;
  float readCurrentThroughput = 0;
  float readAverageThroughput = 0;
  float writeCurrentThroughput = 0;
  float writeAverageThroughput = 0;
  float networkCurrentThroughput = 0;
  float networkAverageThroughput = 0;
  float sidbCurrentLookups = 0;
  float sidbAverageLookups = 0;

  JMBkpJobInfo_t();
  ~JMBkpJobInfo_t();
  JMBkpJobInfo_t(const JMBkpJobInfo_t&) = delete;
  JMBkpJobInfo_t& operator=(const JMBkpJobInfo_t&) = delete;
};

class JMBkpJobInfo_t2 : public ZNDBGeneratedRow<JMBkpJobInfo_t2> {
 public:
  JMBkpJobInfo_t2() = default;
  ~JMBkpJobInfo_t2() override;
  static const SDBBindingDesc& Desc();
};

class JMBkpJobInfo
    : public ZNDBGeneratedBinding<JMBkpJobInfo, JMBkpJobInfo_t, JMBkpJobInfo_t2, 64> {
 public:
  explicit JMBkpJobInfo(DBtran* tran);
  ~JMBkpJobInfo() override;
  static const SDBBindingDesc& Desc();
};
