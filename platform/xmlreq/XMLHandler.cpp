#include "xmlreq/XMLHandler.h"

#include <map>
#include <mutex>

#include "core/RequestTap.h"
#include "jobs/JobRequestHandlers.h"
#include "repl/ReplicationStore.h"

namespace {

std::mutex& Mutex() {
  static std::mutex m;
  return m;
}

std::map<unsigned long, XMLRequestHandler>& Handlers() {
  static std::map<unsigned long, XMLRequestHandler> h;
  return h;
}

}  // namespace

int XMLHandler::handleXMLReq(int userId, unsigned long messageType, std::string& xml, std::string& error,
                             const std::string&, int) {
  CJobRequestHandlers::Install();
  CReplicationStore::Install();
  XMLRequestHandler handler;
  {
    std::lock_guard<std::mutex> lock(Mutex());
    auto it = Handlers().find(messageType);
    if (it != Handlers().end()) handler = it->second;
  }
  const std::string request = CRequestTap::Enabled() ? xml : std::string();
  if (!handler) {
    error = "No handler for message type [" + std::to_string(messageType) + "]";
    CRequestTap::Record("xml", messageType, request, error, -1);
    return -1;
  }
  int rc = handler(userId, xml, error);
  CRequestTap::Record("xml", messageType, request, rc == 0 ? xml : error, rc);
  return rc;
}

void XMLHandler::RegisterHandler(unsigned long messageType, XMLRequestHandler handler) {
  CJobRequestHandlers::Install();
  CReplicationStore::Install();
  std::lock_guard<std::mutex> lock(Mutex());
  Handlers()[messageType] = std::move(handler);
}

void XMLHandler::UnregisterHandler(unsigned long messageType) {
  std::lock_guard<std::mutex> lock(Mutex());
  Handlers().erase(messageType);
}
