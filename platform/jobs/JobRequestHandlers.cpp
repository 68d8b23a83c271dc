#include "jobs/JobRequestHandlers.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <map>
#include <mutex>

#include "db/DBConnection.h"
#include "jobs/EvTask.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "msg/MsgClasses.h"
#include "xmlreq/XMLHandler.h"

namespace {

const unsigned long kGetVirtualAppReq = 1988615698UL;
const unsigned long kJobListRequest = 356490292UL;
const unsigned long kMultiCellJobOp = 361508698UL;
const unsigned long kJobDetailsReq = 1986164483UL;
const unsigned long kCreateTaskReq = 216380445UL;
const char* kPhaseTable = "App_VirtualAppJobStats";

std::string Text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

int GetVirtualApp(int, std::string& xml, std::string& error) {
  Api::GetVirtualAppReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  Api::GetVirtualAppResp resp;
  resp.TouchField(1, 1);
  std::string groupXml;
  if (CLabStore::GetDRGroup(req.GetInt32(2), groupXml)) {
    Api::VirtualApp app;
    if (!app.Unserialize(groupXml, &error)) return -1;
    resp.AppendMsg(1, 1, app);
  }
  return resp.serializeUTF8(xml) ? 0 : -1;
}

int JobList(int, std::string& xml, std::string& error) {
  JobManager::JobListRequest req;
  if (!req.Unserialize(xml, &error)) return -1;
  JobManager::JobListResponse resp;
  resp.TouchField(1, 1);
  const CNMessageBase& filter = req.GetMsg(2, 2);
  for (size_t i = 0; i < filter.ListSize(4, 4); ++i) {
    SJobRecord job;
    if (!CJobStore::GetJob(filter.GetListInt32(4, 4, i), job)) continue;
    CNMessageBase& entry = resp.AddMsg(1, 1);
    CNMessageBase& summary = entry.MutableMsg(1, 1);
    summary.SetInt64(1, 1, job.jobId);
    summary.SetInt32(2, 2, job.jobType);
    summary.SetInt32(3, 3, job.ownerId);
    summary.SetString(4, 10, job.status);
    summary.SetFloat(18, 18, static_cast<float>(job.percent));
  }
  return resp.serializeUTF8(xml) ? 0 : -1;
}

int JobOperation(int, std::string& xml, std::string& error) {
  JobManager::PerformMultiCellJobOpReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  const CNMessageBase& op = req.GetMsg(1, 1);
  int operation = op.GetInt32(1);
  for (size_t i = 0; i < op.ListSize(2, 2); ++i) {
    long long jobId = op.GetListMsg(2, 2, i).GetInt64(1);
    if (!CJobStore::ApplyOperation(jobId, operation)) {
      error = "Job [" + std::to_string(jobId) + "] not found";
      return -1;
    }
  }
  Api::GenericResp resp;
  return resp.serializeUTF8(xml) ? 0 : -1;
}

int JobDetails(int, std::string& xml, std::string& error) {
  Api::VirtualAppJobDetailsReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  Api::VirtualAppJobDetailsResp resp;
  resp.TouchField(1, 1);
  CDBConnection* c = CDBConnection::ForThread();
  if (c && c->EnsureTable(kPhaseTable) == DB_OK) {
    sqlite3_stmt* s = c->Prepare(
        "SELECT replicationId, phase, status, details FROM App_VirtualAppJobStats WHERE jobId = ? "
        "ORDER BY replicationId, phase");
    if (s) {
      sqlite3_bind_int64(s, 1, req.GetInt32(4));
      std::map<int, size_t> byRepl;
      while (sqlite3_step(s) == SQLITE_ROW) {
        int repl = sqlite3_column_int(s, 0);
        auto it = byRepl.find(repl);
        if (it == byRepl.end()) {
          CNMessageBase& job = resp.AddMsg(1, 1);
          job.SetInt32(4, 4, repl);
          job.SetInt64(6, 6, req.GetInt32(4));
          it = byRepl.emplace(repl, resp.ListSize(1, 1) - 1).first;
        }
        CNMessageBase& phase = resp.MutableListMsg(1, 1, it->second).AddMsg(5, 5);
        phase.SetInt32(1, 1, sqlite3_column_int(s, 1));
        phase.SetInt32(2, 2, sqlite3_column_int(s, 2));
        std::string details = Text(s, 3);
        Api::VirtualAppPhaseInfo info;
        if (!details.empty() && info.Unserialize(details)) phase.SetMsg(8, 11, info);
      }
      c->Release(s);
    }
  }
  return resp.serializeUTF8(xml) ? 0 : -1;
}

// The text of <tag>...</tag> in a workflow's inputs; empty when absent.
std::string InputValue(const std::string& inputs, const std::string& tag) {
  std::string open = "<" + tag + ">", close = "</" + tag + ">";
  size_t a = inputs.find(open);
  if (a == std::string::npos) return std::string();
  a += open.size();
  size_t b = inputs.find(close, a);
  return b == std::string::npos ? std::string() : inputs.substr(a, b - a);
}

void WriteApprovalRow(long long drJobId, int vAppId, int clientId, int status) {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureTable(kPhaseTable) != DB_OK) return;
  sqlite3_stmt* s = c->Prepare(
      "INSERT INTO App_VirtualAppJobStats (jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, "
      "status, startTime, endTime, details, failureReason, appTypeId) VALUES (?, 2, ?, ?, 0, ?, 'DR Approval', ?, "
      "strftime('%s','now'), strftime('%s','now'), NULL, '', 0)");
  if (!s) return;
  sqlite3_bind_int64(s, 1, drJobId);
  sqlite3_bind_int(s, 2, vAppId);
  sqlite3_bind_int(s, 3, clientId);
  sqlite3_bind_int(s, 4, CJobRequestHandlers::kApprovalPhase);
  sqlite3_bind_int(s, 5, status);
  sqlite3_step(s);
  c->Release(s);
}

int CreateWorkflowTask(const std::string& xml, int userId, std::list<long long>& jobIds, std::string& error) {
  TMMsg::CreateTaskReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  const CNMessageBase& info = req.GetMsg(2, 2);
  if (info.ListSize(5, 5) == 0 || info.ListSize(3, 3) == 0) {
    error = "Task request without sub-task or entity";
    return -1;
  }
  const CNMessageBase& entity = info.GetListMsg(3, 3, 0);
  std::string name = entity.GetString(91, 220);
  std::string inputs = info.GetListMsg(5, 5, 0).GetMsg(4, 4).GetString(11, 11);
  bool approval = name == "DRApproval";
  std::string outcome = approval ? CLabStore::ApprovalOutcome() : std::string(CLabStore::kApprove);
  if (outcome == CLabStore::kFailStart) {
    error = "Workflow [" + name + "] could not be started";
    return -1;
  }
  SJobRecord job;
  job.jobType = CJobStore::kTypeWorkflow;
  job.status = "Completed";
  job.percent = 100.0;
  job.ownerId = userId;
  job.name = name;
  job.inputs = inputs;
  job.clientId = static_cast<int>(entity.GetInt64(47));
  long long drJobId = atoll(InputValue(inputs, "jobId").c_str());
  job.parentJobId = drJobId;
  long long id = CJobStore::CreateJob(job);
  if (id == 0) {
    error = "Failed to record the workflow job";
    return -1;
  }
  if (approval && drJobId > 0)
    WriteApprovalRow(drJobId, atoi(InputValue(inputs, "vappId").c_str()), job.clientId,
                     outcome == CLabStore::kDeny ? 1 : 0);
  jobIds.push_back(id);
  return 0;
}

}  // namespace

void CJobRequestHandlers::Install() {
  static std::recursive_mutex s_mutex;
  static bool s_installed = false;
  std::lock_guard<std::recursive_mutex> lock(s_mutex);
  if (s_installed) return;
  s_installed = true;
  Restore();
}

void CJobRequestHandlers::Restore() {
  XMLHandler::RegisterHandler(kGetVirtualAppReq, GetVirtualApp);
  XMLHandler::RegisterHandler(kJobListRequest, JobList);
  XMLHandler::RegisterHandler(kMultiCellJobOp, JobOperation);
  XMLHandler::RegisterHandler(kJobDetailsReq, JobDetails);
  EvTask::RegisterHandler(kCreateTaskReq, CreateWorkflowTask);
}
