// Adapter for the management server's miscellaneous requests of a job
// process; today the request to be told when a job completes. The job
// manager service that serves it is a simulator, which registers its handler
// by notification type (CSimulators::Install).
#pragma once

#include <functional>
#include <string>

#include "core/HandlerRegistry.h"
#include "db/AdaptersBase.h"

// What requestJobCompletionNotification answers for a job that has already
// ended: nobody will be notified, the caller need not wait.
constexpr int kJobAlreadyCompleted = 0xa00016;

// 0 when registered; kJobAlreadyCompleted; any other value an error.
using JobNotificationHandler =
    std::function<int(long long jobId, int haldenId, int initArg, const std::string& token)>;
using JobNotificationRegistry = CHandlerRegistry<int, JobNotificationHandler>;

class App_MiscOptions : public AdaptersBase {
 public:
  // The notification type of a job's completion.
  static constexpr int kJobCompletion = 3;

  App_MiscOptions();
  ~App_MiscOptions() override = default;

  // Asks to be told, with token, when the job ends. 0 when registered,
  // kJobAlreadyCompleted when the job has ended, any other value an error
  // (unknown job, no handler for the notification type, ...).
  virtual int requestJobCompletionNotification(long long jobId, int haldenId, int initArg, int notificationType,
                                               const std::string& token, void* reserved);

  static void RegisterHandler(int notificationType, JobNotificationHandler handler);
  static void UnregisterHandler(int notificationType);
  // For a test's CScopedHandler.
  static JobNotificationRegistry& Handlers();
};
