#include "jobs/PhaseRowProcedure.h"

#include <vector>

#include "db/App_ExecuteSP.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgClasses.h"

namespace {

const int kFailed = 1;

// The phase's information, when its details carry any.
bool PhaseInfo(const std::string& details, Api::VirtualAppPhaseInfo& info) {
  return !details.empty() && info.Unserialize(details) && info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) > 0;
}

}  // namespace

int CPhaseRowProcedure::Execute(const std::string& request, std::string& response) {
  Api::VirtualAppJobUpdateReq req;
  if (!req.Unserialize(request)) return -1;
  std::vector<SPhaseRowChange> changes;
  for (size_t j = 0; j < req.ListSize(Api::VirtualAppJobUpdateReq::kJobs); ++j) {
    const CNMessageBase& job = req.GetListMsg(Api::VirtualAppJobUpdateReq::kJobs, j);
    for (size_t p = 0; p < job.ListSize(Api::VirtualAppJob::kPhases); ++p) {
      const CNMessageBase& phase = job.GetListMsg(Api::VirtualAppJob::kPhases, p);
      SPhaseRowChange change;
      change.jobId = job.GetInt64(Api::VirtualAppJob::kJobId);
      change.vappId = job.GetMsg(Api::VirtualAppJob::kVirtualAppEntity).GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId);
      change.replicationId = job.GetInt32(Api::VirtualAppJob::kReplicationId);
      change.appTypeId = job.GetInt32(Api::VirtualAppJob::kApplicationId);
      change.phase = phase.GetInt32(Api::VirtualAppJobPhase::kPhaseType);
      change.state = phase.GetInt32(Api::VirtualAppJobPhase::kPhaseState);
      change.details = phase.GetString(Api::VirtualAppJobPhase::kPhaseInfoXml);
      Api::VirtualAppPhaseInfo info;
      if (PhaseInfo(change.details, info)) {
        const CNMessageBase& first = info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0);
        change.clientId = static_cast<int>(
            first.GetMsg(Api::VirtualAppJobInfo::kClientEntity).GetInt64(ZnEntities::GenericEntity::kClientId));
        // A failed phase keeps its message as the failure reason.
        if (change.state == kFailed) {
          change.failureReason =
              first.GetMsg(Api::VirtualAppJobInfo::kMessage).GetString(Api::GenericResp::kText).substr(0, 256);
        }
      }
      changes.push_back(change);
    }
  }
  if (!CPhaseRowStore::Apply(changes)) return -4;
  Api::GenericResp resp;
  return resp.serializeUTF8(response) ? 0 : -6;
}

void CPhaseRowProcedure::Register() { App_ExecuteSP::RegisterHandler(Api::VirtualAppJobUpdateReq::kTypeId, Execute); }
