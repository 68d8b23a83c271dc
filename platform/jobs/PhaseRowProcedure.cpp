#include "jobs/PhaseRowProcedure.h"

#include <vector>

#include "db/App_ExecuteSP.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgClasses.h"

namespace {

const int kFailed = 1;

// The phase's information, when its details carry any.
bool PhaseInfo(const std::string& details, Api::VirtualAppPhaseInfo& info) {
  return !details.empty() && info.Unserialize(details) && info.ListSize(1, 1) > 0;
}

}  // namespace

int CPhaseRowProcedure::Execute(const std::string& request, std::string& response) {
  Api::VirtualAppJobUpdateReq req;
  if (!req.Unserialize(request)) return -1;
  std::vector<SPhaseRowChange> changes;
  for (size_t j = 0; j < req.ListSize(1, 1); ++j) {
    const CNMessageBase& job = req.GetListMsg(1, 1, j);
    for (size_t p = 0; p < job.ListSize(5, 5); ++p) {
      const CNMessageBase& phase = job.GetListMsg(5, 5, p);
      SPhaseRowChange change;
      change.jobId = job.GetInt64(6);
      change.vappId = job.GetMsg(2, 2).GetInt32(0);
      change.replicationId = job.GetInt32(4);
      change.appTypeId = job.GetInt32(7);
      change.phase = phase.GetInt32(1);
      change.state = phase.GetInt32(2);
      change.details = phase.GetString(3, 3);
      Api::VirtualAppPhaseInfo info;
      if (PhaseInfo(change.details, info)) {
        const CNMessageBase& first = info.GetListMsg(1, 1, 0);
        change.clientId = static_cast<int>(first.GetMsg(5, 5).GetInt64(47));
        // A failed phase keeps its message as the failure reason.
        if (change.state == kFailed) change.failureReason = first.GetMsg(3, 3).GetString(2, 2).substr(0, 256);
      }
      changes.push_back(change);
    }
  }
  if (!CPhaseRowStore::Apply(changes)) return -4;
  Api::GenericResp resp;
  return resp.serializeUTF8(response) ? 0 : -6;
}

void CPhaseRowProcedure::Register() { App_ExecuteSP::RegisterHandler(kRequestType, Execute); }
