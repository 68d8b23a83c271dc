#include "db/App_MiscOptions.h"

App_MiscOptions::App_MiscOptions() : AdaptersBase() {}

JobNotificationRegistry& App_MiscOptions::Handlers() {
  static auto* registry = new JobNotificationRegistry();
  return *registry;
}

void App_MiscOptions::RegisterHandler(int notificationType, JobNotificationHandler handler) {
  Handlers().Register(notificationType, std::move(handler));
}

void App_MiscOptions::UnregisterHandler(int notificationType) { Handlers().Unregister(notificationType); }

int App_MiscOptions::requestJobCompletionNotification(long long jobId, int haldenId, int initArg,
                                                      int notificationType, const std::string& token, void*) {
  JobNotificationHandler handler;
  if (!Handlers().Find(notificationType, handler)) {
    m_lastError = "no service serves notification type " + std::to_string(notificationType);
    return -1;
  }
  const int rc = handler(jobId, haldenId, initArg, token);
  if (rc != 0 && rc != kJobAlreadyCompleted) {
    m_lastError = "notification of job " + std::to_string(jobId) + " not registered (" + std::to_string(rc) + ")";
  }
  return rc;
}
