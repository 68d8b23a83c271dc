// The management server's answers about storage-array replications: the
// replication read and write requests, the archive-files and replica-group
// report procedures, and the replication source.
#include "array/ArrayLab.h"

#include <algorithm>

#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ReplicaGroupReportStore.h"
#include "array/SnapReplicationStore.h"
#include "array/VolumeSnapStore.h"
#include "db/App_ExecuteSP.h"
#include "db/DBProcRegistry.h"
#include "db/DBWriteScope.h"
#include "jobs/StandIns.h"
#include "jobsim/JobManagerRows.h"
#include "jobsim/JobSimulator.h"
#include "jobsim/SimJobStore.h"
#include "log/EvEvent.h"
#include "repl/ReplicationSources.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

int GroupOf(const CNMessageBase& entity) { return entity.GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId); }

int GetReplications(const std::string& request, std::string& response) {
  Api::GetSnapDRReplicationReq req;
  std::string error;
  if (!req.Unserialize(request, &error)) {
    EvDebug().Error("GetReplications", "Unreadable request: [%s]", error.c_str());
    return -1;
  }
  const int group = GroupOf(req.GetMsg(Api::GetSnapDRReplicationReq::kVirtualAppEntity));
  Api::GetSnapDRReplicationResp resp;
  resp.TouchField(Api::GetSnapDRReplicationResp::kReplications);
  for (size_t i = 0; i < req.ListSize(Api::GetSnapDRReplicationReq::kReplicationIds); ++i) {
    const int id = req.GetListInt32(Api::GetSnapDRReplicationReq::kReplicationIds, i);
    SSnapReplication stored;
    const EStoreResult read = CSnapReplicationStore::Get(id, stored);
    if (read == EStoreResult::kFailed) return -1;
    if (read == EStoreResult::kMissing || stored.drGroupId != group) continue;
    Info answered;
    if (CArrayLab::AnsweredReplication(id, answered) != EStoreResult::kOk) return -1;
    resp.AppendMsg(Api::GetSnapDRReplicationResp::kReplications, answered);
  }
  return resp.serializeUTF8(response) ? 0 : -1;
}

int SetReplications(const std::string& request, std::string& response) {
  Api::SetSnapDRReplicationReq req;
  std::string error;
  if (!req.Unserialize(request, &error)) {
    EvDebug().Error("SetReplications", "Unreadable request: [%s]", error.c_str());
    return -1;
  }
  const int group = GroupOf(req.GetMsg(Api::SetSnapDRReplicationReq::kVirtualAppEntity));
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return -1;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return -1;
  for (size_t i = 0; i < req.ListSize(Api::SetSnapDRReplicationReq::kReplications); ++i) {
    const Info& info = req.GetListMsgAs<Info>(Api::SetSnapDRReplicationReq::kReplications, i);
    const EStoreResult written = CSnapReplicationStore::Replace(group, info);
    if (written != EStoreResult::kOk) {
      EvDebug().Error("SetReplications", "DR group [%d] has no replication [%d] to store", group,
                      info.GetInt32(Info::kReplicationId));
      return -1;
    }
  }
  if (!scope.Commit()) return -1;
  App::GenericResp resp;
  resp.SetInt32(App::GenericResp::kErrorCode, 0);
  return resp.serializeUTF8(response) ? 0 : -1;
}

// The stand-in faults of a procedure: 1 when it is to fail (result set),
// -1 when it is to answer nothing, 0 to do its work.
int ProcedureFault(const char* name, SDBProcResult& result) {
  const EStandInFault fault = CStandIns::Fault(name);
  if (fault == EStandInFault::kFails || fault == EStandInFault::kErrorCode) {
    result.error = std::string("injected failure of ") + name;
    return 1;
  }
  return fault == EStandInFault::kEmptyAnswer ? -1 : 0;
}

SDBProcValue Number(long long n) { return SDBProcValue::Number(n); }

int ArchiveFiles(const std::vector<SDBProcValue>& in, SDBProcResult& result) {
  if (in.size() != 3) {
    result.error = "AppGetSnapDRArchiveFiles takes an application id, a copy id and a text";
    return -1;
  }
  Api::GetSnapDRAfiles req;
  std::string error;
  if (!req.Unserialize(in[2].text, &error)) {
    result.error = "unreadable input: " + error;
    return -1;
  }
  std::vector<long long> masters;
  for (size_t i = 0; i < req.ListSize(Api::GetSnapDRAfiles::kMasterJobIds); ++i) {
    masters.push_back(req.GetListInt64(Api::GetSnapDRAfiles::kMasterJobIds, i));
  }
  std::string masterText;
  for (long long id : masters) masterText += (masterText.empty() ? "" : ",") + std::to_string(id);
  const std::string args = "appId [" + std::to_string(in[0].AsInt()) + "] copyId [" +
                           std::to_string(in[1].AsInt()) + "] masterJobs [" + masterText + "] snapMount [" +
                           std::to_string(req.GetInt32(Api::GetSnapDRAfiles::kSnapMount)) + "]";
  const int fault = ProcedureFault(CArrayLab::kArchiveFiles, result);
  std::vector<SSnapAfile> afiles;
  if (fault == 0 && CAfileStore::OfMasterJobs(masters, afiles) != EStoreResult::kOk) {
    result.error = "cannot read the afiles";
    CArrayCallJournal::Record(0, CArrayLab::kArchiveFiles, args, ArrayAnswerText(EArrayAnswer::kFailed));
    return -1;
  }
  CArrayCallJournal::Record(0, CArrayLab::kArchiveFiles, args,
                            fault > 0 ? ArrayAnswerText(EArrayAnswer::kFault)
                                      : "ok [" + std::to_string(afiles.size()) + "]");
  if (fault > 0) return -1;
  for (const SSnapAfile& a : afiles) {
    result.rows.push_back({Number(a.masterJobId), SDBProcValue::Text(a.vmName), Number(a.afileId), Number(a.jobId),
                           Number(a.vmClientId), SDBProcValue::Text(a.vmGuid), Number(a.vmAppId),
                           Number(a.mountStatus), Number(a.mountHostId), Number(a.failoverMount ? 1 : 0)});
  }
  return 0;
}

int ReplicaGroupReport(const std::vector<SDBProcValue>& in, SDBProcResult& result) {
  TMMsg::Entity entity;
  std::string error;
  if (in.size() != 1 || !entity.Unserialize(in[0].text, &error)) {
    result.error = "MM_SMNetAppOpenReplReport takes one entity text: " + error;
    return -1;
  }
  const int fault = ProcedureFault(CArrayLab::kReplicaGroupReport, result);
  if (fault > 0) return -1;
  if (fault < 0) return 0;
  std::vector<SReplicaGroupRow> rows;
  if (CReplicaGroupReportStore::OfCopy(entity.GetInt32(TMMsg::Entity::kCopyId), rows) != EStoreResult::kOk) {
    result.error = "cannot read the replica groups";
    return -1;
  }
  for (const SReplicaGroupRow& r : rows) {
    std::vector<SDBProcValue> cells;
    for (const std::string& t : CReplicaGroupReportStore::Texts(r)) cells.push_back(SDBProcValue::Text(t));
    for (int n : CReplicaGroupReportStore::Numbers(r)) cells.push_back(Number(n));
    result.rows.push_back(cells);
  }
  return 0;
}

SSourcedReplication Sourced(const SSnapReplication& r) {
  SSourcedReplication s;
  s.replicationId = r.replicationId;
  s.sourceGuid = r.info.GetString(Info::kSourceVMGuid);
  s.sourceClientId = r.info.GetMsg(Info::kSourceEntity).GetInt32(ZnEntities::SubClientEntity::kClientId);
  s.failoverStatus = r.info.GetInt32(Info::kFailoverStatus);
  s.testFailoverStatus = r.info.GetInt32(Info::kTestFailoverStatus);
  return s;
}

// An aux copy that ended well brought the snapshots of the policy's
// successful backups that it copied to its copy: each becomes the last
// synced job of the copy's replications with an afile under it, oldest
// first so the newest stays the last synced job.
bool SnapshotsOfAuxCopy(const SChildJobRecord& copy) {
  if (copy.status != "Completed") return true;
  std::vector<SSnapReplication> reps;
  if (CSnapReplicationStore::OfCopy(copy.copyId, reps) != EStoreResult::kOk) return false;
  if (reps.empty()) return true;
  std::vector<SChildJobRecord> backups;
  if (CSimJobStore::SucceededBackupsOfPolicy(copy.storagePolicyId, backups) != EStoreResult::kOk) return false;
  std::sort(backups.begin(), backups.end(),
            [](const SChildJobRecord& a, const SChildJobRecord& b) { return a.jobId < b.jobId; });
  for (const SChildJobRecord& backup : backups) {
    bool held = false;
    if (CJobManagerRows::HoldsData(backup.jobId, copy.copyId, held) != EStoreResult::kOk) return false;
    std::vector<SChildJobRecord> children;
    if (!held && CSimJobStore::VMChildren(backup.jobId, children) != EStoreResult::kOk) return false;
    for (size_t i = 0; !held && i < children.size(); ++i) {
      if (CJobManagerRows::HoldsData(children[i].jobId, copy.copyId, held) != EStoreResult::kOk) return false;
    }
    if (held && !CArrayLab::SnapshotCopied(copy.copyId, backup.jobId)) return false;
  }
  return true;
}

}  // namespace

void CArrayLab::Register() {
  App_ExecuteSP::RegisterHandler(Api::GetSnapDRReplicationReq::kTypeId,
                                 [](const std::string& request, std::string& response) {
                                   return CStandIns::RunQuery(kGetReplications, request, response, GetReplications);
                                 });
  App_ExecuteSP::RegisterHandler(Api::SetSnapDRReplicationReq::kTypeId,
                                 [](const std::string& request, std::string& response) {
                                   return CStandIns::RunQuery(kSetReplications, request, response, SetReplications);
                                 });
  CDBProcRegistry::Register(kArchiveFiles, ArchiveFiles);
  CDBProcRegistry::Register(kReplicaGroupReport, ReplicaGroupReport);
  CVolumeSnapStore::Register();

  SReplicationSource snap;
  snap.ofTask = [](int, std::vector<SSourcedReplication>& out) {
    out.clear();  // storage-array replications are not synced by tasks
    return EStoreResult::kOk;
  };
  snap.ofSubclient = [](int subclientId, std::vector<SSourcedReplication>& out) {
    std::vector<SSnapReplication> reps;
    const EStoreResult read = CSnapReplicationStore::OfSubclient(subclientId, reps);
    if (read != EStoreResult::kOk) return read;
    out.clear();
    for (const SSnapReplication& r : reps) out.push_back(Sourced(r));
    return EStoreResult::kOk;
  };
  snap.get = [](int replicationId, SSourcedReplication& out) {
    SSnapReplication r;
    const EStoreResult read = CSnapReplicationStore::Get(replicationId, r);
    if (read == EStoreResult::kOk) out = Sourced(r);
    return read;
  };
  CReplicationSources::Register(kSourceKind, snap);

  CJobSimulator::SEndWriter copied;
  copied.type = EChildJobType::kAuxCopy;
  copied.write = SnapshotsOfAuxCopy;
  CJobSimulator::EndWriters().Register(kAuxCopyWriterName, copied);
}
