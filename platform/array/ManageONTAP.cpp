#include "array/ManageONTAP.h"

#include "array/ArrayCallJournal.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "log/EvEvent.h"

namespace {

std::string Arg(const char* name, const std::string& value) { return std::string(name) + " [" + value + "]"; }

}  // namespace

void ManageONTAP::Configure(const _NASArrayInfo& entry) {
  m_configured = true;
  m_open = false;
  m_controlHostId = entry.controlHostId;
  m_arrayName = entry.arrayName;
  m_vserver = entry.vserverName;
}

bool ManageONTAP::Answer(const char* call, const std::string& arguments, EArrayAnswer answer,
                         const std::string& detail) {
  CArrayCallJournal::Record(m_controlHostId, call, arguments, ArrayAnswerText(answer) + detail);
  return answer == EArrayAnswer::kOk;
}

bool ManageONTAP::Usable(const char* call, const std::string& arguments) {
  SLabArray array;
  EArrayAnswer refusal = EArrayAnswer::kNotConnected;
  if (m_open) {
    const EStoreResult read = CArrayStore::Get(m_controlHostId, array);
    if (read == EStoreResult::kOk && array.reachable) return true;
    if (read == EStoreResult::kFailed) refusal = EArrayAnswer::kFailed;
  }
  Answer(call, arguments, refusal);
  return false;
}

bool ManageONTAP::OpenConnection() {
  const std::string args = Arg("array", m_arrayName);
  m_open = false;
  if (!m_configured) return Answer("OpenConnection", args, EArrayAnswer::kNotConnected);
  SLabArray array;
  const EStoreResult read = CArrayStore::Get(m_controlHostId, array);
  EArrayAnswer answer = EArrayAnswer::kOk;
  if (read != EStoreResult::kOk) {
    answer = read == EStoreResult::kMissing ? EArrayAnswer::kNotFound : EArrayAnswer::kFailed;
  } else if (!array.reachable) {
    answer = EArrayAnswer::kNotConnected;
  }
  m_open = answer == EArrayAnswer::kOk;
  return Answer("OpenConnection", args, answer);
}

bool ManageONTAP::GetSnapMirrorInfoCMode(_SVSMRelationshipProgressInfo& info, const std::string& destPath) {
  const std::string args = Arg("destPath", destPath);
  if (!Usable("GetSnapMirrorInfoCMode", args)) return false;
  SLabRelationship r;
  const EArrayAnswer answer = CArrayRelationshipStore::Read(m_controlHostId, destPath, r);
  if (answer != EArrayAnswer::kOk) return Answer("GetSnapMirrorInfoCMode", args, answer);
  info.Clear();
  info.destinationArray = m_arrayName;
  info.destinationPath = r.destPath;
  info.destinationVServer = r.destVServer;
  info.destinationVolume = r.destVolume;
  info.sourcePath = r.sourcePath;
  const size_t colon = r.sourcePath.find(':');
  if (colon != std::string::npos) {
    info.sourceVServer = r.sourcePath.substr(0, colon);
    info.sourceVolume = r.sourcePath.substr(colon + 1);
  }
  info.mirrorState = r.mirrorState;
  info.relationshipStatus = r.status;
  info.consistent = 1;
  return Answer("GetSnapMirrorInfoCMode", args, answer,
                " [" + r.mirrorState + "] [" + r.status + "]");
}

bool ManageONTAP::SMBreakRelationshipCMode(const std::string& destVolume, const std::string& destVServer) {
  const std::string args = Arg("volume", destVolume) + " " + Arg("vserver", destVServer);
  if (!Usable("SMBreakRelationshipCMode", args)) return false;
  return Answer("SMBreakRelationshipCMode", args,
                CArrayRelationshipStore::Break(m_controlHostId, destVServer, destVolume));
}

bool ManageONTAP::SMResyncRelationshipCMode(const std::string& destVolume, const std::string& destVServer) {
  const std::string args = Arg("volume", destVolume) + " " + Arg("vserver", destVServer);
  if (!Usable("SMResyncRelationshipCMode", args)) return false;
  return Answer("SMResyncRelationshipCMode", args,
                CArrayRelationshipStore::Resync(m_controlHostId, destVServer, destVolume));
}

bool ManageONTAP::GetAllMappedLUNs(const std::string& volume, std::vector<std::string>& luns) {
  const std::string args = Arg("volume", volume);
  if (!Usable("GetAllMappedLUNs", args)) return false;
  std::vector<std::string> paths;
  const EArrayAnswer answer = CArrayLunStore::Mapped(m_controlHostId, volume, paths);
  if (answer == EArrayAnswer::kOk) luns.swap(paths);
  return Answer("GetAllMappedLUNs", args, answer,
                answer == EArrayAnswer::kOk ? " [" + std::to_string(luns.size()) + "]" : "");
}

bool ManageONTAP::UnAssignLunFromAllInitiators(const std::string& lun) {
  const std::string args = Arg("lun", lun);
  if (!Usable("UnAssignLunFromAllInitiators", args)) return false;
  return Answer("UnAssignLunFromAllInitiators", args, CArrayLunStore::Unmap(m_controlHostId, lun));
}

bool NASSnapUtil::Initialize() {
  m_initialized = true;
  return true;
}

bool NASSnapUtil::GetArrayNameAndCredentialsByControlHostId(const int& controlHostId, _NASArrayInfo& entry) {
  entry.Clear();
  const std::string args = Arg("controlHostId", std::to_string(controlHostId));
  SLabArray array;
  const EStoreResult read = m_initialized ? CArrayStore::Get(controlHostId, array) : EStoreResult::kMissing;
  EArrayAnswer answer = EArrayAnswer::kOk;
  if (read == EStoreResult::kFailed) {
    answer = EArrayAnswer::kFailed;
  } else if (read == EStoreResult::kMissing || !array.managed) {
    answer = EArrayAnswer::kNotFound;
  }
  CArrayCallJournal::Record(controlHostId, "GetArrayNameAndCredentialsByControlHostId", args,
                            ArrayAnswerText(answer));
  if (answer != EArrayAnswer::kOk) return false;
  entry.arrayName = array.name;
  entry.vserverName = array.vserver;
  entry.controlHostId = array.controlHostId;
  entry.managementHost = array.name;
  entry.userName = "lab";
  entry.protocol = "https";
  entry.port = 443;
  return true;
}

bool NASSnapUtil::SetONTAPObject(const _NASArrayInfo& entry, ManageONTAP& array, const montapConnectType&,
                                 const bool&) {
  if (entry.controlHostId == 0) {
    EvDebug().Error("SetONTAPObject", "The entry names no array [%s]", entry.arrayName.c_str());
    return false;
  }
  array.Configure(entry);
  return true;
}
