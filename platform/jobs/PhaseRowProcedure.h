// The simulated management server's procedure behind the phase-row update
// request (Api::VirtualAppJobUpdateReq, executed by its type id): each phase of each
// job of the request becomes the DR job's row for that replication and phase
// (CPhaseRowStore), added or updated in place. A restarted DR job reads these
// rows back as its previous run.
#pragma once

#include <string>

class CPhaseRowProcedure {
 public:
  // 0 on success; the response is an Api::GenericResp.
  static int Execute(const std::string& request, std::string& response);
  // Registers the procedure with App_ExecuteSP (CSimulators::Install).
  static void Register();
};
