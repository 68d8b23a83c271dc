#include "jobs/EvTask.h"

#include <map>
#include <mutex>

#include "core/RequestTap.h"
#include "jobs/JobRequestHandlers.h"
#include "jobs/JobStore.h"

namespace {

std::mutex& Mutex() {
  static std::mutex m;
  return m;
}

std::map<unsigned long, TaskRequestHandler>& Handlers() {
  static std::map<unsigned long, TaskRequestHandler> h;
  return h;
}

}  // namespace

EvTask::EvTask(long long jobId, int, void*, bool) : m_jobId(jobId) {}

int EvTask::getXMLOptions(std::string& xml) {
  SJobRecord job;
  if (!CJobStore::GetJob(m_jobId, job)) return -1;
  xml = job.optionsXml;
  return 0;
}

int EvTask::getOwnerId() {
  SJobRecord job;
  return CJobStore::GetJob(m_jobId, job) ? job.ownerId : 0;
}

int EvTask::TaskRequest(const std::string& xml, std::list<long long>& jobIds, int& code, int userId,
                        std::string& error, unsigned long messageType, int, int, bool, bool) {
  CJobRequestHandlers::Install();
  TaskRequestHandler handler;
  {
    std::lock_guard<std::mutex> lock(Mutex());
    auto it = Handlers().find(messageType);
    if (it != Handlers().end()) handler = it->second;
  }
  if (!handler) {
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

void EvTask::RegisterHandler(unsigned long messageType, TaskRequestHandler handler) {
  CJobRequestHandlers::Install();
  std::lock_guard<std::mutex> lock(Mutex());
  Handlers()[messageType] = std::move(handler);
}

void EvTask::UnregisterHandler(unsigned long messageType) {
  std::lock_guard<std::mutex> lock(Mutex());
  Handlers().erase(messageType);
}
