#include "db/App_ExecuteSP.h"

#include "core/RequestTap.h"

App_ExecuteSP::App_ExecuteSP() : AdaptersBase() {}

ExecuteSPRegistry& App_ExecuteSP::Handlers() {
  static auto* registry = new ExecuteSPRegistry();
  return *registry;
}

ExecuteSPGateRegistry& App_ExecuteSP::Gates() {
  static auto* registry = new ExecuteSPGateRegistry();
  return *registry;
}

void App_ExecuteSP::RegisterHandler(unsigned long messageType, ExecuteSPHandler handler) {
  Handlers().Register(messageType, std::move(handler));
}

void App_ExecuteSP::UnregisterHandler(unsigned long messageType) { Handlers().Unregister(messageType); }

int App_ExecuteSP::executeGetStoredProcedure(unsigned long messageType, const std::string& request,
                                             std::string& response, void*) {
  ExecuteSPHandler handler;
  if (!Handlers().Find(messageType, handler)) {
    m_lastError = "no stored procedure serves message type " + std::to_string(messageType);
    CRequestTap::Record("sp", messageType, request, m_lastError, -1);
    return -1;
  }
  for (const auto& gate : Gates().All()) {
    const int refused = gate.second(messageType);
    if (refused == 0) continue;
    m_lastError = "stored procedure for message type " + std::to_string(messageType) + " failed";
    CRequestTap::Record("sp", messageType, request, m_lastError, refused);
    return refused;
  }
  int rc = handler(request, response);
  CRequestTap::Record("sp", messageType, request, response, rc);
  if (rc != 0) m_lastError = "stored procedure for message type " + std::to_string(messageType) + " failed";
  return rc;
}
