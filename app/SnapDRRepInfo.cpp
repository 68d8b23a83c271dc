#include "SnapDRRepInfo.h"

#include <set>
#include <string>

SnapDRRepInfo::SnapDRRepInfo() {}

SnapDRRepInfo::SnapDRRepInfo(const Api::SnapDRReplicationInfo& info) : m_info(info) {}

SnapDRRepInfo::~SnapDRRepInfo() {}

const SAppRepFieldTable& SnapDRRepInfo::GetFieldTable() const {
  using Info = Api::SnapDRReplicationInfo;
  static const SAppRepFieldTable kTable = {
      kNoRepField, kNoRepField, kNoRepField,         kNoRepField,          kNoRepField,
      kNoRepField, kNoRepField, Info::kSourceVMGuid, Info::kDestinationVMGuid, kNoRepField,
      kNoRepField, kNoRepField, kNoRepField,         kNoRepField,
  };
  return kTable;
}

bool SnapDRRepInfo::IsToolsInstalled() { return m_info.GetInt32(Api::SnapDRReplicationInfo::kToolsInstalled) != 0; }

void SnapDRRepInfo::GetSourceDatastores(std::vector<VirtualServer::VMDatastoreInfo>& out) {
  out.clear();
  std::set<std::string> seen;
  for (size_t i = 0; i < m_info.ListSize(Api::SnapDRReplicationInfo::kDatastoreReplications); ++i) {
    const CNMessageBase& volume = m_info.GetListMsg(Api::SnapDRReplicationInfo::kDatastoreReplications, i);
    const VirtualServer::VMDatastoreInfo& ds =
        volume.GetMsgAs<VirtualServer::VMDatastoreInfo>(Api::DatastoreReplication::kSourceDatastore);
    if (seen.insert(ds.GetString(VirtualServer::VMDatastoreInfo::kDatastoreName)).second) out.push_back(ds);
  }
}

unsigned SnapDRRepInfo::GetDSCount() {
  std::vector<VirtualServer::VMDatastoreInfo> datastores;
  GetSourceDatastores(datastores);
  return static_cast<unsigned>(datastores.size());
}
