// The management server's XML request entry: a request message (as XML) is
// handed to the handler registered for its message type, which writes the
// reply into the same string.
#pragma once

#include <functional>
#include <string>

#include "core/HandlerRegistry.h"
#include "db/AdaptersBase.h"

// 0 on success; the reply replaces xml. On failure error says why.
using XMLRequestHandler = std::function<int(int userId, std::string& xml, std::string& error)>;
using XMLHandlerRegistry = CHandlerRegistry<unsigned long, XMLRequestHandler>;

class XMLHandler : public AdaptersBase {
 public:
  // 0 on success; non-zero when no handler serves the type or it failed.
  static int handleXMLReq(int userId, unsigned long messageType, std::string& xml, std::string& error,
                          const std::string& extra, int flags);
  static void RegisterHandler(unsigned long messageType, XMLRequestHandler handler);
  static void UnregisterHandler(unsigned long messageType);
  // For a test's CScopedHandler.
  static XMLHandlerRegistry& Handlers();
};
