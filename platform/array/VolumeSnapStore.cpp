#include "array/VolumeSnapStore.h"

#include "jobsim/JobSimulator.h"
#include "jobsim/SimJobStore.h"
#include "jobsim/SimSql.h"

namespace {

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_VolumeSnaps (rowId INTEGER PRIMARY KEY AUTOINCREMENT,"
      " jobId INTEGER NOT NULL, volume TEXT NOT NULL, snapName TEXT NOT NULL)");
}

CDBConnection* Ready(const char* function) { return SimReady(function, CVolumeSnapStore::kTable, CreateTable); }

// A snap backup that did its work leaves one volume snapshot per VM.
bool WriteSnapBackup(const SChildJobRecord& backup) {
  if (backup.vmChild || !backup.snap || !CSimJobStore::IsSuccess(backup.status)) return true;
  for (int replicationId : backup.replicationIds) {
    SVolumeSnap snap;
    snap.jobId = backup.jobId;
    snap.volume = "vol-" + std::to_string(replicationId);
    snap.snapName = "SP_" + std::to_string(backup.jobId) + "_" + std::to_string(replicationId);
    if (!CVolumeSnapStore::Add(snap)) return false;
  }
  return true;
}

}  // namespace

bool CVolumeSnapStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CVolumeSnapStore::Add(const SVolumeSnap& snap) {
  CSimStatement s(Ready("Add"), "Add", "INSERT INTO PLT_VolumeSnaps (jobId, volume, snapName) VALUES (?, ?, ?)");
  s.Bind(snap.jobId).Bind(snap.volume).Bind(snap.snapName);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CVolumeSnapStore::OfJob(long long jobId, std::vector<SVolumeSnap>& out) {
  CSimStatement s(Ready("OfJob"), "OfJob",
                  "SELECT jobId, volume, snapName FROM PLT_VolumeSnaps WHERE jobId = ? ORDER BY rowId");
  s.Bind(jobId);
  std::vector<SVolumeSnap> rows;
  while (s.Next()) rows.push_back(SVolumeSnap{s.Int(0), s.Text(1), s.Text(2)});
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult CVolumeSnapStore::RemoveJob(long long jobId) {
  CSimStatement s(Ready("RemoveJob"), "RemoveJob", "DELETE FROM PLT_VolumeSnaps WHERE jobId = ?");
  s.Bind(jobId);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() > 0 ? EStoreResult::kOk : EStoreResult::kMissing;
}

void CVolumeSnapStore::Register() {
  CJobSimulator::SEndWriter writer;
  writer.type = EChildJobType::kBackup;
  writer.write = WriteSnapBackup;
  CJobSimulator::EndWriters().Register("array volume snaps", writer);
}
