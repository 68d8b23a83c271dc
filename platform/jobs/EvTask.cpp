#include "jobs/EvTask.h"

#include "core/RequestTap.h"
#include "jobs/JobStore.h"

EvTask::EvTask(long long jobId, int, void*, bool) : m_jobId(jobId) {}

int EvTask::getXMLOptions(std::string& xml) {
  SJobRecord job;
  if (CJobStore::GetJob(m_jobId, job) != EStoreResult::kOk) return -1;
  xml = job.optionsXml;
  return 0;
}

int EvTask::getOwnerId() {
  SJobRecord job;
  return CJobStore::GetJob(m_jobId, job) == EStoreResult::kOk ? job.ownerId : 0;
}

int EvTask::TaskRequest(const std::string& xml, std::list<long long>& jobIds, int& code, int userId,
                        std::string& error, unsigned long messageType, int, int, bool, bool) {
  TaskRequestHandler handler;
  if (!Handlers().Find(messageType, handler)) {
    error = "No task handler for message type [" + std::to_string(messageType) + "]";
    code = -1;
    CRequestTap::Record("task", messageType, xml, error, -1);
    return -1;
  }
  code = handler(xml, userId, jobIds, error);
  if (CRequestTap::Enabled()) {
    std::string ids;
    for (long long id : jobIds) ids += (ids.empty() ? "" : ",") + std::to_string(id);
    CRequestTap::Record("task", messageType, xml, code == 0 ? "jobs " + ids : error, code);
  }
  return code;
}

TaskHandlerRegistry& EvTask::Handlers() {
  static auto* registry = new TaskHandlerRegistry();
  return *registry;
}

void EvTask::RegisterHandler(unsigned long messageType, TaskRequestHandler handler) {
  Handlers().Register(messageType, std::move(handler));
}

void EvTask::UnregisterHandler(unsigned long messageType) { Handlers().Unregister(messageType); }
