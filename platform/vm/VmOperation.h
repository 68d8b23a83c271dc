// The VM operation library's entry: a hypervisor proxy of the request's
// virtualization instance carries out one VM operation (power, snapshots,
// scripts, adapters, creation, clones, information, refresh, deletion,
// placement, snapshot mounts) and its answer becomes the response.
//
// The entry has no behaviour of its own. It hands the call to the handler
// registered for the option's operation type (TMMsg::VMOperationType), else
// to the one registered for kAnyOperation. The simulated hypervisor lab
// registers its handler in CSimulators::Install; a test replaces one
// operation type, or every one, with a CScopedHandler on Handlers().
//
// What a handler promises, and so what PerformRemoteVMOperation answers:
// - 0 on success; kProxyConnectionFailure (-100) when no proxy could be
//   reached (the caller waits and tries again); kMountedThroughOtherProxy
//   (270) when a snapshot mount is held by another proxy than the one asked
//   (the caller may try the instance's next proxy); any other failure is a
//   positive code of the handler's own. Never -1: a caller that waits on a
//   worker thread answers -1 itself when the job's quit flag ends the wait.
//   A handler's -1 (or another negative code than -100) is logged and
//   answered as kInvalidResult.
// - The whole response is replaced. It always carries the error record
//   (Ida::VMOpResp::kError: code and text, 0 and "" on success) and the
//   proxy that carried the operation out (Ida::VMOpResp::kProxyClientId);
//   as the operation gives, the VMs (kVirtualMachines), the created VM
//   (kCreatedVM) and the snapshots (kSnapshots).
// - The instance is the request's Ida::VMOpReq::kInstance ->
//   PolicyInstanceFields::kInstanceId. A proxy named in kProxyClientId must
//   serve that instance; without one, any proxy of the instance may, and
//   with retry set a connection failure moves on to the next.
// - timeSeconds is the time the operation is allowed.
// Without a handler the entry answers kNotServed, with an error record
// that says so, and logs the operation type.
//
// Threads: any thread, several calls at once. The handler runs outside the
// registry's lock; the three messages are the caller's and must stay valid
// until the call returns.
#pragma once

#include <functional>

#include "core/HandlerRegistry.h"
#include "msg/MsgClasses.h"

using VmOperationHandler = std::function<int(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                             Ida::VMOpResp& response, int timeSeconds, bool retry)>;
using VmOperationRegistry = CHandlerRegistry<int, VmOperationHandler>;

class VmOperation {
 public:
  static constexpr int kSuccess = 0;
  static constexpr int kProxyConnectionFailure = -100;
  static constexpr int kMountedThroughOtherProxy = 270;
  // The entry's own failures; handlers keep their codes clear of them.
  static constexpr int kNotServed = 9001;
  static constexpr int kInvalidResult = 9002;

  // The registry key of a handler that serves every operation type without
  // a handler of its own.
  static constexpr int kAnyOperation = -1;

  static int PerformRemoteVMOperation(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
                                      Ida::VMOpResp& response, int timeSeconds, bool retry);

  static VmOperationRegistry& Handlers();
};
