#include "jobs/JobRequestHandlers.h"

#include <stdlib.h>

#include <map>
#include <vector>

#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgClasses.h"
#include "xmlreq/XMLHandler.h"

namespace {

int GetVirtualApp(int, std::string& xml, std::string& error) {
  Api::GetVirtualAppReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  Api::GetVirtualAppResp resp;
  resp.TouchField(Api::GetVirtualAppResp::kVirtualApps);
  std::string groupXml;
  if (CLabStore::GetDRGroup(req.GetInt32(Api::GetVirtualAppReq::kVirtualAppId), groupXml)) {
    Api::VirtualApp app;
    if (!app.Unserialize(groupXml, &error)) return -1;
    resp.AppendMsg(Api::GetVirtualAppResp::kVirtualApps, app);
  }
  return resp.serializeUTF8(xml) ? 0 : -1;
}

int JobList(int, std::string& xml, std::string& error) {
  JobManager::JobListRequest req;
  if (!req.Unserialize(xml, &error)) return -1;
  JobManager::JobListResponse resp;
  resp.TouchField(JobManager::JobListResponse::kEntries);
  const CNMessageBase& filter = req.GetMsg(JobManager::JobListRequest::kFilter);
  for (size_t i = 0; i < filter.ListSize(JobManager::JobFilter::kJobIds); ++i) {
    SJobRecord job;
    const long long jobId = filter.GetListInt32(JobManager::JobFilter::kJobIds, i);
    const EStoreResult read = CJobStore::GetJob(jobId, job);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) {
      error = "Cannot read job [" + std::to_string(jobId) + "]";
      return -1;
    }
    CNMessageBase& entry = resp.AddMsg(JobManager::JobListResponse::kEntries);
    CNMessageBase& summary = entry.MutableMsg(JobManager::JobListEntryFields::kSummary);
    summary.SetInt64(JobManager::JobSummary::kJobId, job.jobId);
    summary.SetInt32(JobManager::JobSummary::kJobType, job.jobType);
    summary.SetInt32(JobManager::JobSummary::kOwnerUserId, job.ownerId);
    summary.SetString(JobManager::JobSummary::kStatus, job.status);
    summary.SetFloat(JobManager::JobSummary::kPercentComplete, static_cast<float>(job.percent));
  }
  return resp.serializeUTF8(xml) ? 0 : -1;
}

int JobOperation(int, std::string& xml, std::string& error) {
  JobManager::PerformMultiCellJobOpReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  const CNMessageBase& op = req.GetMsg(JobManager::PerformMultiCellJobOpReq::kOperationReq);
  const int operation = op.GetInt32(JobManager::PerformJobOperationReq::kOperation);
  for (size_t i = 0; i < op.ListSize(JobManager::PerformJobOperationReq::kJobs); ++i) {
    const long long jobId = op.GetListMsg(JobManager::PerformJobOperationReq::kJobs, i)
                                .GetInt64(JobManager::JobSummary::kJobId);
    SJobRecord job;
    EStoreResult applied = CJobStore::GetJob(jobId, job);
    JobOperationHandler handler;
    if (applied == EStoreResult::kOk) {
      applied = CJobRequestHandlers::OperationHandlers().Find(job.jobType, handler)
                    ? handler(jobId, operation)
                    : CJobStore::ApplyOperation(jobId, operation);
    }
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
  const long long jobId = req.GetInt32(Api::VirtualAppJobDetailsReq::kJobId);
  std::vector<SPhaseRowRecord> rows;
  // A failed read is an error, never an empty history: a restarted job
  // would redo the phases it already completed.
  if (CPhaseRowStore::ReadJob(jobId, rows) != EStoreResult::kOk) {
    error = "Cannot read the phase rows of job [" + std::to_string(jobId) + "]";
    return -1;
  }
  Api::VirtualAppJobDetailsResp resp;
  resp.TouchField(Api::VirtualAppJobDetailsResp::kJobs);
  std::map<int, size_t> byRepl;
  for (const SPhaseRowRecord& row : rows) {
    auto it = byRepl.find(row.replicationId);
    if (it == byRepl.end()) {
      CNMessageBase& job = resp.AddMsg(Api::VirtualAppJobDetailsResp::kJobs);
      job.SetInt32(Api::VirtualAppJob::kReplicationId, row.replicationId);
      job.SetInt64(Api::VirtualAppJob::kJobId, jobId);
      it = byRepl.emplace(row.replicationId, resp.ListSize(Api::VirtualAppJobDetailsResp::kJobs) - 1).first;
    }
    CNMessageBase& phase =
        resp.MutableListMsg(Api::VirtualAppJobDetailsResp::kJobs, it->second).AddMsg(Api::VirtualAppJob::kPhases);
    phase.SetInt32(Api::VirtualAppJobPhase::kPhaseType, row.phase);
    phase.SetInt32(Api::VirtualAppJobPhase::kPhaseState, row.status);
    Api::VirtualAppPhaseInfo info;
    if (!row.details.empty() && info.Unserialize(row.details)) phase.SetMsg(Api::VirtualAppJobPhase::kPhaseInfo, info);
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

}  // namespace

int CJobRequestHandlers::CreateWorkflowTask(const std::string& xml, int userId, std::list<long long>& jobIds,
                                            std::string& error) {
  TMMsg::CreateTaskReq req;
  if (!req.Unserialize(xml, &error)) return -1;
  const TMMsg::TaskInfo& info = req.GetMsgAs<TMMsg::TaskInfo>(TMMsg::CreateTaskReq::kTaskInfo);
  if (info.ListSize(TMMsg::TaskInfo::kSubTasks) == 0 || info.ListSize(TMMsg::TaskInfo::kAssociations) == 0) {
    error = "Task request without sub-task or entity";
    return -1;
  }
  const CNMessageBase& entity = info.GetListMsg(TMMsg::TaskInfo::kAssociations, 0);
  const std::string name = entity.GetString(ZnEntities::GenericEntity::kWorkflowName);
  const std::string inputs = info.GetListMsg(TMMsg::TaskInfo::kSubTasks, 0)
                                 .GetMsg(TMMsg::SubTaskInfo::kJobOptions)
                                 .GetString(TMMsg::JobOption::kWorkflowInputXml);
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
  job.clientId = static_cast<int>(entity.GetInt64(ZnEntities::GenericEntity::kClientId));
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

JobOperationRegistry& CJobRequestHandlers::OperationHandlers() {
  static auto* registry = new JobOperationRegistry();
  return *registry;
}

void CJobRequestHandlers::Register() {
  XMLHandler::RegisterHandler(Api::GetVirtualAppReq::kTypeId, GetVirtualApp);
  XMLHandler::RegisterHandler(JobManager::JobListRequest::kTypeId, JobList);
  XMLHandler::RegisterHandler(JobManager::PerformMultiCellJobOpReq::kTypeId, JobOperation);
  XMLHandler::RegisterHandler(Api::VirtualAppJobDetailsReq::kTypeId, JobDetails);
}
