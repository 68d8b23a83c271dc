// Stored-procedure adapter: runs the procedure that the management server
// maps to a request's message type. Handlers are registered by type.
#pragma once

#include <functional>
#include <string>

#include "core/HandlerRegistry.h"
#include "db/AdaptersBase.h"

// 0 on success; the response XML is written into response.
using ExecuteSPHandler = std::function<int(const std::string& request, std::string& response)>;
using ExecuteSPRegistry = CHandlerRegistry<unsigned long, ExecuteSPHandler>;
// Asked before a request's handler runs: non-zero fails the request with
// that code (a fault a higher area plants).
using ExecuteSPGate = std::function<int(unsigned long messageType)>;
using ExecuteSPGateRegistry = CHandlerRegistry<std::string, ExecuteSPGate>;

class App_ExecuteSP : public AdaptersBase {
 public:
  App_ExecuteSP();
  ~App_ExecuteSP() override = default;

  // 0 on success; non-zero when no handler serves the type or it failed.
  virtual int executeGetStoredProcedure(unsigned long messageType, const std::string& request, std::string& response,
                                        void* context);

  static void RegisterHandler(unsigned long messageType, ExecuteSPHandler handler);
  static void UnregisterHandler(unsigned long messageType);
  // For a test's CScopedHandler.
  static ExecuteSPRegistry& Handlers();
  static ExecuteSPGateRegistry& Gates();
};
