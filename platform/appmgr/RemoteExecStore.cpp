#include "appmgr/RemoteExecStore.h"

#include <stdlib.h>

#include "db/DBStatement.h"
#include "time/PlatformClock.h"

namespace {

int CreateTables(CDBConnection& c) {
  int rc = c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_RemoteExecJournal (seq INTEGER PRIMARY KEY AUTOINCREMENT, clientId INTEGER NOT "
      "NULL, clientName TEXT NOT NULL, command TEXT NOT NULL, arguments TEXT NOT NULL, argv TEXT NOT NULL, "
      "startDirectory TEXT NOT NULL, wait INTEGER NOT NULL, result INTEGER NOT NULL, exitCode INTEGER NOT NULL, "
      "error TEXT NOT NULL, created INTEGER NOT NULL)");
  if (rc == DB_OK) {
    rc = c.Exec(
        "CREATE TABLE IF NOT EXISTS PLT_ClientReachability (clientId INTEGER PRIMARY KEY, reachable INTEGER NOT NULL, "
        "modified INTEGER NOT NULL)");
  }
  return rc;
}

CDBConnection* Ready(const char* function) { return DBStoreReady(function, "PLT_RemoteExecJournal", CreateTables); }

// An argument vector as one text: each argument as its length, a colon and
// its bytes, so blanks, empty arguments and any byte survive.
std::string EncodeArgv(const std::vector<std::string>& argv) {
  std::string out;
  for (const std::string& arg : argv) out += std::to_string(arg.size()) + ":" + arg;
  return out;
}

std::vector<std::string> DecodeArgv(const std::string& text) {
  std::vector<std::string> argv;
  size_t at = 0;
  while (at < text.size()) {
    const size_t colon = text.find(':', at);
    if (colon == std::string::npos) break;
    const size_t length = strtoul(text.c_str() + at, nullptr, 10);
    if (colon + 1 + length > text.size()) break;
    argv.push_back(text.substr(colon + 1, length));
    at = colon + 1 + length;
  }
  return argv;
}

}  // namespace

bool CRemoteExecStore::Append(const SRemoteExecEntry& e) {
  CDBStatement s(Ready("Append"), "Append",
                 "INSERT INTO PLT_RemoteExecJournal (clientId, clientName, command, arguments, argv, startDirectory, "
                 "wait, result, exitCode, error, created) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(e.clientId).Bind(e.clientName).Bind(e.command).Bind(e.arguments).Bind(EncodeArgv(e.argv));
  s.Bind(e.startDirectory).Bind(e.wait ? 1 : 0).Bind(e.result).Bind(e.exitCode).Bind(e.error);
  s.Bind(CPlatformClock::Instance().NowEpochSeconds());
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CRemoteExecStore::Entries(std::vector<SRemoteExecEntry>& out, int clientId) {
  CDBStatement s(Ready("Entries"), "Entries",
                 "SELECT seq, clientId, clientName, command, arguments, argv, startDirectory, wait, result, exitCode, "
                 "error FROM PLT_RemoteExecJournal WHERE ? = 0 OR clientId = ? ORDER BY seq");
  s.Bind(clientId).Bind(clientId);
  std::vector<SRemoteExecEntry> entries;
  while (s.Next()) {
    SRemoteExecEntry e;
    e.seq = s.Int(0);
    e.clientId = static_cast<int>(s.Int(1));
    e.clientName = s.Text(2);
    e.command = s.Text(3);
    e.arguments = s.Text(4);
    e.argv = DecodeArgv(s.Text(5));
    e.startDirectory = s.Text(6);
    e.wait = s.Int(7) != 0;
    e.result = static_cast<int>(s.Int(8));
    e.exitCode = static_cast<int>(s.Int(9));
    e.error = s.Text(10);
    entries.push_back(e);
  }
  if (!s.Ok() || s.Failed()) return EStoreResult::kFailed;
  out.swap(entries);
  return EStoreResult::kOk;
}

bool CRemoteExecStore::ClearJournal() {
  CDBStatement s(Ready("ClearJournal"), "ClearJournal", "DELETE FROM PLT_RemoteExecJournal");
  return s.Run() == EStoreResult::kOk;
}

bool CRemoteExecStore::SetReachable(int clientId, bool reachable) {
  CDBStatement s(Ready("SetReachable"), "SetReachable",
                 "INSERT OR REPLACE INTO PLT_ClientReachability (clientId, reachable, modified) VALUES (?, ?, ?)");
  s.Bind(clientId).Bind(reachable ? 1 : 0).Bind(CPlatformClock::Instance().NowEpochSeconds());
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CRemoteExecStore::IsReachable(int clientId, bool& reachable) {
  CDBStatement s(Ready("IsReachable"), "IsReachable",
                 "SELECT reachable FROM PLT_ClientReachability WHERE clientId = ?");
  s.Bind(clientId);
  const bool row = s.Next();
  if (!s.Ok() || s.Failed()) return EStoreResult::kFailed;
  reachable = !row || s.Int(0) != 0;
  return EStoreResult::kOk;
}

bool CRemoteExecStore::CreateTables() { return Ready("CreateTables") != nullptr; }
