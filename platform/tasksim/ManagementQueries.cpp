#include "tasksim/ManagementQueries.h"

#include "db/App_ExecuteSP.h"
#include "jobs/StandIns.h"
#include "jobsim/StoragePolicyStore.h"
#include "msg/MsgClasses.h"
#include "tasksim/VMStatusStore.h"

namespace {

int SyncCopyDetails(const std::string& request, std::string& response) {
  Api::GetSyncCopyDetailsReq req;
  if (!req.Unserialize(request)) return -1;
  const int subclientId = req.GetMsg(Api::GetSyncCopyDetailsReq::kSubclient)
                              .GetInt32(ZnEntities::SubClientEntity::kSubclientId);
  Api::GetSyncCopyDetailsResp resp;
  SSubclientPolicy assigned;
  const EStoreResult read = CStoragePolicyStore::GetSubclient(subclientId, assigned);
  if (read == EStoreResult::kFailed) return -1;
  SStoragePolicy policy;
  const EStoreResult policyRead =
      read == EStoreResult::kOk ? CStoragePolicyStore::GetPolicy(assigned.policyId, policy) : EStoreResult::kMissing;
  if (policyRead == EStoreResult::kFailed) return -1;
  if (policyRead == EStoreResult::kOk) {
    resp.MutableMsg(Api::GetSyncCopyDetailsResp::kStoragePolicy)
        .SetInt32(ZnEntities::StoragePolicyEntityFields::kStoragePolicyId, policy.policyId);
    const int copyId = policy.CopyIdOfPrecedence(req.GetInt32(Api::GetSyncCopyDetailsReq::kCopyPrecedence));
    if (copyId != 0) {
      resp.MutableMsg(Api::GetSyncCopyDetailsResp::kCopy).SetInt32(ZnEntities::StorageCopyEntityFields::kCopyId, copyId);
    }
    if (policy.DefaultCopyId() != 0) resp.SetInt32(Api::GetSyncCopyDetailsResp::kDefaultCopyId, policy.DefaultCopyId());
  }
  return resp.serializeUTF8(response) ? 0 : -1;
}

int VMStatus(const std::string& request, std::string& response) {
  Api::GetVMStatusReq req;
  if (!req.Unserialize(request)) return -1;
  std::vector<SVMStatusEntry> entries;
  if (CVMStatusStore::OfJob(req.GetInt64(Api::GetVMStatusReq::kJobId), entries) != EStoreResult::kOk) return -1;
  Api::GetVMStatusResp resp;
  for (const SVMStatusEntry& e : entries) {
    CNMessageBase& info = resp.AddMsg(Api::GetVMStatusResp::kVMStatusInfos);
    info.SetString(App::VMStatusInfo::kVMGuid, e.vmGuid);
    info.SetInt32(App::VMStatusInfo::kStatus, e.status);
    info.SetString(App::VMStatusInfo::kFailureReason, e.reason);
  }
  return resp.serializeUTF8(response) ? 0 : -1;
}

}  // namespace

void CManagementQueries::Register() {
  App_ExecuteSP::RegisterHandler(Api::GetSyncCopyDetailsReq::kTypeId,
                                 [](const std::string& request, std::string& response) {
                                   return CStandIns::RunQuery(kSyncCopyDetails, request, response, SyncCopyDetails);
                                 });
  App_ExecuteSP::RegisterHandler(Api::GetVMStatusReq::kTypeId, [](const std::string& request, std::string& response) {
    return CStandIns::RunQuery(kVMStatus, request, response, VMStatus);
  });
}
