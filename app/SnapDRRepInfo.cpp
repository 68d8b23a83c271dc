#include "SnapDRRepInfo.h"

#include <set>
#include <string>

namespace {

const int kDatastores = 1;
const int kToolsInstalled = 59;
// Datastore name of a VirtualServer::VMDatastoreInfo.
const int kNameA = 2;
const int kNameB = 5;

}  // namespace

SnapDRRepInfo::SnapDRRepInfo() {}

SnapDRRepInfo::SnapDRRepInfo(const Api::SnapDRReplicationInfo& info) : m_info(info) {}

SnapDRRepInfo::~SnapDRRepInfo() {}

bool SnapDRRepInfo::IsToolsInstalled() { return m_info.GetInt32(kToolsInstalled) != 0; }

void SnapDRRepInfo::GetSourceDatastores(std::vector<VirtualServer::VMDatastoreInfo>& out) {
  out.clear();
  std::set<std::string> seen;
  for (size_t i = 0; i < m_info.ListSize(kDatastores, kDatastores); ++i) {
    const CNMessageBase& volume = m_info.GetListMsg(kDatastores, kDatastores, i);
    const VirtualServer::VMDatastoreInfo& ds = volume.GetMsgAs<VirtualServer::VMDatastoreInfo>(1, 1);
    if (seen.insert(ds.GetString(kNameA, kNameB)).second) out.push_back(ds);
  }
}

unsigned SnapDRRepInfo::GetDSCount() {
  std::vector<VirtualServer::VMDatastoreInfo> datastores;
  GetSourceDatastores(datastores);
  return static_cast<unsigned>(datastores.size());
}
