// The storage-array data manager's work on the arrays: volume relationships
// read, broken, re-synced and counted, LUN mappings listed and removed.
// Every operation that talks to an array makes its own array object and
// drops it before it returns; no connection is shared or kept.
#include "SnapArrayDRReplDataMgr.h"

#include <strings.h>

#include "array/ManageONTAP.h"
#include "drorch/DRJobManager.h"
#include "engine/DRHelper.h"
#include "engine/ZnCriticalSectionLock.h"
#include "time/PlatformClock.h"

namespace {

const char kBrokenOff[] = "broken-off";
const char kSnapMirrored[] = "snapmirrored";
const char kIdle[] = "idle";

// The attempts of a break or re-sync: 10 more after the first, 30 s apart.
const int kVolumeActionRetries = 10;
const int kVolumeActionWaitSeconds = 30;

bool SameText(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// How the log names a relationship.
std::string Relationship(const SSMReplicaGroup& g) {
  return "Source  [" + g.getSourceVServer() + ":" + g.getSourceVolume() + "] Destination  [" + g.getDestVServer() +
         ":" + g.getDestVolume() + "] ";
}

}  // namespace

SSMReplicaGroup CSnapArrayDRReplDataMgr::Addressing(const SSMReplicaGroup& group) {
  ZnCriticalSectionLock lock(&m_snapLock);
  return group;
}

bool CSnapArrayDRReplDataMgr::ChangeRelationShipStatus(int copyId, SSMReplicaGroup& group,
                                                       Api::VirtualAppJobPhaseType phase, bool resyncOnBreakFailure) {
  const int groupCopy = Addressing(group).getCopyId();
  if (groupCopy != copyId) {
    m_event.Error("ChangeRelationShipStatus", "CopyId for SSMReplicaGroup [%d] doesn't match input copyId [%d]",
                  groupCopy, copyId);
    return false;
  }
  bool done = false;
  if (phase == Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP) {
    done = BreakVolumeRelationship(group, resyncOnBreakFailure);
  } else if (phase == Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP) {
    done = ReSyncVolumeRelationship(group);
  } else {
    return false;
  }
  if (done) UpdateRelationshipStatus(group);
  return done;
}

bool CSnapArrayDRReplDataMgr::Connect(const std::string& arrayName, int controlHostId, ManageONTAP& array) {
  NASSnapUtil util;
  util.Initialize();
  _NASArrayInfo entry;
  if (!util.GetArrayNameAndCredentialsByControlHostId(controlHostId, entry)) {
    m_event.Error("Connect", "Array Management entry for host [%s] not found.", arrayName.c_str());
    return false;
  }
  const montapConnectType kind = MONTAP_CONNECT_MANAGEMENT;
  const bool flag = false;
  util.SetONTAPObject(entry, array, kind, flag);
  m_event.Error("Connect", "Opening connection to array [%s]", array.GetFileServerName());
  if (!array.OpenConnection()) {
    m_event.Error("Connect", "Warning: Could not connect to array [%s]", array.GetFileServerName());
  }
  return true;
}

bool CSnapArrayDRReplDataMgr::BreakVolumeRelationship(SSMReplicaGroup& group, bool resyncOnFailure) {
  SSMReplicaGroup g = Addressing(group);
  ManageONTAP array;
  if (!Connect(g.getTargetArray(), g.getDestCntrlHostId(), array)) return false;
  const std::string vserver = array.GetVserverName();
  if (!vserver.empty()) {
    // The path stays: the relationship is still read by the path it was
    // loaded with.
    ZnCriticalSectionLock lock(&m_snapLock);
    group.SetDestVServer(vserver);
    g.SetDestVServer(vserver);
  }
  _SVSMRelationshipProgressInfo info;
  if (!array.GetSnapMirrorInfoCMode(info, g.getDestPath())) {
    m_event.Error("BreakVolumeRelationship", "Error fetching Relationship info => %s", Relationship(g).c_str());
    return false;
  }
  m_event.Debug("BreakVolumeRelationship", "Attempting to break Relationship => %s", Relationship(g).c_str());
  if (PerformVolumeAction(array, info, g.getDestVolume(), g.getDestVServer(),
                          Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP, kVolumeActionRetries,
                          kVolumeActionWaitSeconds, g.getDestPath())) {
    m_event.Debug("BreakVolumeRelationship", "Break successful for Relationship %s", Relationship(g).c_str());
    group.SetRelationshipStatus(VOLUME_RELATIONSHIP_BROKEN);
    return true;
  }
  m_event.Error("BreakVolumeRelationship", "Error breaking Relationship => %s", Relationship(g).c_str());
  if (resyncOnFailure) {
    if (!ReSyncVolumeRelationship(group)) {
      m_event.Debug("BreakVolumeRelationship", "[WARNING] Failed to re-establish Relationship => %s",
                    Relationship(g).c_str());
    }
    group.SetRelationshipStatus(VOLUME_RELATIONSHIP_NORMAL);
  }
  return false;
}

bool CSnapArrayDRReplDataMgr::ReSyncVolumeRelationship(SSMReplicaGroup& group) {
  const SSMReplicaGroup g = Addressing(group);
  ManageONTAP array;
  if (!Connect(g.getTargetArray(), g.getDestCntrlHostId(), array)) return false;
  m_event.Debug("ReSyncVolumeRelationship", "Attempting to Re-Sync Relationship => %s", Relationship(g).c_str());
  _SVSMRelationshipProgressInfo info;
  if (!array.GetSnapMirrorInfoCMode(info, g.getDestPath())) {
    m_event.Error("ReSyncVolumeRelationship", "Error fetching Relationship info => %s", Relationship(g).c_str());
    return false;
  }
  if (SameText(info.mirrorState, kBrokenOff)) {
    if (!PerformVolumeAction(array, info, g.getDestVolume(), g.getDestVServer(),
                             Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, kVolumeActionRetries,
                             kVolumeActionWaitSeconds, g.getDestPath())) {
      m_event.Error("ReSyncVolumeRelationship", "Error on Resync-Relationship => %s", Relationship(g).c_str());
      return false;
    }
    m_event.Debug("ReSyncVolumeRelationship", "Re-Sync successful for Relationship %s", Relationship(g).c_str());
    group.SetRelationshipStatus(VOLUME_RELATIONSHIP_NORMAL);
    return true;
  }
  if (SameText(info.mirrorState, kSnapMirrored)) {
    m_event.Debug("ReSyncVolumeRelationship",
                  "Relationship status is [snapmirrored] for dest volume [%s]. Not attempting re-sync. Marking op "
                  "[SUCCESS]",
                  g.getDestVolume().c_str());
    group.SetRelationshipStatus(VOLUME_RELATIONSHIP_NORMAL);
    return true;
  }
  m_event.Debug("ReSyncVolumeRelationship",
                "Relationship status is [%s] for dest volume [%s]. Cannot proceed with re-sync. Marking op [FAILURE]",
                info.mirrorState.c_str(), g.getDestVolume().c_str());
  return false;
}

bool CSnapArrayDRReplDataMgr::PerformVolumeAction(ManageONTAP& array, _SVSMRelationshipProgressInfo& info,
                                                  const std::string& destVolume, const std::string& destVServer,
                                                  Api::VirtualAppJobPhaseType phase, int retries, int waitSeconds,
                                                  const std::string& destPath) {
  for (int left = retries;; --left) {
    bool done = false;
    if (SameText(info.relationshipStatus, kIdle)) {
      if (phase == Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP) {
        done = array.SMBreakRelationshipCMode(destVolume, destVServer);
      } else if (phase == Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP) {
        done = array.SMResyncRelationshipCMode(destVolume, destVServer);
      }
    } else {
      m_event.Debug("PerformVolumeAction", "Relationship Status isn't IDLE");
    }
    if (done) return true;
    if (m_jobManager != nullptr && m_jobManager->IsQuitFlagSet()) {
      m_event.Error("PerformVolumeAction", "Quit flag set. Failing DR VOLUME ACTION");
      return false;
    }
    if (left <= 0) {
      m_event.Error("PerformVolumeAction", "Exhausted retries for DR VOLUME ACTION. Failing Operation");
      return false;
    }
    m_event.Debug("PerformVolumeAction", "Waiting [%d] seconds before (re)trying DR VOLUME ACTION ...", waitSeconds);
    CPlatformClock::Instance().Sleep(static_cast<uint64_t>(waitSeconds) * 1000, "PerformVolumeAction");
    // A read that fails leaves nothing to act on: the next attempt makes no
    // call.
    if (!array.GetSnapMirrorInfoCMode(info, destPath)) info.Clear();
  }
}

void CSnapArrayDRReplDataMgr::UpdateRelationshipStatus(SSMReplicaGroup& group) {
  const E_VOLUME_RELATIONSHIP_STATUS status = group.GetRelationshipStatus();
  if (status == VOLUME_RELATIONSHIP_NOT_RECORDED) return;
  ZnCriticalSectionLock lock(&m_snapLock);
  for (int replId : group.ReplicationIds()) {
    SnapDRRepInfo* rep = Find(replId);
    if (rep != nullptr) rep->SetVolumeRelationshipStatus(group.getReplicaGroupId(), status);
  }
}

bool CSnapArrayDRReplDataMgr::IsRelationshipBroken(SSMReplicaGroup& group, bool& broken) {
  const SSMReplicaGroup g = Addressing(group);
  ManageONTAP array;
  if (!Connect(g.getTargetArray(), g.getDestCntrlHostId(), array)) return false;
  m_event.Debug("IsRelationshipBroken", "Fetching Relationship info => %s", Relationship(g).c_str());
  _SVSMRelationshipProgressInfo info;
  if (!array.GetSnapMirrorInfoCMode(info, g.getDestPath())) {
    m_event.Error("IsRelationshipBroken", "Error fetching Relationship info => %s", Relationship(g).c_str());
    return false;
  }
  broken = false;
  if (SameText(info.mirrorState, kBrokenOff)) {
    m_event.Debug("IsRelationshipBroken", "Relationship status broken. Relationship info => %s",
                  Relationship(g).c_str());
    group.SetRelationshipStatus(VOLUME_RELATIONSHIP_BROKEN);
    broken = true;
  }
  return true;
}

bool CSnapArrayDRReplDataMgr::GetBrokenRelationshipCount(SnapDRContext& ctx, SDataSourceInfo& info, int& count) {
  if (!QuerySnapReplicaInfo(ctx)) return false;
  std::map<int, SSMReplicaGroup*> groups;
  GetReplicaGroups(info, groups);
  for (auto& entry : groups) {
    bool broken = false;
    if (!IsRelationshipBroken(*entry.second, broken)) {
      m_event.Error("GetBrokenRelationshipCount", "Error querying for broken relations");
      return false;
    }
    if (broken) ++count;
  }
  m_event.Debug("GetBrokenRelationshipCount",
                "[%d] out of [%zu] volume relationships broken for replList [%s] vms in copyId [%d]", count,
                groups.size(), DRHelper::GetCollCSVStr(info.replIds).c_str(), ctx.copyId);
  return true;
}

bool CSnapArrayDRReplDataMgr::GetMappedLuns(ManageONTAP& array, SSMReplicaGroup& group,
                                            std::vector<std::string>& luns) {
  const std::string volume = Addressing(group).getDestVolume();
  if (!array.GetAllMappedLUNs(volume, luns)) {
    m_event.Error("GetMappedLuns", "Error querying lun mapping for volume [%s]", volume.c_str());
    return false;
  }
  m_event.Debug("GetMappedLuns", "[%zu] LUN(s) are mapped for volume [%s]", luns.size(), volume.c_str());
  for (const std::string& lun : luns) m_event.Debug("GetMappedLuns", "LUN [%s] is mapped", lun.c_str());
  return true;
}

bool CSnapArrayDRReplDataMgr::VerifyLUNMapping(SSMReplicaGroup& group, bool unmap) {
  const SSMReplicaGroup g = Addressing(group);
  ManageONTAP array;
  if (!Connect(g.getTargetArray(), g.getDestCntrlHostId(), array)) return false;
  std::vector<std::string> luns;
  if (!GetMappedLuns(array, group, luns)) {
    m_event.Error("VerifyLUNMapping", "Error verifying lun mapping for volume [%s]", g.getDestVolume().c_str());
    return false;
  }
  size_t remaining = luns.size();
  if (unmap && remaining >= 1) {
    m_event.Debug("VerifyLUNMapping", "Attempting to unmap mapped LUN(s) for volume [%s]", g.getDestVolume().c_str());
    for (const std::string& lun : luns) {
      if (array.UnAssignLunFromAllInitiators(lun)) {
        m_event.Debug("VerifyLUNMapping", "Successfully unmapped LUN [%s]", lun.c_str());
        --remaining;
      } else {
        m_event.Error("VerifyLUNMapping", "Failed to unmap LUN [%s]", lun.c_str());
      }
    }
  }
  return remaining == 0;
}
