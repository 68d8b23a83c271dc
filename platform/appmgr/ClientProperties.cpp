#include "appmgr/ClientProperties.h"

#include <stdlib.h>

#include "appmgr/ComponentProperties.h"
#include "db/DBConnection.h"

ClientProperties::ClientProperties(int clientId) : m_clientId(clientId) {}

int ClientProperties::getAttribute(const std::string& name, std::string& value) {
  return CComponentProperties(kTable, m_clientId).Get(name, value);
}

int ClientProperties::setAttribute(const std::string& name, const std::string& value) {
  return CComponentProperties(kTable, m_clientId).Set(name, value);
}

int ClientProperties::getClientTimeZoneId(unsigned int& timeZoneId) {
  std::string text;
  const int rc = getAttribute(ZN_PROP_CLIENT_TIME_ZONE_ID, text);
  if (rc != 0) return rc;
  timeZoneId = static_cast<unsigned int>(strtoul(text.c_str(), nullptr, 10));
  return 0;
}

int ClientProperties::setClientTimeZoneId(unsigned int timeZoneId) {
  return setAttribute(ZN_PROP_CLIENT_TIME_ZONE_ID, std::to_string(timeZoneId));
}

int ClientProperties::setVMInstanceUUID(const std::string& uuid) {
  return setAttribute(ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, uuid);
}

int ClientProperties::getVMInstanceUUID(std::string& uuid) {
  return getAttribute(ZN_PROP_VIRTUAL_SERVER_INSTANCE_UUID, uuid);
}

int ClientProperties::setLastVMBackupJobInfo(const App::LastBackupJobInfo& info) {
  std::string xml;
  if (!info.serializeUTF8(xml)) return -1;
  return setAttribute(ZN_PROP_LAST_VM_BACKUP_JOB_INFO, xml);
}

int ClientProperties::getLastVMBackupJobInfo(App::LastBackupJobInfo& info) {
  std::string xml;
  const int rc = getAttribute(ZN_PROP_LAST_VM_BACKUP_JOB_INFO, xml);
  if (rc != 0) return rc;
  return info.Unserialize(xml) ? 0 : -1;
}

int ClientProperties::getVSAProjectId(std::string& projectId) {
  return getAttribute(ZN_PROP_VSA_PROJECT_ID, projectId);
}

int ClientProperties::setVSAProjectId(const std::string& projectId) {
  return setAttribute(ZN_PROP_VSA_PROJECT_ID, projectId);
}

int ClientProperties::setVMReserveUntil(int epochSeconds) {
  return setAttribute(ZN_PROP_VM_RESERVE_UNTIL, std::to_string(epochSeconds));
}

int ClientProperties::setSourceVMClient(int sourceClientId) {
  return setAttribute(ZN_PROP_SOURCE_VM_CLIENT_ID, std::to_string(sourceClientId));
}

int ClientProperties::setIsTestDRMachine(bool isTestMachine) {
  return setAttribute(ZN_PROP_IS_TEST_DR_MACHINE, isTestMachine ? "1" : "0");
}

int ClientProperties::setVMCreatedBy(int userId) { return setAttribute(ZN_PROP_VM_CREATED_BY, std::to_string(userId)); }

bool ClientProperties::CreateTables() { return CComponentProperties::Ready(kTable); }

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"componentNameId", "i", 0}, {"attrName", "s2049", 0}, {"attrType", "i", 0},
    {"attrVal", "s2049", 0}, {"created", "x", 0}, {"modified", "x", 0}, {"hdpId", "i", 0},
};

}  // namespace

void ClientProperties::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
  CDBConnection::RegisterIndex(kTable, "componentNameId, attrName");
  // The clones of a source VM are found by the property naming it.
  CDBConnection::RegisterIndex(kTable, "attrName, attrVal");
}
