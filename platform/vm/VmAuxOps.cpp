#include "vm/VmAuxOps.h"

#include "jobs/LabStore.h"
#include "log/EvEvent.h"
#include "vm/VmOperation.h"

const char* const VmAuxOps::kAnyVM = "";

int VmAuxOps::GetUserEMail(int userId, std::string& email, std::string& error) {
  if (!CLabStore::GetUserEmail(userId, email)) {
    error = "User [" + std::to_string(userId) + "] not found";
    return -1;
  }
  return 0;
}

int VmAuxOps::SendEmail(const std::string& subject, const std::string& body, const std::string& recipient,
                        const std::string& /*copyTo*/, const std::string& /*attachment*/) {
  if (recipient.empty()) return -1;
  SOutboxMail mail;
  mail.recipient = recipient;
  mail.subject = subject;
  mail.body = body;
  return CLabStore::AddMail(mail) ? 0 : -1;
}

VMInfoRegistry& VmAuxOps::VMInfoHandlers() {
  // Never destroyed: handlers may still be looked up while the process exits.
  static auto* registry = new VMInfoRegistry();
  return *registry;
}

int VmAuxOps::getVMInfo(std::string guid, QSMServer::QVirtualMachineReq& info) {
  VMInfoHandler handler;
  if (VMInfoHandlers().Find(guid, handler) || VMInfoHandlers().Find(kAnyVM, handler)) return handler(guid, info);
  EvEvent event;
  event.Error("getVMInfo", "No VM information service for VM [%s]", guid.c_str());
  return VmOperation::kNotServed;
}

VMOwnerRegistry& VmAuxOps::VMOwnerHandlers() {
  // Never destroyed, as the information handlers.
  static auto* registry = new VMOwnerRegistry();
  return *registry;
}

int VmAuxOps::SetVMClientOwner(int userId, int clientId, const std::string& guid) {
  VMOwnerHandler handler;
  if (VMOwnerHandlers().Find(guid, handler) || VMOwnerHandlers().Find(kAnyVM, handler)) {
    return handler(userId, clientId, guid);
  }
  EvEvent event;
  event.Error("SetVMClientOwner", "No VM owner service for VM [%s]", guid.c_str());
  return VmOperation::kNotServed;
}
