#include "array/ZNSnapClientAPI.h"

#include "array/VolumeSnapStore.h"

int ZNSnapClientAPI::Fail(int code, const std::string& text) {
  m_errorCode = code;
  m_errorText = text;
  return code;
}

int ZNSnapClientAPI::getVolumeSnaps(SMVolSnapInfo& info) {
  std::vector<SVolumeSnap> snaps;
  if (CVolumeSnapStore::OfJob(info.snapJobId, snaps) != EStoreResult::kOk) {
    return Fail(2, "Cannot read the snapshots of job " + std::to_string(info.snapJobId));
  }
  if (snaps.empty()) return Fail(1, "No snapshots found for job " + std::to_string(info.snapJobId));
  info.snapNames.clear();
  for (const SVolumeSnap& s : snaps) info.snapNames.push_back(s.snapName);
  return 0;
}

int ZNSnapClientAPI::deleteVolumeSnaps(SMVolSnapInfo& info) {
  const EStoreResult removed = CVolumeSnapStore::RemoveJob(info.snapJobId);
  if (removed == EStoreResult::kFailed) {
    return Fail(2, "Cannot delete the snapshots of job " + std::to_string(info.snapJobId));
  }
  return 0;
}

int ZNSnapClientAPI::getErrCodeAndStr(std::string& text) const {
  text = m_errorText;
  return m_errorCode;
}
