// Proxies and file-recovery servers of the application manager: the member
// servers of a virtualization instance (cached per instance), the proxy a
// VM operation goes through next, and the host name of an instance's Unix
// file-recovery media agent (cached per instance).
//
// Which lock: m_memberServerLock around the member-server cache and its
// query, m_proxyLock around a proxy choice (taken before the member-server
// lock, never after it), m_fbrLock around the file-recovery cache.
#include <string>
#include <vector>

#include "DRAppManager.h"
#include "Db/Proc/AppGetVSMemberServers.h"
#include "Db/SprocWrapper.h"
#include "appmgr/InstanceTypeVirtualServer.h"
#include "appmgr/ZNClient.h"
#include "engine/ZnCriticalSectionLock.h"

namespace {

// What the member-server request asks for: the instance entity's kind and
// the request's flag.
const int kInstanceEntityKind = 5;
const int kMemberServerRequestFlag = 1;

long long ProxyClientId(const App::MemberServer& server) {
  return server.GetMsg(App::MemberServer::kClientEntity).GetInt64(ZnEntities::GenericEntity::kClientId);
}

}  // namespace

bool CDRAppManager::QueryMemberServersForInstance(int instanceId, std::vector<App::MemberServer>& servers) {
  ZnCriticalSectionLock lock(&m_memberServerLock);
  auto cached = m_memberServerCache.find(instanceId);
  if (cached != m_memberServerCache.end()) {
    servers.insert(servers.end(), cached->second.begin(), cached->second.end());
    return true;
  }
  App::GetVSMemberServersRequest req;
  CNMessageBase& entity = req.MutableMsg(App::GetVSMemberServersRequest::kInstanceEntity);
  entity.SetInt32(ZnEntities::GenericEntity::kInstanceId, instanceId);
  entity.SetInt32(ZnEntities::GenericEntity::kEntityKind, kInstanceEntityKind);
  req.SetInt32(App::GetVSMemberServersRequest::kFlag2, kMemberServerRequestFlag);
  std::string xml;
  if (!req.serializeUTF8(xml)) {
    m_event.Error("QueryMemberServersForInstance", "Error : Failed to serialize App::exe.");
    return false;
  }
  m_event.DebugLvl(2, "QueryMemberServersForInstance", "Input to GetVSMemberServersProc:[%s]", xml.c_str());
  SprocWrapper<AppGetVSMemberServers, AppGetVSMemberServers_t> proc("QueryMemberServersForInstance", nullptr);
  proc.getCursor()->setValues(xml.c_str());
  std::string output, error;
  const int rc = proc.getXMLFromCursor(output, &error, false, true);
  if (rc != 0) {
    m_event.Error("QueryMemberServersForInstance",
                  "Error : Failed to execute procedure APPGetVSMemberServers. ErrorCode [%d]. ErrorString[%s].", rc,
                  error.c_str());
    return false;
  }
  xml = output;
  m_event.DebugLvl(2, "QueryMemberServersForInstance", "Output of GetVSMemberServersProc:[%s]", xml.c_str());
  App::GetVSMemberServersResponse resp;
  if (!resp.Unserialize(xml)) {
    m_event.Error("QueryMemberServersForInstance", "Error : Failed to unserialize App::GetVSMemberServersResponse.");
    return false;
  }
  const CNMessageBase& list = resp.GetMsg(App::GetVSMemberServersResponse::kMemberServers);
  const size_t n = list.ListSize(App::MemberServerListFields::kMemberServers);
  if (!resp.Has(App::GetVSMemberServersResponse::kMemberServers) || n == 0) {
    m_event.Error("QueryMemberServersForInstance", "Unable to find proxy client Id for instance [%d]", instanceId);
    return false;
  }
  // Only the answer is the instance's: what the caller's list held before
  // belongs to the caller.
  std::vector<App::MemberServer> found;
  for (size_t i = 0; i < n; ++i) {
    found.push_back(list.GetListMsgAs<App::MemberServer>(App::MemberServerListFields::kMemberServers, i));
  }
  servers.insert(servers.end(), found.begin(), found.end());
  m_memberServerCache[instanceId] = found;
  m_event.Debug("QueryMemberServersForInstance", "Found [%zu] proxies configured for instance [%d]", servers.size(),
                instanceId);
  return true;
}

bool CDRAppManager::SelectProxy(int instanceId, App::MemberServer& proxy) {
  ZnCriticalSectionLock lock(&m_proxyLock);
  std::vector<App::MemberServer> list;
  if (!QueryMemberServersForInstance(instanceId, list) || list.empty()) {
    m_event.Error("SelectProxy", "Failed to get member servers for instance [%d]", instanceId);
    return false;
  }
  // The one remembered id is shared by every instance: the proxy after the
  // last one chosen, wherever it was chosen, else the first.
  proxy = list[0];
  for (size_t i = 0; i < list.size(); ++i) {
    const long long id = ProxyClientId(list[i]);
    if (id > 0 && id == m_lastSelectedProxyClientId) {
      if (i + 1 < list.size()) proxy = list[i + 1];
      break;
    }
  }
  m_lastSelectedProxyClientId = static_cast<int>(ProxyClientId(proxy));
  return true;
}

bool CDRAppManager::QueryFBRServerForInstance(long instanceId, std::string& hostName) {
  ZnCriticalSectionLock lock(&m_fbrLock);
  m_event.Debug("QueryFBRServerForInstance", "Request to query FBR server for instance [%ld]", instanceId);
  if (instanceId == 0) {
    m_event.DebugLvl(2, "QueryFBRServerForInstance", "Instance Id is [%ld]", instanceId);
    return false;
  }
  auto cached = m_fbrServerCache.find(instanceId);
  if (cached != m_fbrServerCache.end()) {
    hostName = cached->second;
    m_event.Debug("QueryFBRServerForInstance", "Found managled FBR serverName [%s] in cache for instance [%ld]",
                  hostName.c_str(), instanceId);
    return true;
  }
  InstanceTypeVirtualServer instance(instanceId);
  unsigned long clientId = 0;
  const int rc = instance.getFBRUnixMediaAgent(clientId);
  if (rc != 0 || clientId == 0) {
    if (rc != InstanceTypeVirtualServer::kNoFBRMediaAgent) {
      m_event.DebugLvl(2, "QueryFBRServerForInstance", "Failed to get FBR MA with error [%d]", rc);
    }
    return false;
  }
  ZNClient client(static_cast<int>(clientId));
  std::string name;
  const int nameRc = client.getClientName(name);
  if (nameRc != 0) {
    m_event.Debug("QueryFBRServerForInstance", "Failed to get FBR MA name with error [%d]", nameRc);
    return false;
  }
  m_event.Debug("QueryFBRServerForInstance", "Found Unix FBR Client Id = [%lu] [%s]", clientId, name.c_str());
  hostName = client.getNetworkHostnameMangled();
  m_fbrServerCache[instanceId] = hostName;
  return true;
}
