// Hypervisor snapshots of the source VMs and the DR VMs: which snapshot, on
// which site, under which name and reference. A snapshot step records the
// snapshot on each machine's replication record first (LoadSnapshotInfo);
// the request of a machine then takes the first record of the step's site
// and kind, so a routine that tries several snapshots in turn removes the
// record of each attempt that is over before it makes the next.
#include <ctype.h>

#include <algorithm>
#include <string>
#include <vector>

#include "VSADRBase.h"
#include "VSARepInfo.h"
#include "VSAReplDataMgr.h"
#include "db/ZNGlobalParam.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRConstants.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "services/DRAppManager.h"

namespace {

const int kSourceSnapshot = 1;
const int kFailoverSnapshot = 2;
const int kPointInTimeSnapshot = 3;
const int kReplicaSyncDirectSnapshot = 4;

// The steps of a routine take the snapshot reference from the stored
// property while it lives; it is cleared however the routine returns.
class CStoredSnapRefScope {
 public:
  explicit CStoredSnapRefScope(SDROperationCtx& ctx) : m_ctx(ctx) { m_ctx.useStoredSnapRef = true; }
  ~CStoredSnapRefScope() { m_ctx.useStoredSnapRef = false; }
  CStoredSnapRefScope(const CStoredSnapRefScope&) = delete;
  CStoredSnapRefScope& operator=(const CStoredSnapRefScope&) = delete;

 private:
  SDROperationCtx& m_ctx;
};

// The piece after the last "_" (the whole name without one).
std::string LastPiece(const std::string& name) {
  const size_t at = name.rfind('_');
  return at == std::string::npos ? name : name.substr(at + 1);
}

// A copy of the context holding only the machine.
SDROperationCtx OneMachine(const SDROperationCtx& ctx, CDRInfo* info) {
  SDROperationCtx one(ctx);
  one.drInfoList.assign(1, info);
  return one;
}

}  // namespace

bool CVSADRBase::SnapOp(SDROperationCtx& ctx, Api::VirtualAppJobPhaseType phase, const std::string& name,
                        const std::string& moref, bool succeededOnly) {
  ctx.phase = phase;
  LoadOperationConfig(ctx);
  LoadSnapshotInfo(ctx, name, moref);
  return m_orchestrator->RunOperation(*this, ctx, succeededOnly);
}

bool CVSADRBase::LoadSnapshotInfo(SDROperationCtx& ctx, const std::string& name, const std::string& moref) {
  for (CDRInfo* info : ctx.drInfoList) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr) continue;
    SDRSnapshotInfo snapshot;
    snapshot.site = ctx.site;
    snapshot.snapType = ctx.snapType;
    snapshot.snapName = name;
    snapshot.snapRef = moref;
    vsa->addSnapshotInfo(snapshot);
  }
  return true;
}

bool CVSADRBase::PopulateSnapshotInfo(SDROperationCtx& ctx, SDRSnapshotInfo*& out) {
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr) return false;
  SDRSnapshotInfo key;
  key.replId = vsa->GetReplId();
  key.site = ctx.site;
  key.snapType = ctx.snapType;
  SDRSnapshotInfo* found = vsa->getSnapshotInfo(key);
  if (found == nullptr) return false;
  out = found;
  return true;
}

bool CVSADRBase::CanSkipFailoverSnapshot() {
  int value = -1;
  if (ZNGlobalParam::get("bSkipFailoverSnapshotCreation", value) && value == 1) {
    m_event.Debug("CanSkipFailoverSnapshot", "bSkipFailoverSnapshotCreation set [true] ");
    return true;
  }
  return false;
}

// ---- Failover snapshots of the DR VMs ---------------------------------------

bool CVSADRBase::CreateFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  if (CanSkipFailoverSnapshot()) return true;
  int counted = 0;
  const std::vector<CDRInfo*> list = ctx.drInfoList;
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa != nullptr && !vsa->GetDestinationSnapMorefProp().empty()) {
      m_event.Debug("CreateFailoverSnapshots",
                    "OB_FAILOVER snapshot already exists with moref [%s]. Skip creating new one",
                    vsa->GetDestinationSnapMorefProp().c_str());
      ++counted;
      continue;
    }
    ctx.site = Api::DR_SITE_DESTINATION;
    ctx.snapType = kFailoverSnapshot;
    SDROperationCtx one = OneMachine(ctx, info);
    if (SnapOp(one, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, FAILOVER_SNAPSHOT_NAME, "", succeededOnly)) ++counted;
  }
  return list.empty() || counted > 0;
}

bool CVSADRBase::RevertFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.snapType = kFailoverSnapshot;
  CStoredSnapRefScope stored(ctx);
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr || vsa->GetDestinationSnapMorefProp().empty()) return false;
  return SnapOp(ctx, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, FAILOVER_SNAPSHOT_NAME, "", succeededOnly);
}

bool CVSADRBase::DeleteFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.snapType = kFailoverSnapshot;
  CStoredSnapRefScope stored(ctx);
  m_event.Debug("DeleteFailoverSnapshots", "Deleting failover snapshots for DR VMs in replication list [%s] if exists",
                DRInfoUtils::GetReplStr(ctx.drInfoList).c_str());
  int attempts = 0;
  int deleted = 0;
  const std::vector<CDRInfo*> list = ctx.drInfoList;
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr || vsa->GetDestinationSnapMorefProp().empty()) continue;
    ++attempts;
    SDROperationCtx one = OneMachine(ctx, info);
    if (!SnapOp(one, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, FAILOVER_SNAPSHOT_NAME, "", succeededOnly)) continue;
    if (KeepsDeletedSnapshotReference(one, info)) {
      ++deleted;
      continue;
    }
    m_appManager->RemoveVSAPropTblProperty(VSARepInfo::kPropDestSnapMoref, info->GetReplId());
    // The record goes on holding what the store held when it was loaded: a
    // later clean-up of the same job (the stale snapshots' after a kill)
    // would revert and delete the snapshot again, and fail the machine for
    // a snapshot already gone.
    vsa->RemoveProperty(VSARepInfo::kPropDestSnapMoref);
    ++deleted;
  }
  return attempts == 0 || deleted > 0;
}

bool CVSADRBase::KeepsDeletedSnapshotReference(const SDROperationCtx& ctx, CDRInfo* info) {
  // A suspended job records no phase: a step's delete may leave its row in
  // progress, and without the reference the restart would not look at the
  // snapshot again, nor close that row. It names a snapshot that is gone,
  // which nothing can revert to; the restart finds it gone and removes it.
  // A clean-up's delete undoes what this attempt took: the restart takes it
  // anew, which a reference left would stop.
  if (!IsSuspendRequested(ctx)) return false;
  m_event.Debug("KeepsDeletedSnapshotReference",
                "DR job [%lld] is suspended; the reference of the snapshot deleted for replication [%d] is left for "
                "its restart to remove",
                static_cast<long long>(m_jobId), info != nullptr ? info->GetReplId() : 0);
  return true;
}

bool CVSADRBase::CleanupFailoverSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  RevertFailoverSnapshots(ctx, succeededOnly);
  return DeleteFailoverSnapshots(ctx, succeededOnly);
}

void CVSADRBase::CleanupStaleFailoverSnapshots(std::vector<CDRInfo*> list) {
  if (!m_jobManager->IsJobKillIssued()) return;
  for (CDRInfo* info : list) {
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa == nullptr || vsa->GetFailoverStatus() != App::VSA_FAILOVER_STATUS_FAILOVER_FAILED) continue;
    SDROperationCtx ctx;
    ctx.drInfoList.assign(1, info);
    ctx.priority = info->GetPriority();
    // The job was killed: its quit flag stands, and a clean-up that heeded
    // it would never run a step.
    ctx.ignoreQuit = true;
    CleanupFailoverSnapshots(ctx, false);
  }
}

// ---- The source VM's snapshot -----------------------------------------------

bool CVSADRBase::RevertSourceVMSnapshot(SDROperationCtx& ctx, bool succeededOnly) {
  ctx.site = Api::DR_SITE_SOURCE;
  ctx.snapType = kSourceSnapshot;
  CStoredSnapRefScope stored(ctx);
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr || vsa->GetSourceSnapMorefProp().empty()) return true;
  return SnapOp(ctx, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, SNAPSHOT_NAME, "", succeededOnly);
}

bool CVSADRBase::DeleteSourceVMSnapshot(SDROperationCtx& ctx, bool succeededOnly) {
  ctx.site = Api::DR_SITE_SOURCE;
  ctx.snapType = kSourceSnapshot;
  CStoredSnapRefScope stored(ctx);
  VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
  if (vsa == nullptr || vsa->GetSourceSnapMorefProp().empty()) return true;
  const std::vector<CDRInfo*> list = ctx.drInfoList;
  const bool ok = SnapOp(ctx, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, SNAPSHOT_NAME, "", succeededOnly);
  if (!ok && IsQuitRequested(ctx)) {
    // A kill or a suspend halted the step before it reached the
    // hypervisor: the snapshot is still there, and so stays its reference,
    // for what takes the machine next to revert to and delete (a revert's
    // source was reverted to it already). The source is still off: neither
    // the revert nor the undo starts it before this step. Without the
    // reference the snapshot would stay on the source for good.
    m_event.Debug("DeleteSourceVMSnapshot",
                  "Delete halted by the quit flag. Keeping the source snapshot reference of [%s]",
                  DRInfoUtils::GetReplStr(list).c_str());
    return false;
  }
  // Also after a failed delete: a reference left behind could later revert
  // a production VM to an old snapshot. The record follows the store, so
  // that a source is not started while its reference stands.
  for (CDRInfo* info : list) {
    if (info == nullptr || (ok && KeepsDeletedSnapshotReference(ctx, info)) ||
        !m_appManager->RemoveVSAPropTblProperty(VSARepInfo::kPropSourceSnapMoref, info->GetReplId())) {
      continue;
    }
    VSARepInfo* removed = GetVSARepInfo(info);
    if (removed != nullptr) removed->RemoveProperty(VSARepInfo::kPropSourceSnapMoref);
  }
  return ok;
}

bool CVSADRBase::CleanupSourceVMSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  return RevertSourceVMSnapshot(ctx, succeededOnly) && DeleteSourceVMSnapshot(ctx, succeededOnly);
}

bool CVSADRBase::DropEarlierSourceSnapshotReference(CDRInfo* info) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || vsa->GetSourceSnapMorefProp().empty()) return true;
  const std::string moref = vsa->GetSourceSnapMorefProp();
  const std::string type = DRHelper::GetDrTypeStr(m_orchestrator->GetDRType());
  if (!m_appManager->RemoveVSAPropTblProperty(VSARepInfo::kPropSourceSnapMoref, info->GetReplId())) {
    m_event.Error("DropEarlierSourceSnapshotReference",
                  "Cannot remove the source snapshot reference [%s] of replication [%d], which an earlier DR job left. "
                  "A DR job of type [%s] does not take the machine while it stands",
                  moref.c_str(), info->GetReplId(), type.c_str());
    return false;
  }
  vsa->RemoveProperty(VSARepInfo::kPropSourceSnapMoref);
  m_event.Debug("DropEarlierSourceSnapshotReference",
                "Dropped the source snapshot reference [%s] of replication [%d], which an earlier DR job left: once a "
                "DR job of type [%s] takes the machine, no revert or undo goes back to that snapshot",
                moref.c_str(), info->GetReplId(), type.c_str());
  return true;
}

void CVSADRBase::DropEarlierSourceSnapshotReferences(SDROperationCtx& ctx) {
  for (CDRInfo* info : std::vector<CDRInfo*>(ctx.drInfoList)) {
    if (info == nullptr || DropEarlierSourceSnapshotReference(info)) continue;
    // The reference would outlive what the group's steps do to the source:
    // the machine goes no further.
    ctx.drInfoList.erase(std::remove(ctx.drInfoList.begin(), ctx.drInfoList.end(), info), ctx.drInfoList.end());
    if (ctx.subclient == nullptr) continue;
    std::vector<CDRInfo*>& input = ctx.subclient->GetInputList();
    input.erase(std::remove(input.begin(), input.end(), info), input.end());
  }
}

// ---- Backup snapshots an earlier attempt left ---------------------------------

bool CVSADRBase::DeleteEarlierBackupSnapshots(SDROperationCtx& ctx, Api::DRSite site, bool succeededOnly) {
  CDRInfo* info = ctx.GetInfo();
  if (info == nullptr) return true;
  ctx.site = site;
  ctx.snapType = kSourceSnapshot;
  // The snapshots listed are the first VM's: only that VM is sent them.
  SDROperationCtx one = OneMachine(ctx, info);
  std::vector<EVGui::VMSnapshot> snapshots;
  if (!GetSnapshotsListForVM(one, info, snapshots)) return true;
  std::vector<EVGui::VMSnapshot> earlier;
  for (const EVGui::VMSnapshot& snapshot : snapshots) {
    if (snapshot.GetString(EVGui::VMSnapshot::kName) == SNAPSHOT_NAME) earlier.push_back(snapshot);
  }
  if (earlier.empty()) return true;
  m_event.Debug("DeleteEarlierBackupSnapshots",
                "Replacing [%zu] backup snapshot(s) an earlier run left on the VM at site [%s] of replication [%d]",
                earlier.size(), DRHelper::GetSiteStr(site).c_str(), info->GetReplId());
  for (const EVGui::VMSnapshot& snapshot : earlier) {
    const bool deleted = SnapOp(one, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, SNAPSHOT_NAME,
                                snapshot.GetString(EVGui::VMSnapshot::kReference), succeededOnly);
    // The attempt's record goes, deleted or not: the backup snapshot taken
    // next is asked for under its own.
    SDRSnapshotInfo* record = nullptr;
    VSARepInfo* vsa = GetVSARepInfo(info);
    if (vsa != nullptr && PopulateSnapshotInfo(one, record)) {
      SDRSnapshotInfo done = *record;
      vsa->removeSnapshotInfo(done);
    }
    if (!deleted) return false;
  }
  return true;
}

// ---- Listing ------------------------------------------------------------------

bool CVSADRBase::GetSnapshotsListForVM(SDROperationCtx& ctx, CDRInfo* info, std::vector<EVGui::VMSnapshot>& out) {
  if (info == nullptr) return false;
  const std::string guid = DRInfoUtils::GetSitePropStr(info, DR_SITE_PROPERTY_GUID, ctx.site);
  EVGui::DiscoverVMDetailsReq request;
  request.SetInt32(EVGui::DiscoverVMDetailsReq::kDiscover, 1);
  request.MutableMsg(EVGui::DiscoverVMDetailsReq::kInstance)
      .SetInt64(ZnEntities::AppInstanceEntity::kInstanceId,
                DRInfoUtils::GetSiteProp(info, DR_SITE_PROPERTY_INSTANCE_ID, ctx.site));
  request.AddMsg(EVGui::DiscoverVMDetailsReq::kGuestHosts).SetString(EVGui::GuestHost::kGuid, guid);
  EVGui::DiscoverVMDetailsResp response;
  std::string xml, error;
  if (!m_appManager->GetTaskResponse(request, response, EVGui::DiscoverVMDetailsReq::kTypeId, xml, error, ZN_OP_NONE)) {
    m_event.Error("GetSnapshotsListForVM", "Failed to query DiscoverVMDetailsReq [%s]", error.c_str());
    return false;
  }
  for (size_t i = 0; i < response.ListSize(EVGui::DiscoverVMDetailsResp::kGuestHosts); ++i) {
    const CNMessageBase& host = response.GetListMsg(EVGui::DiscoverVMDetailsResp::kGuestHosts, i);
    if (host.GetString(EVGui::GuestHost::kGuid) != guid || host.ListSize(EVGui::GuestHost::kSnapshots) == 0) continue;
    out.clear();
    for (size_t s = 0; s < host.ListSize(EVGui::GuestHost::kSnapshots); ++s) {
      out.push_back(host.GetListMsgAs<EVGui::VMSnapshot>(EVGui::GuestHost::kSnapshots, s));
    }
    m_event.Debug("GetSnapshotsListForVM", "Found [%zu] snapshots for vm [%s]", out.size(), guid.c_str());
    return true;
  }
  m_event.Debug("GetSnapshotsListForVM", "No snapshots retrived for vm [%s]", guid.c_str());
  return false;
}

// ---- Point-in-time snapshots of the DR VMs ------------------------------------

bool CVSADRBase::IsPointInTimeSnapshotName(const std::string& name) {
  // As atoi reads the piece, without its overflow: leading blanks, a sign,
  // then digits; the value is not 0 when one of those digits is not.
  const std::string piece = LastPiece(name);
  size_t at = 0;
  while (at < piece.size() && isspace(static_cast<unsigned char>(piece[at]))) ++at;
  if (at < piece.size() && (piece[at] == '+' || piece[at] == '-')) ++at;
  for (; at < piece.size() && isdigit(static_cast<unsigned char>(piece[at])); ++at) {
    if (piece[at] != '0') return true;
  }
  return false;
}

bool CVSADRBase::RevertPointInTimeDestinationVMSnapshot(SDROperationCtx& ctx, unsigned long& pointInTime,
                                                        bool succeededOnly) {
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.snapType = kPointInTimeSnapshot;
  CDRInfo* first = ctx.GetInfo();
  const std::string guid = DRInfoUtils::GetSitePropStr(first, DR_SITE_PROPERTY_GUID, ctx.site);
  const std::string site = DRHelper::GetSiteStr(ctx.site);
  m_event.Debug("RevertPointInTimeDestinationVMSnapshot", "Querying PIT snapshots to revert for VM [%s] on SITE [%s]",
                guid.c_str(), site.c_str());
  std::vector<EVGui::VMSnapshot> snapshots;
  if (first != nullptr && GetSnapshotsListForVM(ctx, first, snapshots)) {
    // The snapshots listed are this VM's: no other machine may be sent them.
    SDROperationCtx one = OneMachine(ctx, first);
    const std::string moref = RevertToPointInTimeSnapshot(one, snapshots, pointInTime, succeededOnly);
    CVSAReplDataMgr* manager = GetVSARepInfo(first) != nullptr ? GetVSADataManager(first) : nullptr;
    if (!moref.empty() && manager != nullptr) {
      manager->UpdateReplPropTbl(first->GetReplId(), VSARepInfo::kPropPitSnapshotId, moref, false);
      return true;
    }
    // The time names none of the DR VM's snapshots: only another time can
    // take the machine.
    const std::string wanted = std::to_string(pointInTime);
    if (std::none_of(snapshots.begin(), snapshots.end(), [&wanted](const EVGui::VMSnapshot& snapshot) {
          return LastPiece(snapshot.GetString(EVGui::VMSnapshot::kName)) == wanted;
        })) {
      first->SetNeededOption(EMachineOption::kPointInTimeSnapshot);
    }
  }
  m_event.Debug("RevertPointInTimeDestinationVMSnapshot",
                "Failed to get PIT [%lu] snapshot to revert for VM [%s] on SITE [%s]", pointInTime, guid.c_str(),
                site.c_str());
  return false;
}

std::string CVSADRBase::RevertToPointInTimeSnapshot(SDROperationCtx& ctx, std::vector<EVGui::VMSnapshot>& snapshots,
                                                    unsigned long& pointInTime, bool succeededOnly) {
  const std::string wanted = std::to_string(pointInTime);
  // The filter of machines that failed earlier steps applies to the first
  // attempt; a later attempt must not drop a machine for the failed revert
  // of the attempt before it.
  bool filter = succeededOnly;
  std::vector<CDRInfo*> machines = ctx.drInfoList;
  for (const EVGui::VMSnapshot& snapshot : snapshots) {
    const std::string name = snapshot.GetString(EVGui::VMSnapshot::kName);
    if (LastPiece(name) != wanted) continue;
    const std::string moref = snapshot.GetString(EVGui::VMSnapshot::kReference);
    SDROperationCtx attempt(ctx);
    attempt.drInfoList = machines;
    const bool reverted = SnapOp(attempt, Api::VIRTUAL_APP_PHASE_REVERT_SNAPSHOT, name, moref, filter);
    if (filter) {
      machines = attempt.drInfoList;
      filter = false;
    }
    if (reverted) return moref;
    m_event.Error("RevertToPointInTimeSnapshot", "Revert to snapshot [%s] [%s] failed. Trying the next one",
                  name.c_str(), moref.c_str());
    // The failed attempt's record would be found first by the next one.
    for (CDRInfo* info : machines) {
      VSARepInfo* vsa = GetVSARepInfo(info);
      if (vsa == nullptr) continue;
      SDRSnapshotInfo key;
      key.replId = vsa->GetReplId();
      key.site = ctx.site;
      key.snapType = ctx.snapType;
      vsa->removeSnapshotInfo(key);
    }
  }
  return std::string();
}

bool CVSADRBase::DeletePointInTimeDestinationVMSnapshots(SDROperationCtx& ctx, bool succeededOnly) {
  ctx.site = Api::DR_SITE_DESTINATION;
  ctx.snapType = kPointInTimeSnapshot;
  const std::string replStr = DRInfoUtils::GetReplStr(ctx.drInfoList);
  m_event.Debug("DeletePointInTimeDestinationVMSnapshots",
                "Deleting point in time snapshots for DR VMs in replication list [%s] if exists", replStr.c_str());
  int counted = 0;
  int deleted = 0;
  const std::vector<CDRInfo*> list = ctx.drInfoList;
  for (CDRInfo* info : list) {
    if (info == nullptr) continue;
    SDROperationCtx one = OneMachine(ctx, info);
    std::vector<EVGui::VMSnapshot> snapshots;
    if (!GetSnapshotsListForVM(one, info, snapshots)) continue;
    ++counted;
    const unsigned long any = 0;
    if (!DeletePointInTimeSnapshots(one, snapshots, any, succeededOnly)) continue;
    m_appManager->RemoveVSAPropTblProperty(VSARepInfo::kPropPitSnapshotId, info->GetReplId());
    ++deleted;
  }
  m_event.Debug("DeletePointInTimeDestinationVMSnapshots",
                "Deleted [%d]/[%d] PIT snapshots for DR VM(s) in replication list [%s]", deleted, counted,
                replStr.c_str());
  return deleted == counted;
}

bool CVSADRBase::DeletePointInTimeSnapshots(SDROperationCtx& ctx, std::vector<EVGui::VMSnapshot>& snapshots,
                                            const unsigned long&, bool succeededOnly) {
  int attempts = 0;
  int deleted = 0;
  for (const EVGui::VMSnapshot& snapshot : snapshots) {
    const std::string name = snapshot.GetString(EVGui::VMSnapshot::kName);
    if (!IsPointInTimeSnapshotName(name)) continue;
    ++attempts;
    if (!SnapOp(ctx, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, name, snapshot.GetString(EVGui::VMSnapshot::kReference),
                succeededOnly)) {
      return false;
    }
    SDRSnapshotInfo* record = nullptr;
    VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
    if (vsa != nullptr && PopulateSnapshotInfo(ctx, record)) {
      SDRSnapshotInfo done = *record;
      vsa->removeSnapshotInfo(done);
    }
    ++deleted;
  }
  return attempts == deleted;
}

// ---- Replica-sync-direct snapshots --------------------------------------------

bool CVSADRBase::DeleteSnapshotsForReplicaSyncDirect(SDROperationCtx& ctx, bool unused, bool succeededOnly) {
  CDRInfo* first = ctx.GetInfo();
  const std::string guid = DRInfoUtils::GetSitePropStr(first, DR_SITE_PROPERTY_GUID, ctx.site);
  const std::string site = DRHelper::GetSiteStr(ctx.site);
  m_event.Debug("DeleteSnapshotsForReplicaSyncDirect", "Querying snapshots for vm [%s] on SITE [%s]", guid.c_str(),
                site.c_str());
  ctx.snapType = kReplicaSyncDirectSnapshot;
  if (first == nullptr) return false;
  // The snapshots listed are the first VM's: only that VM is sent their
  // names and references, whatever else the context holds.
  SDROperationCtx one = OneMachine(ctx, first);
  std::vector<EVGui::VMSnapshot> snapshots;
  if (!GetSnapshotsListForVM(one, first, snapshots) || !DeleteSnapshots(one, snapshots, unused, succeededOnly)) {
    return false;
  }
  m_event.Debug("DeleteSnapshotsForReplicaSyncDirect", "Successfully deleted [%zu] snapshots for vm [%s] on SITE [%s]",
                snapshots.size(), guid.c_str(), site.c_str());
  return true;
}

bool CVSADRBase::DeleteSnapshots(SDROperationCtx& ctx, std::vector<EVGui::VMSnapshot>& snapshots, bool,
                                 bool succeededOnly) {
  for (const EVGui::VMSnapshot& snapshot : snapshots) {
    if (!SnapOp(ctx, Api::VIRTUAL_APP_PHASE_DELETE_SNAPSHOT, snapshot.GetString(EVGui::VMSnapshot::kName),
                snapshot.GetString(EVGui::VMSnapshot::kReference), succeededOnly)) {
      return false;
    }
    SDRSnapshotInfo* record = nullptr;
    VSARepInfo* vsa = GetVSARepInfo(ctx.GetInfo());
    if (vsa != nullptr && PopulateSnapshotInfo(ctx, record)) {
      SDRSnapshotInfo done = *record;
      vsa->removeSnapshotInfo(done);
    }
  }
  return true;
}
