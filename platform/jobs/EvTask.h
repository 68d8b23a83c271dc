// A task of the task manager as a job process sees it: the options and the
// owner of a job, and the task requests that create new jobs.
//
// Task requests are routed by message type to handlers (RegisterHandler);
// the simulated task manager serves the create-task request of workflows.
#pragma once

#include <functional>
#include <list>
#include <string>

#include "core/HandlerRegistry.h"

// 0 on success; the new jobs' ids are appended to jobIds.
using TaskRequestHandler =
    std::function<int(const std::string& xml, int userId, std::list<long long>& jobIds, std::string& error)>;
using TaskHandlerRegistry = CHandlerRegistry<unsigned long, TaskRequestHandler>;

class EvTask {
 public:
  // A fresh task for a new request is made with job id 0.
  EvTask(long long jobId, int flags, void* reserved, bool verbose);

  // The job's options XML; 0 on success, non-zero when the job is unknown.
  int getXMLOptions(std::string& xml);
  // The job's owner (user id); 0 when unknown.
  int getOwnerId();

  int TaskRequest(const std::string& xml, std::list<long long>& jobIds, int& code, int userId, std::string& error,
                  unsigned long messageType, int a, int b, bool c, bool d);

  static void RegisterHandler(unsigned long messageType, TaskRequestHandler handler);
  static void UnregisterHandler(unsigned long messageType);
  // For a test's CScopedHandler.
  static TaskHandlerRegistry& Handlers();

 private:
  long long m_jobId;
};
