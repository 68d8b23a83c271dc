#include "db/App_ExecuteSP.h"

#include <map>
#include <mutex>

#include "core/RequestTap.h"
#include "jobs/PhaseRowProcedure.h"

namespace {
std::mutex g_mutex;
std::map<unsigned long, ExecuteSPHandler>& Handlers() {
  static auto* m = new std::map<unsigned long, ExecuteSPHandler>();
  return *m;
}
}  // namespace

App_ExecuteSP::App_ExecuteSP() : AdaptersBase() {}

void App_ExecuteSP::RegisterHandler(unsigned long messageType, ExecuteSPHandler handler) {
  CPhaseRowProcedure::Install();
  std::lock_guard<std::mutex> lk(g_mutex);
  Handlers()[messageType] = std::move(handler);
}

void App_ExecuteSP::UnregisterHandler(unsigned long messageType) {
  std::lock_guard<std::mutex> lk(g_mutex);
  Handlers().erase(messageType);
}

int App_ExecuteSP::executeGetStoredProcedure(unsigned long messageType, const std::string& request,
                                             std::string& response, void*) {
  CPhaseRowProcedure::Install();
  ExecuteSPHandler handler;
  {
    std::lock_guard<std::mutex> lk(g_mutex);
    auto it = Handlers().find(messageType);
    if (it != Handlers().end()) handler = it->second;
  }
  if (!handler) {
    m_lastError = "no stored procedure serves message type " + std::to_string(messageType);
    CRequestTap::Record("sp", messageType, request, m_lastError, -1);
    return -1;
  }
  int rc = handler(request, response);
  CRequestTap::Record("sp", messageType, request, response, rc);
  if (rc != 0) m_lastError = "stored procedure for message type " + std::to_string(messageType) + " failed";
  return rc;
}
