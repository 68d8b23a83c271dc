#include "jobsim/JobManagerRows.h"

#include "jobsim/SimSql.h"

namespace {

const char* kStatsSchema =
    "CREATE TABLE IF NOT EXISTS JMJobDataStats (jobId INTEGER NOT NULL, haldenId INTEGER NOT NULL,"
    " archGrpCopyId INTEGER NOT NULL, status INTEGER NOT NULL DEFAULT 0, streamNo INTEGER NOT NULL DEFAULT 1);"
    "CREATE INDEX IF NOT EXISTS idx_JMJobDataStats_job ON JMJobDataStats (jobId, haldenId, archGrpCopyId)";

int CreateTables(CDBConnection& c) {
  for (const char* bound : {"JMBkpJobInfo", "JMAdminJobInfoTable", "JMJobDataLink"}) {
    const int rc = c.EnsureTable(bound);
    if (rc != DB_OK) return rc;
  }
  return c.Exec(kStatsSchema);
}

CDBConnection* Ready(const char* function) { return SimReady(function, "JMJobDataStats", CreateTables); }

bool Run(const char* function, const std::string& sql, const std::vector<long long>& args) {
  CSimStatement s(Ready(function), function, sql);
  for (long long a : args) s.Bind(a);
  return s.Run() == EStoreResult::kOk;
}

}  // namespace

bool CJobManagerRows::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CJobManagerRows::AddRunningBackup(long long jobId, int applicationId) {
  return Run("AddRunningBackup", "INSERT INTO JMBkpJobInfo (jobId, haldenId, applicationId) VALUES (?, ?, ?)",
             {jobId, kHaldenId, applicationId});
}

bool CJobManagerRows::AddRunningAdminJob(long long jobId, int opType, int policyId, int copyId) {
  return Run("AddRunningAdminJob",
             "INSERT INTO JMAdminJobInfoTable (jobId, opType, archGrpID, archGrpCopyID, haldenId) VALUES"
             " (?, ?, ?, ?, ?)",
             {jobId, opType, policyId, copyId, kHaldenId});
}

bool CJobManagerRows::RemoveRunning(long long jobId) {
  return Run("RemoveRunning", "DELETE FROM JMBkpJobInfo WHERE jobId = ?", {jobId}) &&
         Run("RemoveRunning", "DELETE FROM JMAdminJobInfoTable WHERE jobId = ?", {jobId});
}

bool CJobManagerRows::AddChildLink(long long parentJobId, long long childJobId, int parentAppId, int childAppId,
                                   int childStatus) {
  return Run("AddChildLink",
             "INSERT INTO JMJobDataLink (haldenId, parentJobId, childJobId, parentAppid, childAppid, linkType,"
             " childJobStatus) VALUES (?, ?, ?, ?, ?, ?, ?)",
             {kHaldenId, parentJobId, childJobId, parentAppId, childAppId, kLinkVMChild, childStatus});
}

bool CJobManagerRows::AddDataRows(long long jobId, int copyId, int status) {
  for (int stream = 1; stream <= kStreams; ++stream) {
    if (!Run("AddDataRows",
             "INSERT INTO JMJobDataStats (jobId, haldenId, archGrpCopyId, streamNo, status) VALUES (?, ?, ?, ?, ?)",
             {jobId, kHaldenId, copyId, stream, status})) {
      return false;
    }
  }
  return true;
}

bool CJobManagerRows::SetDataRows(long long jobId, int copyId, int status, bool firstStreamOnly) {
  return Run("SetDataRows",
             std::string("UPDATE JMJobDataStats SET status = ? WHERE jobId = ? AND haldenId = ? AND archGrpCopyId = ?") +
                 (firstStreamOnly ? " AND streamNo = 1" : ""),
             {status, jobId, kHaldenId, copyId});
}

EStoreResult CJobManagerRows::HoldsData(long long jobId, int copyId, bool& holds) {
  CSimStatement s(Ready("HoldsData"), "HoldsData",
                  "SELECT COUNT(*), MIN(status) FROM JMJobDataStats WHERE jobId = ? AND haldenId = ? AND"
                  " archGrpCopyId = ?");
  s.Bind(jobId).Bind(kHaldenId).Bind(copyId);
  if (!s.Next()) return EStoreResult::kFailed;
  holds = s.Int(0) > 0 && s.Int(1) == kCopied;
  return EStoreResult::kOk;
}

namespace {

const SDBColumnBind kBkpColumns[] = {
    {"jobId", "i", 0}, {"haldenId", "i", 0}, {"applicationId", "i", 0}, {"numStreams", "i", 0},
    {"currentPolicy", "i", 0}, {"targetCopyList", "s", 0}, {"bkpLevel", "i", 0}, {"indexOverride", "i", 0},
    {"startNewMedia", "i", 0}, {"compBytes", "b", 0}, {"unCompBytes", "b", 0}, {"filesToXfer", "b", 0},
    {"backupTaskId", "i", 0}, {"scanFileFailures", "i", 0}, {"scanFolderFailures", "i", 0},
    {"backupFileFailures", "i", 0}, {"backupFolderFailures", "i", 0}, {"shadowCopyId", "s", 0},
    {"bkpOptions", "i", 0}, {"oraSubLevel", "i", 0}, {"bkpattributes", "b", 0}, {"dataPolicy", "i", 0},
    {"logPolicy", "i", 0}, {"filesXfered", "b", 0}, {"currentThroughput", "f", 0}, {"averageThroughput", "f", 0},
    {"filesIndexed", "b", 0}, {"filesFailedToIndex", "b", 0}, {"filesSkippedForIndex", "b", 0},
    {"contentIndexDBSize", "b", 0}, {"totalMediaUsageTime", "b", 0}, {"mediaAgentName", "s", 0},
    {"scanType", "i", 0}, {"scanTypeChangeReason", "s25", 0}, {"numStreamsAllocated", "i", 0},
    {"maxRestarts", "i", 0}, {"restartInterval", "i", 0}, {"cloudId", "i", 0}, {"diffPolicy", "i", 0},
    {"targetClientId", "i", 0}, {"unCompBytesToXfer", "b", 0}, {"secondaryBkpLevel", "i", 0},
    {"jobIdActedOn", "i", 0}, {"fromTime", "i", 0}, {"toTime", "i", 0}, {"nwTransBytes", "b", 0},
    {"totSkippedObjects", "b", 0}, {"bkpAttributesEx", "b", 0}, {"jobReferenceTime", "i", 0},
    {"totReadBytes", "b", 0}, {"totReadTime", "b", 0}, {"totPhysicalWriteBytes", "b", 0},
    {"totPhysicalWriteTime", "b", 0}, {"totNwTransTime", "b", 0}, {"totSidbLookups", "b", 0},
    {"totSidbLookupTime", "b", 0}, {"readCurrentThroughput", "f", 0}, {"readAverageThroughput", "f", 0},
    {"writeCurrentThroughput", "f", 0}, {"writeAverageThroughput", "f", 0}, {"networkCurrentThroughput", "f", 0},
    {"networkAverageThroughput", "f", 0}, {"sidbCurrentLookups", "f", 0}, {"sidbAverageLookups", "f", 0},
};

const SDBColumnBind kAdminColumns[] = {
    {"jobId", "i", 0}, {"opType", "i", 0}, {"status", "i", 0}, {"servStart", "x", 0}, {"servEnd", "x", 0},
    {"archGrpID", "i", 0}, {"archGrpName", "s", 0}, {"AP_NumDays", "i", 0}, {"AP_IsForecast", "i", 0},
    {"AP_SeqNum", "i", 0}, {"AC_NewMediaFlag", "i", 0}, {"ER_BkpLevel", "i", 0}, {"ER_DbName", "s", 0},
    {"ER_Destination", "s", 0}, {"ER_SendCount", "i", 0}, {"ER_MediasUsed", "s", 0}, {"TotalObjects", "b", 0},
    {"ObjectsDone", "b", 0}, {"ObjectsFailed", "b", 0}, {"archGrpCopyID", "i", 0}, {"LibraryID", "i", 0},
    {"MI_InventoryType", "i", 0}, {"currentWriteTime", "i", 0}, {"noOfStreams", "i", 0}, {"appID", "i", 0},
    {"dependantJobId", "i", 0}, {"workFlowId", "i", 0}, {"srcMediaAgent", "s", 0}, {"destMediaAgent", "s", 0},
    {"drivePoolId", "i", 0}, {"mediaId", "i", 0}, {"sourceJobId", "i", 0}, {"TotalSize", "b", 0},
    {"noOfStreamsAllocated", "i", 0}, {"maxRestarts", "i", 0}, {"restartInterval", "i", 0},
    {"embeddedObjects", "b", 0}, {"uncompBytes", "b", 0}, {"numFiles", "b", 0}, {"skippedItems", "b", 0},
    {"writeTime", "i", 0}, {"reportType", "i", 0}, {"cloudId", "i", 0}, {"reportSetId", "i", 0},
    {"reportName", "s", 0}, {"reportSetName", "s", 0}, {"fromTime", "i", 0}, {"toTime", "i", 0},
    {"subTaskId", "i", 0}, {"otherOpName", "s", 0}, {"nwTransBytes", "b", 0}, {"haldenId", "i", 0},
};

const SDBColumnBind kLinkColumns[] = {
    {"haldenId", "i", 0}, {"parentJobId", "i", 0}, {"childJobId", "i", 0}, {"parentAppid", "i", 0},
    {"childAppid", "i", 0}, {"linkType", "i", 0}, {"childJobStatus", "i", 0},
};

}  // namespace

void CJobManagerRows::DescribeTables() {
  CDBConnection::RegisterTable(kTables[0], kBkpColumns, nullptr);
  CDBConnection::RegisterTable(kTables[1], kAdminColumns, nullptr);
  CDBConnection::RegisterTable(kTables[2], kLinkColumns, nullptr);
  CDBConnection::RegisterIndex(kTables[0], "jobId");
  CDBConnection::RegisterIndex(kTables[0], "applicationId");
  CDBConnection::RegisterIndex(kTables[1], "jobId");
  CDBConnection::RegisterIndex(kTables[1], "archGrpCopyID");
  CDBConnection::RegisterIndex(kTables[2], "parentJobId");
}
