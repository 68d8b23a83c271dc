#include "jobsim/JobManagerRows.h"

#include "jobsim/SimSql.h"

namespace {

const char* kStatsSchema =
    "CREATE TABLE IF NOT EXISTS JMJobDataStats (jobId INTEGER NOT NULL, haldenId INTEGER NOT NULL,"
    " archGrpCopyId INTEGER NOT NULL, status INTEGER NOT NULL DEFAULT 0, streamNo INTEGER NOT NULL DEFAULT 1)";

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
