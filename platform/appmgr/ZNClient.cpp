#include "appmgr/ZNClient.h"

#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "db/DBConnection.h"
#include "jobs/ZNManageDBForJM.h"

ZNClient::ZNClient(const char* name) : m_name(name ? name : ""), m_id(0), m_loaded(false), m_found(false) {}

ZNClient::ZNClient(const char* name, int, int) : ZNClient(name) {}

ZNClient::ZNClient(int clientId) : m_id(clientId), m_loaded(false), m_found(false) {}

bool ZNClient::Load() {
  if (m_loaded) return m_found;
  m_loaded = true;
  // A process without a database (the completion notifier) knows a client
  // by the name it was given, quietly.
  if (!CDBConnection::Available()) return false;
  SClientRecord client;
  const EStoreResult found =
      m_name.empty() ? CClientStore::FindById(m_id, client) : CClientStore::FindByName(m_name, client);
  if (found != EStoreResult::kOk) return false;
  m_found = true;
  m_id = client.id;
  m_name = client.name;
  m_hostName = client.hostName;
  return true;
}

int ZNClient::getClientId(int& clientId) {
  if (!Load()) return -1;
  clientId = m_id;
  return 0;
}

int ZNClient::getHaldenId(int& haldenId) {
  if (!Load()) return -1;
  haldenId = ZNManageDBForJM::getDefaultHaldenID();
  return 0;
}

int ZNClient::getClientName(std::string& name) {
  if (!Load()) return -1;
  name = m_name;
  return 0;
}

std::string ZNClient::getNetworkHostnameMangled() {
  if (Load() && !m_hostName.empty()) return m_hostName;
  return m_name;
}

int ZNClient::getInstallDirectory(std::string& directory, int, void*) {
  if (!Load()) return -1;
  std::string stored;
  const int rc = ClientProperties(m_id).getAttribute(ZN_PROP_INSTALL_DIRECTORY, stored);
  if (rc < 0) return rc;
  directory = rc == 0 && !stored.empty() ? stored : kDefaultInstallDirectory;
  return 0;
}
