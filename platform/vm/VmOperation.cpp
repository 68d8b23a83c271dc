#include "vm/VmOperation.h"

#include <string>

#include "core/RequestTap.h"
#include "log/EvEvent.h"

namespace {

// The request as the tap keeps it: the option with the request appended,
// so one text shows the operation type and the request it carried.
std::string TapText(const TMMsg::VMProvisioningOption& option, const Ida::VMOpReq& request) {
  TMMsg::VMProvisioningOption copy(option);
  copy.AppendMsg(TMMsg::VMProvisioningOption::kVMOpRequests, request);
  std::string xml;
  copy.serializeUTF8(xml, false);
  return xml;
}

void SetError(Ida::VMOpResp& response, int code, const std::string& text) {
  CNMessageBase& error = response.MutableMsg(Ida::VMOpResp::kError);
  error.SetInt32(ZNGui::GenericResp::kErrorCode, code);
  error.SetString(ZNGui::GenericResp::kErrorText, text);
}

}  // namespace

VmOperationRegistry& VmOperation::Handlers() {
  // Never destroyed: handlers may still be looked up while the process exits.
  static auto* registry = new VmOperationRegistry();
  return *registry;
}

int VmOperation::PerformRemoteVMOperation(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                          Ida::VMOpResp& response, int timeSeconds, bool retry) {
  const int opType = option.GetInt32(TMMsg::VMProvisioningOption::kOperationType);
  const std::string tapped = CRequestTap::Enabled() ? TapText(option, request) : std::string();
  VmOperationHandler handler;
  int rc = kNotServed;
  if (Handlers().Find(opType, handler) || Handlers().Find(kAnyOperation, handler)) {
    rc = handler(option, request, response, timeSeconds, retry);
    if (rc < 0 && rc != kProxyConnectionFailure) {
      EvEvent event;
      event.Error("PerformRemoteVMOperation", "VM operation service answered [%d] for operation type [%d]", rc,
                  opType);
      response = Ida::VMOpResp();
      SetError(response, kInvalidResult, "Invalid answer [" + std::to_string(rc) + "] of the VM operation service");
      rc = kInvalidResult;
    }
  } else {
    EvEvent event;
    event.Error("PerformRemoteVMOperation", "No VM operation service for operation type [%d]", opType);
    response = Ida::VMOpResp();
    SetError(response, kNotServed, "No VM operation service for operation type [" + std::to_string(opType) + "]");
  }
  if (CRequestTap::Enabled()) {
    std::string reply;
    response.serializeUTF8(reply, false);
    CRequestTap::Record("vm", static_cast<unsigned long>(opType), tapped, reply, rc);
  }
  return rc;
}
