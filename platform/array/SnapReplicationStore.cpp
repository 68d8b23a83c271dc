#include "array/SnapReplicationStore.h"

#include "db/DBWriteScope.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_SnapReplications (replicationId INTEGER PRIMARY KEY,"
      " drGroupId INTEGER NOT NULL, copyId INTEGER NOT NULL DEFAULT 0, subclientId INTEGER NOT NULL DEFAULT 0,"
      " sourceGuid TEXT NOT NULL DEFAULT '', proxyVMName TEXT NOT NULL DEFAULT '',"
      " proxyVMGuid TEXT NOT NULL DEFAULT '', msg TEXT NOT NULL);"
      "CREATE INDEX IF NOT EXISTS idx_PLT_SnapReplications_copy ON PLT_SnapReplications (copyId);"
      "CREATE INDEX IF NOT EXISTS idx_PLT_SnapReplications_subclient ON PLT_SnapReplications (subclientId);"
      "CREATE INDEX IF NOT EXISTS idx_PLT_SnapReplications_source ON PLT_SnapReplications (sourceGuid)");
}

CDBConnection* Ready(const char* function) { return SimReady(function, CSnapReplicationStore::kTable, CreateTable); }

const char kColumns[] =
    "SELECT replicationId, drGroupId, proxyVMName, proxyVMGuid, msg FROM PLT_SnapReplications";

// The columns a replication is looked up by, from its message.
struct SKeys {
  int copyId;
  int subclientId;
  std::string sourceGuid;
  std::string text;
};

bool KeysOf(const char* function, const Info& in, SKeys& keys) {
  Info info(in);
  CSnapReplicationStore::DropServerFields(info);
  keys.copyId = info.GetInt32(Info::kCopyId);
  keys.subclientId = info.GetMsg(Info::kSourceEntity).GetInt32(ZnEntities::SubClientEntity::kSubclientId);
  keys.sourceGuid = info.GetString(Info::kSourceVMGuid);
  if (info.serializeUTF8(keys.text, false)) return true;
  EvDebug().Error(function, "Cannot write replication [%d]", info.GetInt32(Info::kReplicationId));
  return false;
}

EStoreResult Rows(CSimStatement& s, std::vector<SSnapReplication>& out) {
  std::vector<SSnapReplication> rows;
  while (s.Next()) {
    SSnapReplication r;
    r.replicationId = static_cast<int>(s.Int(0));
    r.drGroupId = static_cast<int>(s.Int(1));
    r.proxyVMName = s.Text(2);
    r.proxyVMGuid = s.Text(3);
    std::string error;
    if (!r.info.Unserialize(s.Text(4), &error)) {
      EvDebug().Error("Rows", "Replication [%d] holds an unreadable message: [%s]", r.replicationId, error.c_str());
      return EStoreResult::kFailed;
    }
    rows.push_back(r);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

template <class T>
EStoreResult Where(const char* function, const char* column, const T& value, std::vector<SSnapReplication>& out) {
  CSimStatement s(Ready(function), function,
                  std::string(kColumns) + " WHERE " + column + " = ? ORDER BY replicationId");
  s.Bind(value);
  return Rows(s, out);
}

EStoreResult Changed(CSimStatement& s) {
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

}  // namespace

bool CSnapReplicationStore::CreateTables() { return Ready("CreateTables") != nullptr; }

void CSnapReplicationStore::DropServerFields(Info& info) {
  info.ClearField(Info::kMountRecord);
  info.ClearField(Info::kProxyVMName);
  info.ClearField(Info::kProxyVMGuid);
}

bool CSnapReplicationStore::Add(int drGroupId, const Info& info) {
  const int id = info.GetInt32(Info::kReplicationId);
  if (!info.Has(Info::kReplicationId) || id == 0 || drGroupId == 0) {
    EvDebug().Error("Add", "A replication needs its id and DR group [%d] [%d]", id, drGroupId);
    return false;
  }
  SKeys keys;
  if (!KeysOf("Add", info, keys)) return false;
  CSimStatement s(Ready("Add"), "Add",
                  "INSERT INTO PLT_SnapReplications (replicationId, drGroupId, copyId, subclientId, sourceGuid, msg)"
                  " VALUES (?, ?, ?, ?, ?, ?)");
  s.Bind(id).Bind(drGroupId).Bind(keys.copyId).Bind(keys.subclientId).Bind(keys.sourceGuid).Bind(keys.text);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CSnapReplicationStore::Replace(int drGroupId, const Info& in) {
  CDBConnection* c = Ready("Replace");
  if (c == nullptr) return EStoreResult::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EStoreResult::kFailed;
  const int id = in.GetInt32(Info::kReplicationId);
  SSnapReplication stored;
  const EStoreResult read = Get(id, stored);
  if (read != EStoreResult::kOk) return read;
  // The last synced job is the aux copy's to move: a record the engine read
  // before a copy ended must not take back what the copy wrote.
  Info info(in);
  if (stored.info.Has(Info::kLastSyncedBackupJobId)) {
    info.SetInt64(Info::kLastSyncedBackupJobId, stored.info.GetInt64(Info::kLastSyncedBackupJobId));
  } else {
    info.ClearField(Info::kLastSyncedBackupJobId);
  }
  SKeys keys;
  if (!KeysOf("Replace", info, keys)) return EStoreResult::kFailed;
  CSimStatement s(c, "Replace",
                  "UPDATE PLT_SnapReplications SET copyId = ?, subclientId = ?, sourceGuid = ?, msg = ?"
                  " WHERE replicationId = ? AND drGroupId = ?");
  s.Bind(keys.copyId).Bind(keys.subclientId).Bind(keys.sourceGuid).Bind(keys.text);
  s.Bind(id).Bind(drGroupId);
  const EStoreResult written = Changed(s);
  if (written != EStoreResult::kOk) return written;
  return scope.Commit() ? EStoreResult::kOk : EStoreResult::kFailed;
}

EStoreResult CSnapReplicationStore::Get(int replicationId, SSnapReplication& out) {
  std::vector<SSnapReplication> rows;
  const EStoreResult read = Where("Get", "replicationId", replicationId, rows);
  if (read != EStoreResult::kOk) return read;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows.front();
  return EStoreResult::kOk;
}

EStoreResult CSnapReplicationStore::All(std::vector<SSnapReplication>& out) {
  CSimStatement s(Ready("All"), "All", std::string(kColumns) + " ORDER BY replicationId");
  return Rows(s, out);
}

EStoreResult CSnapReplicationStore::Ids(std::vector<int>& out) {
  CSimStatement s(Ready("Ids"), "Ids", "SELECT replicationId FROM PLT_SnapReplications ORDER BY replicationId");
  std::vector<int> ids;
  while (s.Next()) ids.push_back(static_cast<int>(s.Int(0)));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(ids);
  return EStoreResult::kOk;
}

EStoreResult CSnapReplicationStore::OfCopy(int copyId, std::vector<SSnapReplication>& out) {
  return Where("OfCopy", "copyId", copyId, out);
}

EStoreResult CSnapReplicationStore::OfSubclient(int subclientId, std::vector<SSnapReplication>& out) {
  return Where("OfSubclient", "subclientId", subclientId, out);
}

EStoreResult CSnapReplicationStore::OfSourceGuid(const std::string& guid, std::vector<SSnapReplication>& out) {
  return Where("OfSourceGuid", "sourceGuid", guid, out);
}

EStoreResult CSnapReplicationStore::SetLastSyncedJob(int replicationId, long long jobId) {
  CDBConnection* c = Ready("SetLastSyncedJob");
  if (c == nullptr) return EStoreResult::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EStoreResult::kFailed;
  SSnapReplication r;
  const EStoreResult read = Get(replicationId, r);
  if (read != EStoreResult::kOk) return read;
  r.info.SetInt64(Info::kLastSyncedBackupJobId, jobId);
  std::string text;
  if (!r.info.serializeUTF8(text, false)) return EStoreResult::kFailed;
  CSimStatement s(c, "SetLastSyncedJob", "UPDATE PLT_SnapReplications SET msg = ? WHERE replicationId = ?");
  s.Bind(text).Bind(replicationId);
  const EStoreResult written = Changed(s);
  if (written != EStoreResult::kOk) return written;
  return scope.Commit() ? EStoreResult::kOk : EStoreResult::kFailed;
}

EStoreResult CSnapReplicationStore::SetProxyVM(int replicationId, const std::string& name, const std::string& guid) {
  CSimStatement s(Ready("SetProxyVM"), "SetProxyVM",
                  "UPDATE PLT_SnapReplications SET proxyVMName = ?, proxyVMGuid = ? WHERE replicationId = ?");
  s.Bind(name).Bind(guid).Bind(replicationId);
  return Changed(s);
}
