#include "array/ArrayRelationshipStore.h"

#include <strings.h>

#include "db/DBWriteScope.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"

namespace {

int CreateTable(CDBConnection& c) {
  return c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_ArrayRelationships (controlHostId INTEGER NOT NULL, destPath TEXT NOT NULL,"
      " sourcePath TEXT NOT NULL DEFAULT '', destVServer TEXT NOT NULL, destVolume TEXT NOT NULL,"
      " mirrorState TEXT NOT NULL, status TEXT NOT NULL, queue TEXT NOT NULL DEFAULT '',"
      " readFails INTEGER NOT NULL DEFAULT 0, breakFails INTEGER NOT NULL DEFAULT 0,"
      " resyncFails INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (controlHostId, destPath))");
}

CDBConnection* Ready(const char* function) { return SimReady(function, CArrayRelationshipStore::kTable, CreateTable); }

const char kColumns[] =
    "SELECT controlHostId, destPath, sourcePath, destVServer, destVolume, mirrorState, status, queue, readFails,"
    " breakFails, resyncFails FROM PLT_ArrayRelationships";

// The queue is kept as one text, statuses separated by newlines.
std::string JoinQueue(const std::vector<std::string>& statuses) {
  std::string text;
  for (const std::string& s : statuses) text += (text.empty() ? "" : "\n") + s;
  return text;
}

std::vector<std::string> SplitQueue(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

SLabRelationship RowOf(const CSimStatement& s) {
  SLabRelationship r;
  r.controlHostId = static_cast<int>(s.Int(0));
  r.destPath = s.Text(1);
  r.sourcePath = s.Text(2);
  r.destVServer = s.Text(3);
  r.destVolume = s.Text(4);
  r.mirrorState = s.Text(5);
  r.status = s.Text(6);
  r.queue = SplitQueue(s.Text(7));
  r.faults.readFails = s.Int(8) != 0;
  r.faults.breakFails = static_cast<int>(s.Int(9));
  r.faults.resyncFails = static_cast<int>(s.Int(10));
  return r;
}

EStoreResult Find(CDBConnection* c, const char* function, const std::string& where, int controlHostId,
                  const std::string& a, const std::string* b, SLabRelationship& out) {
  CSimStatement s(c, function, std::string(kColumns) + where);
  s.Bind(controlHostId).Bind(a);
  if (b != nullptr) s.Bind(*b);
  if (s.Next()) {
    out = RowOf(s);
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

template <class T>
EStoreResult Update(const char* function, const char* set, int controlHostId, const std::string& destPath,
                    const T& value) {
  CSimStatement s(Ready(function), function,
                  std::string("UPDATE PLT_ArrayRelationships SET ") + set +
                      " WHERE controlHostId = ? AND destPath = ?");
  s.Bind(value).Bind(controlHostId).Bind(destPath);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

bool Is(const std::string& state, const char* word) { return strcasecmp(state.c_str(), word) == 0; }

enum class EChange { kBreak, kResync };

// A break or re-sync: the relationship by vserver and volume, its fault
// count taken down, its mirror state moved, all in one transaction.
EArrayAnswer Change(const char* function, EChange change, int controlHostId, const std::string& vserver,
                    const std::string& volume) {
  CDBConnection* c = Ready(function);
  if (c == nullptr) return EArrayAnswer::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EArrayAnswer::kFailed;
  SLabRelationship r;
  const EStoreResult found =
      Find(c, function, " WHERE controlHostId = ? AND destVServer = ? AND destVolume = ? ORDER BY destPath",
           controlHostId, vserver, &volume, r);
  if (found == EStoreResult::kFailed) return EArrayAnswer::kFailed;
  if (found == EStoreResult::kMissing) return EArrayAnswer::kNotFound;
  const bool isBreak = change == EChange::kBreak;
  const int fails = isBreak ? r.faults.breakFails : r.faults.resyncFails;
  EArrayAnswer answer = EArrayAnswer::kOk;
  std::string state = r.mirrorState;
  int failsLeft = fails;
  if (fails != 0) {
    answer = EArrayAnswer::kFault;
    if (fails > 0) --failsLeft;
  } else if (isBreak && Is(state, "snapmirrored")) {
    state = "broken-off";
  } else if (!isBreak && Is(state, "broken-off")) {
    state = "snapmirrored";
  } else if (!Is(state, isBreak ? "broken-off" : "snapmirrored")) {
    answer = EArrayAnswer::kRefused;
  }
  CSimStatement s(c, function,
                  std::string("UPDATE PLT_ArrayRelationships SET mirrorState = ?, ") +
                      (isBreak ? "breakFails" : "resyncFails") + " = ? WHERE controlHostId = ? AND destPath = ?");
  s.Bind(state).Bind(failsLeft).Bind(controlHostId).Bind(r.destPath);
  if (s.Run() != EStoreResult::kOk || !scope.Commit()) return EArrayAnswer::kFailed;
  return answer;
}

}  // namespace

bool CArrayRelationshipStore::CreateTables() { return Ready("CreateTables") != nullptr; }

bool CArrayRelationshipStore::Add(const SLabRelationship& in) {
  if (in.controlHostId == 0 || in.destPath.empty()) {
    EvDebug().Error("Add", "A relationship needs its array and destination path [%d] [%s]", in.controlHostId,
                    in.destPath.c_str());
    return false;
  }
  SLabRelationship r = in;
  const size_t colon = r.destPath.find(':');
  if (r.destVServer.empty() && colon != std::string::npos) r.destVServer = r.destPath.substr(0, colon);
  if (r.destVolume.empty()) r.destVolume = colon == std::string::npos ? r.destPath : r.destPath.substr(colon + 1);
  CSimStatement s(Ready("Add"), "Add",
                  "INSERT INTO PLT_ArrayRelationships (controlHostId, destPath, sourcePath, destVServer, destVolume,"
                  " mirrorState, status, queue, readFails, breakFails, resyncFails)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(r.controlHostId).Bind(r.destPath).Bind(r.sourcePath).Bind(r.destVServer).Bind(r.destVolume);
  s.Bind(r.mirrorState).Bind(r.status).Bind(JoinQueue(r.queue)).Bind(r.faults.readFails ? 1 : 0);
  s.Bind(r.faults.breakFails).Bind(r.faults.resyncFails);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CArrayRelationshipStore::Get(int controlHostId, const std::string& destPath, SLabRelationship& out) {
  return Find(Ready("Get"), "Get", " WHERE controlHostId = ? AND destPath = ?", controlHostId, destPath, nullptr, out);
}

EStoreResult CArrayRelationshipStore::All(std::vector<SLabRelationship>& out) {
  CSimStatement s(Ready("All"), "All", std::string(kColumns) + " ORDER BY controlHostId, destPath");
  std::vector<SLabRelationship> rows;
  while (s.Next()) rows.push_back(RowOf(s));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult CArrayRelationshipStore::QueueStatuses(int controlHostId, const std::string& destPath,
                                                    const std::vector<std::string>& statuses) {
  return Update("QueueStatuses", "queue = ?", controlHostId, destPath, JoinQueue(statuses));
}

EStoreResult CArrayRelationshipStore::SetFaults(int controlHostId, const std::string& destPath,
                                                const SRelationshipFaults& f) {
  CSimStatement s(Ready("SetFaults"), "SetFaults",
                  "UPDATE PLT_ArrayRelationships SET readFails = ?, breakFails = ?, resyncFails = ?"
                  " WHERE controlHostId = ? AND destPath = ?");
  s.Bind(f.readFails ? 1 : 0).Bind(f.breakFails).Bind(f.resyncFails).Bind(controlHostId).Bind(destPath);
  if (s.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return s.Changes() == 0 ? EStoreResult::kMissing : EStoreResult::kOk;
}

EStoreResult CArrayRelationshipStore::SetMirrorState(int controlHostId, const std::string& destPath,
                                                     const std::string& state) {
  return Update("SetMirrorState", "mirrorState = ?", controlHostId, destPath, state);
}

EArrayAnswer CArrayRelationshipStore::Read(int controlHostId, const std::string& destPath, SLabRelationship& out) {
  CDBConnection* c = Ready("Read");
  if (c == nullptr) return EArrayAnswer::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EArrayAnswer::kFailed;
  SLabRelationship r;
  const EStoreResult found =
      Find(c, "Read", " WHERE controlHostId = ? AND destPath = ?", controlHostId, destPath, nullptr, r);
  if (found == EStoreResult::kFailed) return EArrayAnswer::kFailed;
  if (found == EStoreResult::kMissing) return EArrayAnswer::kNotFound;
  if (r.faults.readFails) return EArrayAnswer::kFault;
  if (!r.queue.empty()) {
    r.status = r.queue.front();
    r.queue.erase(r.queue.begin());
    CSimStatement s(c, "Read",
                    "UPDATE PLT_ArrayRelationships SET status = ?, queue = ? WHERE controlHostId = ? AND destPath = ?");
    s.Bind(r.status).Bind(JoinQueue(r.queue)).Bind(controlHostId).Bind(destPath);
    if (s.Run() != EStoreResult::kOk || !scope.Commit()) return EArrayAnswer::kFailed;
  }
  out = r;
  return EArrayAnswer::kOk;
}

EArrayAnswer CArrayRelationshipStore::Break(int controlHostId, const std::string& destVServer,
                                            const std::string& destVolume) {
  return Change("Break", EChange::kBreak, controlHostId, destVServer, destVolume);
}

EArrayAnswer CArrayRelationshipStore::Resync(int controlHostId, const std::string& destVServer,
                                             const std::string& destVolume) {
  return Change("Resync", EChange::kResync, controlHostId, destVServer, destVolume);
}
