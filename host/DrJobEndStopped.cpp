#include "DrJobEndStopped.h"

#include <stdio.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DrJobArgs.h"
#include "DrJobChildWaits.h"
#include "DrJobLab.h"
#include "DrJobMachinePlace.h"
#include "DrJobOutput.h"
#include "DrJobRunLease.h"
#include "DrJobRunOptions.h"
#include "DrJobStates.h"
#include "core/ProcessIdentity.h"
#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "jobs/JobStore.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgClasses.h"
#include "xmlreq/XMLHandler.h"

namespace {

const char kKilled[] = "Killed";
// The job manager's kill of a job.
const int kKillOperation = 3;

int Fail(int code, const std::string& text) {
  // After the lines already printed, whatever reads both streams together.
  fflush(stdout);
  return CDrJobOutput::Error(code, text);
}

// A job that still runs or waits to run on.
bool IsActive(const std::string& status) { return status == "Running" || status == "Suspended"; }

bool IsLeftOpen(int state) {
  return state == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS || state == Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED;
}

// The child jobs of the DR job that are to be killed, by id (see the
// header); kFailed when one of their records cannot be read.
EStoreResult ChildrenToKill(long long jobId, const std::vector<SPhaseRowRecord>& rows,
                            std::vector<std::pair<long long, SJobRecord>>& out) {
  std::set<long long> named;
  std::set<long long> open;
  for (const SPhaseRowRecord& row : rows) {
    for (long long child : CPhaseRowStore::ChildJobsOf(row.details)) {
      if (child == jobId) continue;
      named.insert(child);
      if (IsLeftOpen(row.status)) open.insert(child);
    }
  }
  for (long long child : named) {
    SJobRecord record;
    const EStoreResult read = CJobStore::GetJob(child, record);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) return read;
    if (record.jobType == CJobStore::kTypeDR || !IsActive(record.status)) continue;
    if (open.count(child) > 0 || record.parentJobId == jobId) out.emplace_back(child, record);
  }
  return EStoreResult::kOk;
}

// The job manager's kill of one child job, as the DR job's own kill handling
// asks for it.
bool KillChild(long long jobId, long long childJobId, std::string& error) {
  JobManager::PerformMultiCellJobOpReq req;
  CNMessageBase& op = req.MutableMsg(JobManager::PerformMultiCellJobOpReq::kOperationReq);
  op.SetInt32(JobManager::PerformJobOperationReq::kOperation, kKillOperation);
  op.AddMsg(JobManager::PerformJobOperationReq::kJobs).SetInt64(JobManager::JobSummary::kJobId, childJobId);
  req.SetInt32(JobManager::PerformMultiCellJobOpReq::kFlag3, 1);
  req.SetString(JobManager::PerformMultiCellJobOpReq::kReason,
                "Killed as parent DR job [" + std::to_string(jobId) + "] was Killed");
  std::string xml;
  if (!req.serializeUTF8(xml)) {
    error = "the request does not serialise";
    return false;
  }
  if (XMLHandler::handleXMLReq(1, JobManager::PerformMultiCellJobOpReq::kTypeId, xml, error, "", 0) != 0) {
    if (error.empty()) error = "the job manager refused it";
    return false;
  }
  SJobRecord after;
  if (CJobStore::GetJob(childJobId, after) != EStoreResult::kOk) {
    error = "its record cannot be read again (" + CDrJobOutput::DatabaseReason() + ")";
    return false;
  }
  if (IsActive(after.status)) {
    error = "its record still says [" + after.status + "]";
    return false;
  }
  return true;
}

// Marks the rows left in progress or suspended killed and the record
// "Killed", all in one transaction; the count of rows marked.
bool StoreKilled(const SJobRecord& job, const std::vector<SPhaseRowRecord>& rows, size_t& marked) {
  std::vector<SPhaseRowChange> changes;
  for (const SPhaseRowRecord& row : rows) {
    if (!IsLeftOpen(row.status)) continue;
    SPhaseRowChange change;
    change.jobId = row.jobId;
    change.vappId = row.vappId;
    change.clientId = row.clientId;
    change.replicationId = row.replicationId;
    change.appTypeId = row.appTypeId;
    change.phase = row.phase;
    change.state = Api::VIRTUAL_APP_PHASE_STATE_KILLED;
    change.details = row.details;
    change.failureReason = row.failureReason;
    changes.push_back(change);
  }
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok() || (!changes.empty() && !CPhaseRowStore::Apply(changes)) ||
      CJobStore::SetStatus(job.jobId, kKilled, job.percent) != EStoreResult::kOk ||
      CJobStore::SetControlOperation(job.jobId, 1) != EStoreResult::kOk || !scope.Commit()) {
    return false;
  }
  marked = changes.size();
  return true;
}

}  // namespace

bool CStoppedJobEnd::IsStopped(const std::string& status) { return status == "Suspended" || status == "Pending"; }

int CStoppedJobEnd::Kill(const std::string& dbPath, const SJobRecord& stopped) {
  const long long jobId = stopped.jobId;
  const std::string id = std::to_string(jobId);
  const SProcessId self = CProcessIdentity::Self();
  SProcessId holder;
  const ELeaseResult lease = CJobStore::TakeRunLease(jobId, self, holder);
  if (lease == ELeaseResult::kHeld) {
    return Fail(CDrJobStates::kExitAlreadyRunning, "DR job [" + id + "] is now run by another process (" +
                                                         CProcessIdentity::Text(holder) +
                                                         "); nothing was changed: a kill asked again reaches that run");
  }
  if (lease == ELeaseResult::kMissing) return Fail(CDrJobStates::kExitUnknown, "no DR job [" + id + "]");
  if (lease != ELeaseResult::kTaken) {
    return Fail(CDrJobStates::kExitDatabase,
                "cannot take the run lease of DR job [" + id + "] (" + CDrJobOutput::DatabaseReason() + ")");
  }
  CRunLease held(jobId, self);
  // Read again under the lease: a run may have ended the job meanwhile.
  SJobRecord job;
  std::vector<SPhaseRowRecord> rows;
  if (CJobStore::GetJob(jobId, job) != EStoreResult::kOk || CPhaseRowStore::ReadJob(jobId, rows) != EStoreResult::kOk) {
    return Fail(CDrJobStates::kExitDatabase,
                "cannot read DR job [" + id + "] (" + CDrJobOutput::DatabaseReason() + ")");
  }
  if (CDrJobStates::IsEndedStatus(job.status)) {
    return Fail(CDrJobStates::kExitJobEnded,
                "DR job [" + id + "] has already ended [" + job.status + "]; nothing to kill");
  }
  if (!IsStopped(job.status)) {
    return Fail(CDrJobStates::kExitNotRunning,
                "no process runs DR job [" + id + "] (its record says [" + job.status + "]); nothing to kill");
  }
  std::vector<std::pair<long long, SJobRecord>> children;
  if (ChildrenToKill(jobId, rows, children) != EStoreResult::kOk) {
    return Fail(CDrJobStates::kExitDatabase,
                "cannot read the child jobs of DR job [" + id + "] (" + CDrJobOutput::DatabaseReason() + ")");
  }
  printf("drjob: no process runs DR job [%lld] (its record says [%s]); drjob kills it itself\n", jobId,
         job.status.c_str());
  for (const auto& child : children) {
    const std::string what = CChildWaitLines::KindOf(child.first, child.second) + " [" + std::to_string(child.first) +
                             "] [" + child.second.status + "]";
    std::string error;
    if (!KillChild(jobId, child.first, error)) {
      return Fail(CDrJobStates::kExitFailed, "DR job [" + id + "]: cannot kill its " + what + " (" + error +
                                                   "); the job is left [" + job.status +
                                                   "], a kill asked again tries again");
    }
    printf("drjob: DR job [%lld]: its %s is killed\n", jobId, what.c_str());
  }
  size_t marked = 0;
  if (!StoreKilled(job, rows, marked)) {
    return Fail(CDrJobStates::kExitDatabase, "DR job [" + id +
                                                   "]: its child jobs are killed, but its phase rows and record "
                                                   "cannot be marked killed (" +
                                                   CDrJobOutput::DatabaseReason() + "); a kill asked again marks them");
  }
  printf(
      "drjob: DR job [%lld]: [%zu] phase row(s) left in progress or suspended are marked killed; its record says "
      "[%s]\n",
      jobId, marked, kKilled);
  SRecordedRun recorded;
  CDrJobRunOptions::Read(job.optionsXml, recorded);
  for (const SGroupMachine& machine : CDrJobLab::GroupMachines(recorded.groupId)) {
    const std::string name = machine.name.empty() ? std::to_string(machine.replicationId) : machine.name;
    printf("drjob: DR job [%lld] machine [%s] (replication %d) is left with %s\n", jobId, name.c_str(),
           machine.replicationId, CMachinePlace::Text(machine.replicationId).c_str());
  }
  printf("drjob: DR job [%lld] is continued by its restart, which takes its machines over as they are left: drjob "
         "run --db %s --job-id %lld\n",
         jobId, CDrJobArgs::ShellWord(dbPath).c_str(), jobId);
  return CDrJobStates::kExitSuccess;
}
