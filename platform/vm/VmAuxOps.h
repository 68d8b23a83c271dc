// Auxiliary services of the VM operation library: mail of the management
// server (a user's e-mail address, and the sending of a mail into the outbox
// the host and tests read, CLabStore::Outbox), the VM information of a VM
// as the hypervisor reports it, and the owner a VM client is associated with.
//
// getVMInfo and SetVMClientOwner have no behaviour of their own: each hands
// the call to the handler registered for the VM's GUID, else to the one
// registered for kAnyVM. The simulated hypervisor lab registers its handlers
// in CSimulators::Install; a test replaces one with a CScopedHandler on
// VMInfoHandlers() or VMOwnerHandlers(). A handler answers 0 (with the VM's
// information: GUID, name, host, IP address, power state) or a positive
// code; without a handler the call answers VmOperation::kNotServed and logs
// the GUID.
//
// Threads: any thread, several calls at once; a handler runs outside the
// registry's lock.
#pragma once

#include <functional>
#include <string>

#include "core/HandlerRegistry.h"
#include "msg/MsgClasses.h"

using VMInfoHandler = std::function<int(const std::string& guid, QSMServer::QVirtualMachineReq& info)>;
using VMInfoRegistry = CHandlerRegistry<std::string, VMInfoHandler>;
using VMOwnerHandler = std::function<int(int userId, int clientId, const std::string& guid)>;
using VMOwnerRegistry = CHandlerRegistry<std::string, VMOwnerHandler>;

class VmAuxOps {
 public:
  // 0 on success; an unknown user fails with error set. A user without an
  // address succeeds with an empty email.
  static int GetUserEMail(int userId, std::string& email, std::string& error);
  // Queues a mail in the outbox: 0 on success; an empty recipient fails.
  // Copy recipients and attachments are not supported and are ignored.
  static int SendEmail(const std::string& subject, const std::string& body, const std::string& recipient,
                       const std::string& copyTo, const std::string& attachment);

  // Fills info with what the hypervisor reports of the VM with that GUID;
  // 0 on success.
  static int getVMInfo(std::string guid, QSMServer::QVirtualMachineReq& info);

  // Associates the user with the VM client (of the VM with that GUID) as
  // its owner; 0 on success. Handed, like getVMInfo, to the handler of the
  // GUID, else to the one of kAnyVM; without one kNotServed.
  static int SetVMClientOwner(int userId, int clientId, const std::string& guid);

  // The registry key of a handler that serves every VM without a handler of
  // its own.
  static const char* const kAnyVM;
  static VMInfoRegistry& VMInfoHandlers();
  static VMOwnerRegistry& VMOwnerHandlers();
};
