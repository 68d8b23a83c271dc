// The VM replication records of the DR group, read from the management
// server.
#include "DRAppManager.h"
#include "engine/DRHelper.h"
#include "xmlreq/XMLHandler.h"

namespace {

// Fetch level of the request: the whole replication.
const int kFetchLevel = 20;

}  // namespace

bool CDRAppManager::GetVSAReplicationResp(std::vector<int>& replicationIds, App::GetVSAReplicationResp& resp) {
  EvEvent event;
  App::GetVSAReplicationReq req;
  req.SetInt32List(App::GetVSAReplicationReq::kReplicationIds,
                   std::vector<int32_t>(replicationIds.begin(), replicationIds.end()));
  req.SetInt32(App::GetVSAReplicationReq::kFetchLevel, kFetchLevel);
  std::string xml;
  if (!DRHelper::GetFormattedXML(req, xml)) {
    event.Error("GetVSAReplicationResp", "Failed to serialize GetVSAReplicationReq request");
    return false;
  }
  event.Debug("GetVSAReplicationResp", "GetVSAReplicationReq request %s", xml.c_str());
  std::string error;
  if (XMLHandler::handleXMLReq(1, App::GetVSAReplicationReq::kTypeId, xml, error, "", 0) != 0) {
    event.Error("GetVSAReplicationResp", "Error [%s] contacting dhdb for VSA Replication Info ", error.c_str());
    return false;
  }
  if (!resp.Unserialize(xml)) {
    event.Error("GetVSAReplicationResp", "Failed to un-serialize GetVSAReplicationResp response");
    return false;
  }
  event.Debug("GetVSAReplicationResp", "GetVSAReplicationResp response=[%s]", xml.c_str());
  return true;
}
