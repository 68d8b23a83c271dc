#include "DrJobEndStopped.h"

#include <stdio.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DrJobArgs.h"
#include "DrJobChildWaits.h"
#include "DrJobLab.h"
#include "DrJobMachinePlace.h"
#include "DrJobOutcomes.h"
#include "DrJobNextStep.h"
#include "DrJobOutput.h"
#include "DrJobRunLease.h"
#include "DrJobRunOptions.h"
#include "DrJobStates.h"
#include "core/ProcessIdentity.h"
#include "db/DBConnection.h"
#include "db/DBWriteScope.h"
#include "jobs/JobStore.h"
#include "jobs/PhaseRowStore.h"
#include "log/EvEvent.h"
#include "msg/MsgClasses.h"
#include "repl/ReplicaSyncStore.h"
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

// A child job that ended of itself with its work done.
bool IsCompleted(const std::string& status) {
  return status == "Completed" || status == "Completed w/ one or more errors";
}

bool IsLeftOpen(int state) {
  return state == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS || state == Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED;
}

using SChild = std::pair<long long, SJobRecord>;

// A phase row's details, parsed once for all a kill asks of them (a stopped
// job of thousands of machines has as many rows): the child jobs its job
// entries name and the id of its first entry, the child its step waited
// on; for a row left open, the details too, which the kill's failure is
// written into.
struct SRowDetails {
  std::vector<long long> children;
  long long firstJob = 0;
  std::unique_ptr<Api::VirtualAppPhaseInfo> open;  // null: not open, or no entry
};

std::vector<SRowDetails> ParseRows(const std::vector<SPhaseRowRecord>& rows) {
  std::vector<SRowDetails> parsed(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    std::unique_ptr<Api::VirtualAppPhaseInfo> info(new Api::VirtualAppPhaseInfo());
    if (rows[r].details.empty() || !info->Unserialize(rows[r].details)) continue;
    const size_t entries = info->ListSize(Api::VirtualAppPhaseInfo::kJobInfos);
    for (size_t i = 0; i < entries; ++i) {
      const long long id =
          info->GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, i).GetInt64(Api::VirtualAppJobInfo::kJobId);
      if (i == 0) parsed[r].firstJob = id;
      if (id > 0) parsed[r].children.push_back(id);
    }
    if (entries > 0 && IsLeftOpen(rows[r].status)) parsed[r].open = std::move(info);
  }
  return parsed;
}

// The child jobs of the DR job that are to be killed, by id (see the
// header), and those its rows name that completed; kFailed when one of
// their records cannot be read.
EStoreResult ChildrenToKill(long long jobId, const std::vector<SPhaseRowRecord>& rows,
                            const std::vector<SRowDetails>& parsed, std::vector<SChild>& out,
                            std::set<long long>& completed) {
  std::set<long long> named;
  std::set<long long> open;
  for (size_t r = 0; r < rows.size(); ++r) {
    for (long long child : parsed[r].children) {
      if (child == jobId) continue;
      named.insert(child);
      if (IsLeftOpen(rows[r].status)) open.insert(child);
    }
  }
  for (long long child : named) {
    SJobRecord record;
    const EStoreResult read = CJobStore::GetJob(child, record);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) return read;
    if (record.jobType != CJobStore::kTypeDR && IsCompleted(record.status)) completed.insert(child);
    if (record.jobType == CJobStore::kTypeDR || !IsActive(record.status)) continue;
    if (open.count(child) > 0 || record.parentJobId == jobId) out.emplace_back(child, record);
  }
  // A child the job launched and stopped before any row named it (a sync
  // whose row waits with no job in it) is the job's all the same: its record
  // names the job as its parent.
  std::vector<SJobRecord> launched;
  const EStoreResult read = CJobStore::JobsOf(jobId, launched);
  if (read != EStoreResult::kOk) return read;
  for (const SJobRecord& record : launched) {
    if (named.count(record.jobId) > 0 || record.jobType == CJobStore::kTypeDR || !IsActive(record.status)) continue;
    out.emplace_back(record.jobId, record);
  }
  std::sort(out.begin(), out.end(), [](const SChild& a, const SChild& b) { return a.first < b.first; });
  return EStoreResult::kOk;
}

// "sync job [100004] [Suspended]"
std::string Named(const SChild& child) {
  return CChildWaitLines::KindOf(child.first, child.second) + " [" + std::to_string(child.first) + "] [" +
         child.second.status + "]";
}

std::string NamedList(const std::vector<SChild>& children) {
  std::string text;
  for (const SChild& child : children) text += (text.empty() ? "" : ", ") + Named(child);
  return text;
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

// The row's details with the message of their first job entry replaced, as
// the step writes its failure; as they were when they do not parse. The
// parsed details take the message in place: a row is written with one
// message, whichever call asks.
std::string WithMessage(const SPhaseRowRecord& row, const SRowDetails& parsed, const std::string& message) {
  if (!parsed.open) return row.details;
  Api::VirtualAppPhaseInfo& info = *parsed.open;
  info.MutableListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
      .MutableMsg(Api::VirtualAppJobInfo::kMessage)
      .SetString(Api::GenericResp::kText, message);
  std::string xml;
  return info.serializeUTF8(xml, true) ? xml : row.details;
}

// What a kill of the running job writes on a row its suspension left open
// while the step waited on a child job: the wait ends when the kill kills
// the child, and the step fails the row with the message below (the
// database steps name the child). False for the row of any other step: a
// kill lets a call under way end and stores its outcome, which only the lab
// now tells, so such a row stays in progress, as a crash during the call
// leaves it, and the restart judges it from the lab. A restart adopts the
// child of a backup row that is not FAILED; a killed child adopted would
// fail the machines.
bool KilledWaitMessage(const SPhaseRowRecord& row, long long firstJob, bool database, std::string& message) {
  const std::string child = std::to_string(firstJob);
  switch (row.phase) {
    case Api::VIRTUAL_APP_PHASE_BACKUP:
      message = database ? "Wait for backup job [" + child + "] failed" : "Job kill issued";
      return true;
    case Api::VIRTUAL_APP_PHASE_REPLICATION:
      message = database ? "Wait for sync job [" + child + "] failed" : "Error on sync operation";
      return true;
    case Api::VIRTUAL_APP_PHASE_AUX_COPY:
    case Api::VIRTUAL_APP_PHASE_BACKUP_COPY:
      message.clear();
      return !database;
    default:
      return false;
  }
}

// An open row whose wait was over before the kill: each child it names
// completed while the job stood stopped. The kill ends no wait of it, so
// it fails nothing: the row stays open, as a crash after the child's end
// leaves it, and the restart takes the child's work from the lab (a
// failback's restore that completed is not run again over what the
// restored source then holds).
bool WaitedOnlyOnCompleted(const SPhaseRowRecord& row, const SRowDetails& parsed,
                           const std::set<long long>& completed) {
  bool named = false;
  for (long long child : parsed.children) {
    if (child == row.jobId) continue;
    if (completed.count(child) == 0) return false;
    named = true;
  }
  return named;
}

// The failed rows a kill of the running job leaves in place of the open
// rows of its waits: every such row but those that waited only on children
// that completed, or with killed only those that name a child in it and
// none in spared. kFailed when a replication's kind cannot be read.
EStoreResult KilledWaitRows(const std::vector<SPhaseRowRecord>& rows, const std::vector<SRowDetails>& parsed,
                            const std::set<long long>* killed, const std::set<long long>& spared,
                            const std::set<long long>& completed, std::vector<SPhaseRowChange>& changes) {
  changes.clear();
  for (size_t r = 0; r < rows.size(); ++r) {
    const SPhaseRowRecord& row = rows[r];
    if (!IsLeftOpen(row.status) || WaitedOnlyOnCompleted(row, parsed[r], completed)) continue;
    bool names = killed == nullptr;
    bool keep = false;
    for (long long child : parsed[r].children) {
      names = names || killed->count(child) > 0;
      keep = keep || spared.count(child) > 0;
    }
    if (!names || keep) continue;
    // The database steps fail their rows in words of their own.
    App::ReplicaSyncReplicationInfo replica;
    const EStoreResult kind = CReplicaSyncStore::Find(row.replicationId, replica);
    if (kind == EStoreResult::kFailed) return kind;
    std::string message;
    if (!KilledWaitMessage(row, parsed[r].firstJob, kind == EStoreResult::kOk, message)) continue;
    SPhaseRowChange change = SPhaseRowChange::Of(row);
    change.state = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
    change.details = WithMessage(row, parsed[r], message);
    change.failureReason = message.substr(0, 256);
    changes.push_back(change);
  }
  return EStoreResult::kOk;
}

// Stores the rows and, when killed, the record "Killed" with the kill
// recorded, all in one transaction.
bool Store(const SJobRecord& job, const std::vector<SPhaseRowChange>& changes, bool killed) {
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok() || (!changes.empty() && !CPhaseRowStore::Apply(changes))) return false;
  if (killed) {
    // Between the two writes of one transaction: a crash here stores neither.
    EvDebug(job.jobId).Debug("StoppedJobEnd", "[%zu] phase row(s) of DR job [%lld] written; storing its record [%s]",
                             changes.size(), job.jobId, kKilled);
    if (CJobStore::SetStatus(job.jobId, kKilled, job.percent) != EStoreResult::kOk ||
        CJobStore::SetControlOperation(job.jobId, CJobStore::kControlKill) != EStoreResult::kOk) {
      return false;
    }
  }
  return scope.Commit();
}

size_t OpenRows(const std::vector<SPhaseRowRecord>& rows) {
  size_t open = 0;
  for (const SPhaseRowRecord& row : rows) open += IsLeftOpen(row.status) ? 1 : 0;
  return open;
}

// "DR job [8]" or "DR jobs [8], [9]"
std::string JobsText(const std::vector<long long>& jobs) {
  std::string ids;
  for (long long id : jobs) ids += (ids.empty() ? "[" : ", [") + std::to_string(id) + "]";
  return std::string(jobs.size() == 1 ? "DR job " : "DR jobs ") + ids;
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
  std::vector<SChild> children;
  std::set<long long> completed;
  const std::vector<SRowDetails> parsed = ParseRows(rows);
  if (ChildrenToKill(jobId, rows, parsed, children, completed) != EStoreResult::kOk) {
    return Fail(CDrJobStates::kExitDatabase,
                "cannot read the child jobs of DR job [" + id + "] (" + CDrJobOutput::DatabaseReason() + ")");
  }
  // A child the job manager ignores operations on would stop the kill half
  // way, some children killed and the job not: none is killed then.
  std::vector<SChild> refusing;
  for (const SChild& child : children) {
    if (child.second.ignoreOps) refusing.push_back(child);
  }
  if (!refusing.empty()) {
    const bool one = refusing.size() == 1;
    return Fail(CDrJobStates::kExitFailed, "DR job [" + id + "]: its " + NamedList(refusing) +
                                               (one ? " takes" : " take") +
                                               " no kill (the job manager ignores operations on " +
                                               (one ? "it" : "them") + "); nothing was killed, the job is left [" +
                                               job.status + "], a kill asked again tries again");
  }
  printf("drjob: no process runs DR job [%lld] (its record says [%s]); drjob kills it itself\n", jobId,
         job.status.c_str());
  std::vector<SChild> killed;
  for (size_t i = 0; i < children.size(); ++i) {
    const SChild& child = children[i];
    std::string error;
    if (KillChild(jobId, child.first, error)) {
      printf("drjob: DR job [%lld]: its %s is killed\n", jobId, Named(child).c_str());
      killed.push_back(child);
      continue;
    }
    const std::string refused = "DR job [" + id + "]: cannot kill its " + Named(child) + " (" + error + ")";
    if (killed.empty()) {
      return Fail(CDrJobStates::kExitFailed, refused + "; nothing was killed, the job is left [" + job.status +
                                                 "], a kill asked again tries again");
    }
    // The rows that named the children killed fail as a kill of the running
    // job fails them, so that a restart does not adopt a killed child.
    std::set<long long> done;
    for (const SChild& k : killed) done.insert(k.first);
    std::set<long long> spared;
    for (size_t j = i; j < children.size(); ++j) spared.insert(children[j].first);
    std::vector<SPhaseRowChange> changes;
    const std::string were = "; its " + NamedList(killed) + (killed.size() == 1 ? " is" : " are") + " killed";
    if (KilledWaitRows(rows, parsed, &done, spared, completed, changes) != EStoreResult::kOk ||
        !Store(job, changes, false)) {
      return Fail(CDrJobStates::kExitDatabase, refused + were +
                                                   ", but the phase rows that waited on them cannot be marked failed "
                                                   "(" +
                                                   CDrJobOutput::DatabaseReason() + "); a kill asked again marks them");
    }
    return Fail(CDrJobStates::kExitFailed,
                refused + were + " and [" + std::to_string(changes.size()) +
                    "] phase row(s) that waited on them are marked failed, as a kill of the running job marks them; "
                    "the job is left [" + job.status + "], a kill asked again kills the rest");
  }
  std::vector<SPhaseRowChange> changes;
  if (KilledWaitRows(rows, parsed, nullptr, std::set<long long>(), completed, changes) != EStoreResult::kOk ||
      !Store(job, changes, true)) {
    return Fail(CDrJobStates::kExitDatabase, "DR job [" + id +
                                                   "]: its child jobs are killed, but its phase rows and record "
                                                   "cannot be stored (" +
                                                   CDrJobOutput::DatabaseReason() + "); a kill asked again stores them");
  }
  if (changes.empty()) {
    printf("drjob: DR job [%lld]: its record says [%s]\n", jobId, kKilled);
  } else {
    printf(
        "drjob: DR job [%lld]: [%zu] phase row(s) it left waiting on a child job are marked failed, as a kill of the "
        "running job marks them; its record says [%s]\n",
        jobId, changes.size(), kKilled);
  }
  size_t ended = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    ended += IsLeftOpen(rows[r].status) && WaitedOnlyOnCompleted(rows[r], parsed[r], completed) ? 1 : 0;
  }
  if (ended > 0) {
    printf(
        "drjob: DR job [%lld]: [%zu] phase row(s) whose child job completed while the job was stopped stay in "
        "progress: its restart takes what each child did from the lab\n",
        jobId, ended);
  }
  const size_t calls = OpenRows(rows) - changes.size() - ended;
  if (calls > 0) {
    printf(
        "drjob: DR job [%lld]: [%zu] phase row(s) of a call under way when it was stopped stay in progress: its "
        "restart judges each from the lab, as after a crash\n",
        jobId, calls);
  }
  SRecordedRun recorded;
  CDrJobRunOptions::Read(job.optionsXml, recorded);
  std::map<int, std::vector<long long>> since;
  const bool sinceRead = CPhaseRowStore::JobsSince(jobId, since) == EStoreResult::kOk;
  // Read once for the machines' lines and the next step's.
  SJobEnd end;
  CMachineOutcomes::ReadEnd(jobId, recorded.groupId, job.optionsXml, end);
  for (const SGroupMachine& machine : end.machines) {
    const std::string name =
        machine.name.empty() ? std::to_string(machine.replicationId) : CDrJobArgs::ShownName(machine.name);
    std::string line = "DR job [" + id + "] machine [" + name + "] (replication " +
                       std::to_string(machine.replicationId) + ") now: " + end.standings.Of(machine.replicationId).now;
    const auto later = since.find(machine.replicationId);
    if (!sinceRead) {
      line += " (whether another DR job worked on it since cannot be read: " + CDrJobOutput::DatabaseReason() + ")";
    } else if (later != since.end()) {
      line += " (" + JobsText(later->second) + " worked on it after DR job [" + id + "] stopped)";
    }
    printf("drjob: %s\n", line.c_str());
  }
  SNextStepJob next;
  next.jobId = jobId;
  next.groupId = recorded.groupId;
  next.type = recorded.type;
  next.db = CDrJobArgs::ShellWord(dbPath);
  std::vector<std::string> lines;
  // The verdicts are the suspended attempt's: once another job has worked
  // on a machine since, they no longer tell what a restart takes.
  if (!sinceRead || !since.empty() || !CNextStep::Restart(next, end, lines)) {
    lines.clear();
    CNextStep::Told("DR job [" + id + "] is continued by its restart, which takes its machines over as they now are",
                    "drjob run --db " + next.db + " --job-id " + id, lines);
  }
  for (const std::string& line : lines) printf("drjob: %s\n", line.c_str());
  return CDrJobStates::kExitSuccess;
}
