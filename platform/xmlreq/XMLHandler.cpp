#include "xmlreq/XMLHandler.h"

#include "core/RequestTap.h"

XMLHandlerRegistry& XMLHandler::Handlers() {
  // Never destroyed: handlers may still be looked up while the process exits.
  static auto* registry = new XMLHandlerRegistry();
  return *registry;
}

int XMLHandler::handleXMLReq(int userId, unsigned long messageType, std::string& xml, std::string& error,
                             const std::string&, int) {
  XMLRequestHandler handler;
  const std::string request = CRequestTap::Enabled() ? xml : std::string();
  if (!Handlers().Find(messageType, handler)) {
    error = "No handler for message type [" + std::to_string(messageType) + "]";
    CRequestTap::Record("xml", messageType, request, error, -1);
    return -1;
  }
  int rc = handler(userId, xml, error);
  CRequestTap::Record("xml", messageType, request, rc == 0 ? xml : error, rc);
  return rc;
}

void XMLHandler::RegisterHandler(unsigned long messageType, XMLRequestHandler handler) {
  Handlers().Register(messageType, std::move(handler));
}

void XMLHandler::UnregisterHandler(unsigned long messageType) { Handlers().Unregister(messageType); }
