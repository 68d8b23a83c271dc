#include "SSMReplicaGroup.h"

namespace {

// Path, then vserver and volume when the path names both.
void SplitPath(const char* path, std::string& storedPath, std::string& vserver, std::string& volume) {
  storedPath = path ? path : "";
  const size_t first = storedPath.find(':');
  if (first == std::string::npos) return;
  const size_t second = storedPath.find(':', first + 1);
  vserver = storedPath.substr(0, first);
  volume = storedPath.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace

SSMReplicaGroup::SSMReplicaGroup() : m_relationshipStatus(VOLUME_RELATIONSHIP_NORMAL) {}

SSMReplicaGroup::SSMReplicaGroup(int groupId, int copyId, int subclientId) : SSMReplicaGroup() {
  setReplicaGroupId(groupId);
  m_copyId = copyId;
  m_subclientId = subclientId;
}

SSMReplicaGroup::SSMReplicaGroup(const SSMReplicaGroup& other)
    : SMReplicaGroupInfo(other), m_relationshipStatus(VOLUME_RELATIONSHIP_NORMAL) {
  *this = other;
}

SSMReplicaGroup& SSMReplicaGroup::operator=(const SSMReplicaGroup& other) {
  if (this == &other) return *this;
  SMReplicaGroupInfo::operator=(other);
  m_copyId = other.m_copyId;
  m_spId = other.m_spId;
  m_defaultSPCopyId = other.m_defaultSPCopyId;
  m_subclientId = other.m_subclientId;
  m_targetArray = other.m_targetArray;
  m_sourceVolume = other.m_sourceVolume;
  m_destVolume = other.m_destVolume;
  m_sourceArray = other.m_sourceArray;
  m_sourceVServer = other.m_sourceVServer;
  m_destVServer = other.m_destVServer;
  m_sourcePath = other.m_sourcePath;
  m_destPath = other.m_destPath;
  m_pairId = other.m_pairId;
  m_destCntrlHostId = other.m_destCntrlHostId;
  m_replicationIds = other.m_replicationIds;
  m_relationshipStatus = other.m_relationshipStatus.load();
  return *this;
}

void SSMReplicaGroup::setSourceVolume(const char* path) { SplitPath(path, m_sourcePath, m_sourceVServer, m_sourceVolume); }

void SSMReplicaGroup::setDestVolume(const char* path) { SplitPath(path, m_destPath, m_destVServer, m_destVolume); }

void SSMReplicaGroup::updateDestVolume(const std::string& volume) {
  m_destVolume = volume;
  updateDestPath();
}

void SSMReplicaGroup::updateDestPath() { m_destPath = m_destVServer + ":" + m_destVolume; }

void SSMReplicaGroup::SetDestVServer(const std::string& vserver) { m_destVServer = vserver; }

void SSMReplicaGroup::setTargetArray(const char* name) { m_targetArray = name ? name : ""; }

void SSMReplicaGroup::setSourceArray(const char* name) { m_sourceArray = name ? name : ""; }

void SSMReplicaGroup::SetRelationshipStatus(E_VOLUME_RELATIONSHIP_STATUS status) { m_relationshipStatus = status; }

E_VOLUME_RELATIONSHIP_STATUS SSMReplicaGroup::GetRelationshipStatus() const { return m_relationshipStatus; }
