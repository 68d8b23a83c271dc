#include "jobs/JobRequestHandlers.h"

#include <stdlib.h>

#include <map>
#include <vector>

#include "jobs/EvTask.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgClasses.h"
#include "xmlreq/XMLHandler.h"

namespace {

const unsigned long kGetVirtualAppReq = 1988615698UL;
const unsigned long kJobListRequest = 356490292UL;
const unsigned long kMultiCellJobOp = 361508698UL;
const unsigned long kJobDetailsReq = 1986164483UL;
const unsigned long kCreateTaskReq = 216380445UL;
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
    const long long jobId = filter.GetListInt32(4, 4, i);
    const EStoreResult read = CJobStore::GetJob(jobId, job);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) {
      error = "Cannot read job [" + std::to_string(jobId) + "]";
      return -1;
    }
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
    const EStoreResult applied = CJobStore::ApplyOperation(jobId, operation);
    if (applied != EStoreResult::kOk) {
      error = "Job [" + std::to_string(jobId) + (applied == EStoreResult::kMissing ? "] not found" : "] not changed");
      return -1;
    }
  }
  Api::GenericResp resp;
  return resp.serializeUTF8(xml) ? 0 : -1;
}

int JobDetails(int, std::string& xml, std::string& error) {
  Api::VirtualAppJobDetailsReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  const long long jobId = req.GetInt32(4);
  std::vector<SPhaseRowRecord> rows;
  // A failed read is an error, never an empty history: a restarted job
  // would redo the phases it already completed.
  if (CPhaseRowStore::ReadJob(jobId, rows) != EStoreResult::kOk) {
    error = "Cannot read the phase rows of job [" + std::to_string(jobId) + "]";
    return -1;
  }
  Api::VirtualAppJobDetailsResp resp;
  resp.TouchField(1, 1);
  std::map<int, size_t> byRepl;
  for (const SPhaseRowRecord& row : rows) {
    auto it = byRepl.find(row.replicationId);
    if (it == byRepl.end()) {
      CNMessageBase& job = resp.AddMsg(1, 1);
      job.SetInt32(4, 4, row.replicationId);
      job.SetInt64(6, 6, jobId);
      it = byRepl.emplace(row.replicationId, resp.ListSize(1, 1) - 1).first;
    }
    CNMessageBase& phase = resp.MutableListMsg(1, 1, it->second).AddMsg(5, 5);
    phase.SetInt32(1, 1, row.phase);
    phase.SetInt32(2, 2, row.status);
    Api::VirtualAppPhaseInfo info;
    if (!row.details.empty() && info.Unserialize(row.details)) phase.SetMsg(8, 11, info);
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
  if (approval && drJobId > 0 &&
      !CPhaseRowStore::AddApprovalRow(drJobId, atoi(InputValue(inputs, "vappId").c_str()), job.clientId,
                                      outcome == CLabStore::kDeny ? 1 : 0)) {
    error = "Failed to record the approval of DR job [" + std::to_string(drJobId) + "]";
    return -1;
  }
  jobIds.push_back(id);
  return 0;
}

}  // namespace

void CJobRequestHandlers::Register() {
  XMLHandler::RegisterHandler(kGetVirtualAppReq, GetVirtualApp);
  XMLHandler::RegisterHandler(kJobListRequest, JobList);
  XMLHandler::RegisterHandler(kMultiCellJobOp, JobOperation);
  XMLHandler::RegisterHandler(kJobDetailsReq, JobDetails);
  EvTask::RegisterHandler(kCreateTaskReq, CreateWorkflowTask);
}
