#include "vm/IndexBrowseClient.h"

#include <stdlib.h>

#include "appmgr/ClientProperties.h"
#include "jobs/LabStore.h"
#include "log/EvEvent.h"
#include "repl/ReplicationSources.h"
#include "vm/HypervisorStore.h"

namespace {

const char kFullBrowseFailures[] = "browse.full.failures";
const char kMalformedNetworks[] = "browse.networks.malformed";

// Takes one planted failure of a full browse; true when there was one.
bool TakeFullBrowseFailure() {
  const int left = atoi(CLabStore::GetKnob(kFullBrowseFailures, "0").c_str());
  if (left <= 0) return false;
  CIndexBrowseClient::FailFullBrowses(left - 1);
  return true;
}

// The end time of the last backup of a client; 0 when none is recorded.
long long LastBackupEnd(int clientId) {
  App::LastBackupJobInfo info;
  if (clientId <= 0 || ClientProperties(clientId).getLastVMBackupJobInfo(info) != 0) return 0;
  return info.GetMsg(App::LastBackupJobInfo::kEndTime).GetInt32(ZnEntities::TimeEntityFields::kTime);
}

// The VM a backup of the replica took.
bool BackedUpVM(const SLabReplica& replica, SLabVM& vm) {
  if (!replica.destGuid.empty() &&
      CHypervisorStore::GetVM(replica.destInstanceId, replica.destGuid, vm) == EStoreResult::kOk) {
    return true;
  }
  return CHypervisorStore::GetVM(replica.sourceInstanceId, replica.sourceGuid, vm) == EStoreResult::kOk;
}

void FillVMMetadata(const SLabVM& vm, bool malformedNetworks, CNMessageBase& meta) {
  using Meta = IdxMetadata::VirtualServerIdxMetaData;
  meta.SetString(Meta::kField1, vm.host);
  meta.SetString(Meta::kDatastore, vm.datastores.empty() ? std::string() : vm.datastores.front());
  meta.SetString(Meta::kField3, vm.size);
  meta.SetString(Meta::kField4, std::to_string(vm.diskCount));
  meta.SetString(Meta::kField17, vm.name);
  meta.SetString(Meta::kDatacenter, std::string());
  IdxMetadata::VMNetworks networks;
  networks.TouchField(IdxMetadata::VMNetworks::kNetworks);
  for (const SLabNic& nic : vm.nics) {
    CNMessageBase& n = networks.AddMsg(IdxMetadata::VMNetworks::kNetworks);
    n.SetString(IdxMetadata::VMNetwork::kField1, nic.network);
    n.SetString(IdxMetadata::VMNetwork::kField3, nic.network);
    n.SetString(IdxMetadata::VMNetwork::kField4, vm.name);
    n.SetString(IdxMetadata::VMNetwork::kField5, nic.connected ? "connected" : "disconnected");
  }
  std::string text;
  if (!networks.serializeUTF8(text)) return;
  if (malformedNetworks) {
    meta.SetString(Meta::kNetworks, text.substr(0, text.size() / 2));
  } else if (!vm.nics.empty()) {
    meta.SetString(Meta::kNetworks, text);
  }
}

CNMessageBase& NewEntry(CNMessageBase& result, const std::string& name, const std::string& path) {
  CNMessageBase& entry = result.AddMsg(databrowse::BrowseResultFields::kEntries);
  entry.SetString(databrowse::BrowseData::kName, name);
  entry.SetString(databrowse::BrowseData::kPath, path);
  return entry;
}

CNMessageBase& VMMetadataOf(CNMessageBase& entry) {
  return entry.MutableMsg(databrowse::BrowseData::kMetadata)
      .MutableMsg(databrowse::EntryMetadataFields::kIndexMetadata)
      .MutableMsg(IdxMetadata::ItemMetadataFields::kVirtualServer);
}

bool ListVMs(int subclientId, long long toTime, CNMessageBase& result) {
  const std::string malformed = CLabStore::GetKnob(kMalformedNetworks, "");
  std::vector<SSourcedReplication> replications;
  if (CReplicationSources::OfSubclient(subclientId, replications) != EStoreResult::kOk) return false;
  for (const SSourcedReplication& r : replications) {
    SLabReplica replica;
    const EStoreResult read = CHypervisorStore::GetReplica(r.replicationId, replica);
    if (read == EStoreResult::kFailed) return false;
    if (read == EStoreResult::kMissing || replica.backedUpContent < 0) continue;
    const long long ended = LastBackupEnd(r.sourceClientId);
    if (toTime > 0 && ended > toTime) continue;
    SLabVM vm;
    if (!BackedUpVM(replica, vm)) continue;
    CNMessageBase& entry = NewEntry(result, replica.sourceGuid, "\\" + replica.sourceGuid);
    FillVMMetadata(vm, !malformed.empty() && malformed == replica.sourceGuid, VMMetadataOf(entry));
  }
  return true;
}

bool ListFiles(const std::string& path, CNMessageBase& result) {
  const std::string guid = !path.empty() && path[0] == '\\' ? path.substr(1) : path;
  std::vector<SLabReplica> replicas;
  if (CHypervisorStore::ReplicasOfSource(guid, replicas) != EStoreResult::kOk) return false;
  for (const SLabReplica& replica : replicas) {
    SLabVM vm;
    if (!BackedUpVM(replica, vm)) return false;
    const std::string datastore = vm.datastores.empty() ? std::string() : vm.datastores.front();
    for (int disk = 0; disk < vm.diskCount; ++disk) {
      CNMessageBase& entry = NewEntry(result, vm.name + "-disk-" + std::to_string(disk) + ".vmdk", path);
      VMMetadataOf(entry).SetString(IdxMetadata::VirtualServerIdxMetaData::kDatastore, datastore);
    }
    CNMessageBase& config = NewEntry(result, vm.name + ".vmx", path);
    VMMetadataOf(config).SetString(IdxMetadata::VirtualServerIdxMetaData::kDatastore, datastore);
    return true;
  }
  return false;
}

}  // namespace

std::atomic<long> CIndexBrowseClient::s_live{0};

CIndexBrowseClient::CIndexBrowseClient() { ++s_live; }

CIndexBrowseClient::~CIndexBrowseClient() { --s_live; }

long CIndexBrowseClient::Live() { return s_live.load(); }

bool CIndexBrowseClient::FailFullBrowses(int count) {
  return count > 0 ? CLabStore::SetKnob(kFullBrowseFailures, std::to_string(count))
                   : CLabStore::ClearKnob(kFullBrowseFailures);
}

bool CIndexBrowseClient::MalformNetworksOf(const std::string& sourceGuid) {
  return sourceGuid.empty() ? CLabStore::ClearKnob(kMalformedNetworks)
                            : CLabStore::SetKnob(kMalformedNetworks, sourceGuid);
}

int CIndexBrowseClient::Initialize(const databrowse::BrowseRequest& request, void*, int, void*, void*) {
  const int subclient =
      request.GetMsg(databrowse::BrowseRequest::kEntity).GetInt32(ZnEntities::GenericEntity::kSubclientId);
  if (subclient <= 0 || !request.Has(databrowse::BrowseRequest::kMode)) return 1;
  m_request = request;
  m_initialised = true;
  return 0;
}

int CIndexBrowseClient::Browse(void*, databrowse::BrowseResponseList& response) {
  if (!m_initialised) return 1;
  const int mode = m_request.GetMsg(databrowse::BrowseRequest::kMode).GetInt32(databrowse::BrowseModeFields::kMode);
  const int subclient =
      m_request.GetMsg(databrowse::BrowseRequest::kEntity).GetInt32(ZnEntities::GenericEntity::kSubclientId);
  const long long toTime =
      m_request.GetMsg(databrowse::BrowseRequest::kTimeRange).GetInt32(databrowse::BrowseTimeRangeFields::kToTime);
  const std::string path = m_request.ListSize(databrowse::BrowseRequest::kPaths) > 0
                               ? m_request.GetListMsg(databrowse::BrowseRequest::kPaths, 0)
                                     .GetString(databrowse::BrowsePath::kPath)
                               : std::string();
  CNMessageBase& answer = response.AddMsg(databrowse::BrowseResponseList::kResponses);
  CNMessageBase& result = answer.MutableMsg(databrowse::BrowseResponse::kResult);
  result.TouchField(databrowse::BrowseResultFields::kEntries);
  bool ok = false;
  if (mode == kModeVMs) {
    ok = !TakeFullBrowseFailure() && ListVMs(subclient, toTime, result);
  } else if (mode == kModeFiles) {
    ok = ListFiles(path, result);
  }
  answer.SetInt32(databrowse::BrowseResponse::kErrorCode, ok ? 0 : 1);
  EvDebug().DebugLvl(5, "Browse", "Browse mode [%d] of subclient [%d] to [%lld]: [%s]", mode, subclient, toTime,
                     ok ? "answered" : "failed");
  return ok ? 0 : 1;
}
