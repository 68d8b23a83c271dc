// Requests the simulated management database runs as stored procedures
// (App_ExecuteSP), answered from the simulators' stores:
// - Api::GetSyncCopyDetailsReq: for the request's subclient, its storage
//   policy (CStoragePolicyStore), the copy of the requested copy precedence
//   and the policy's default copy. An unknown subclient gives a reply
//   without any of them; a precedence the policy has no copy of gives one
//   without the copy; a policy without a default copy, one without it.
// - Api::GetVMStatusReq: the VM status entries of the backup job
//   (CVMStatusStore) as Api::GetVMStatusResp; a job without entries gives a
//   reply without the list.
// Faults by the stand-in names below (CStandIns).
#pragma once

class CManagementQueries {
 public:
  static constexpr const char* kSyncCopyDetails = "AppGetSyncCopyDetails";
  static constexpr const char* kVMStatus = "AppGetVMStatus";

  // Registers both with App_ExecuteSP (CSimulators::Install).
  static void Register();
};
