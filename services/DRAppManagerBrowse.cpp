// The index browses of a VM's backups: the request and its answer through
// the platform's indexing browse client, which is held only for the call.
#include <memory>
#include <string>

#include "DRAppManager.h"
#include "vm/IndexBrowseClient.h"

bool CDRAppManager::PrepareBrowseRequest(databrowse::BrowseRequest& req, ApplicationId appId, int browseMode,
                                         const std::string& path, int fromTime, int toTime) {
  using Request = databrowse::BrowseRequest;
  using Entity = ZnEntities::GenericEntity;
  req.SetInt32(Request::kOperation, 0);
  CNMessageBase& entity = req.MutableMsg(Request::kEntity);
  entity.SetInt32(Entity::kApplicationId, 106);
  entity.SetInt32(Entity::kBackupSetId, static_cast<int32_t>(appId.getBackupSetId()));
  entity.SetInt64(Entity::kClientId, appId.getClientId());
  entity.SetInt32(Entity::kSubclientId, static_cast<int32_t>(appId.getSubclientId()));
  req.AddMsg(Request::kPaths).SetString(databrowse::BrowsePath::kPath, path);
  CNMessageBase& options = req.MutableMsg(Request::kOptions);
  options.SetInt32(databrowse::BrowseOptionsFields::kFlag12, 1);
  options.SetInt32(databrowse::BrowseOptionsFields::kFlag2, 1);
  options.SetInt32(databrowse::BrowseOptionsFields::kFlag1, 0);
  options.SetInt32(databrowse::BrowseOptionsFields::kFlag8, 0);
  options.SetInt32(databrowse::BrowseOptionsFields::kFlag5, 1);
  options.SetInt32(databrowse::BrowseOptionsFields::kFlag3, 0);
  req.MutableMsg(Request::kMode).SetInt32(databrowse::BrowseModeFields::kMode, browseMode);
  CNMessageBase& range = req.MutableMsg(Request::kTimeRange);
  range.SetInt32(databrowse::BrowseTimeRangeFields::kFromTime, fromTime);
  range.SetInt32(databrowse::BrowseTimeRangeFields::kToTime, toTime);
  databrowse::BrowsePaging paging;
  paging.SetInt32(databrowse::BrowsePaging::kValue1, 0);
  paging.SetInt32(databrowse::BrowsePaging::kValue2, 0);
  paging.SetInt32(databrowse::BrowsePaging::kValue3, 100000);
  CNMessageBase& query = req.AddMsg(Request::kQueries);
  query.SetString(databrowse::Query::kText2, "0");
  query.SetInt32(databrowse::Query::kValue1, 0);
  query.MutableMsg(databrowse::Query::kQueryOptions).SetMsg(databrowse::QueryOptionsFields::kPaging, paging);
  return true;
}

bool CDRAppManager::GetBrowseResponse(const databrowse::BrowseRequest& req, databrowse::BrowseResponseList& resp) {
  // Owned for this call only, so no path out of it keeps the connection.
  std::unique_ptr<CIndexBrowseClient> client(new CIndexBrowseClient());
  databrowse::BrowseRequest request(req);
  const int init = client->Initialize(request, nullptr, 2000, nullptr, nullptr);
  if (init != 0) {
    m_event.Error("GetBrowseResponse", "Failed to initialize indexing browse connection, %d", init);
    return false;
  }
  if (client->Browse(nullptr, resp) != 0) {
    m_event.Error("GetBrowseResponse", "Browse request failed");
    return false;
  }
  std::string text;
  resp.serializeUTF8(text);
  m_event.Debug("GetBrowseResponse", "Browse response : [%s]", text.c_str());
  return true;
}
