#include "appmgr/DatabaseHosts.h"

#include "db/DBStatement.h"
#include "db/DBWriteScope.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

namespace {

int CreateTables(CDBConnection& c) {
  int rc = c.Exec(
      "CREATE TABLE IF NOT EXISTS PLT_DatabaseHosts (clientId INTEGER NOT NULL, home TEXT NOT NULL, running INTEGER "
      "NOT NULL, modified INTEGER NOT NULL, PRIMARY KEY (clientId, home))");
  if (rc == DB_OK) {
    rc = c.Exec(
        "CREATE TABLE IF NOT EXISTS PLT_DatabaseHostFaults (clientId INTEGER NOT NULL, script TEXT NOT NULL, nth "
        "INTEGER NOT NULL, fault INTEGER NOT NULL, exitCode INTEGER NOT NULL, PRIMARY KEY (clientId, script, nth))");
  }
  if (rc == DB_OK) {
    rc = c.Exec(
        "CREATE TABLE IF NOT EXISTS PLT_DatabaseHostCalls (clientId INTEGER NOT NULL, script TEXT NOT NULL, calls "
        "INTEGER NOT NULL, PRIMARY KEY (clientId, script))");
  }
  return rc;
}

CDBConnection* Ready(const char* function) { return DBStoreReady(function, "PLT_DatabaseHosts", CreateTables); }

SRemoteOutcome Exit(int code, const std::string& error) {
  SRemoteOutcome out;
  out.exitCode = code;
  out.error = error;
  return out;
}

// Whether the client has any database at all.
EStoreResult HasDatabases(int clientId, bool& any) {
  CDBStatement s(Ready("HasDatabases"), "HasDatabases", "SELECT 1 FROM PLT_DatabaseHosts WHERE clientId = ? LIMIT 1");
  s.Bind(clientId);
  any = s.Next();
  return s.Ok() && !s.Failed() ? EStoreResult::kOk : EStoreResult::kFailed;
}

// Counts one more call of the script on the client and answers its number
// (from 1) with the fault planted on it, if any.
bool CountCall(int clientId, const std::string& script, int& nth, int& fault, int& exitCode) {
  CDBConnection* c = Ready("CountCall");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  {
    CDBStatement s(c, "CountCall",
                   "INSERT INTO PLT_DatabaseHostCalls (clientId, script, calls) VALUES (?, ?, 1) ON CONFLICT "
                   "(clientId, script) DO UPDATE SET calls = calls + 1");
    s.Bind(clientId).Bind(script);
    if (s.Run() != EStoreResult::kOk) return false;
  }
  {
    CDBStatement s(c, "CountCall", "SELECT calls FROM PLT_DatabaseHostCalls WHERE clientId = ? AND script = ?");
    s.Bind(clientId).Bind(script);
    if (!s.Next()) return false;
    nth = static_cast<int>(s.Int(0));
  }
  fault = 0;
  exitCode = 0;
  CDBStatement s(c, "CountCall",
                 "SELECT fault, exitCode FROM PLT_DatabaseHostFaults WHERE clientId = ? AND script = ? AND nth = ?");
  s.Bind(clientId).Bind(script).Bind(nth);
  if (s.Next()) {
    fault = static_cast<int>(s.Int(0));
    exitCode = static_cast<int>(s.Int(1));
  }
  return !s.Failed() && scope.Commit();
}

}  // namespace

bool CDatabaseHosts::PutDatabase(int clientId, const std::string& home, bool running) {
  CDBStatement s(Ready("PutDatabase"), "PutDatabase",
                 "INSERT OR REPLACE INTO PLT_DatabaseHosts (clientId, home, running, modified) VALUES (?, ?, ?, ?)");
  s.Bind(clientId).Bind(home).Bind(running ? 1 : 0).Bind(CPlatformClock::Instance().NowEpochSeconds());
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CDatabaseHosts::IsRunning(int clientId, const std::string& home, bool& running) {
  CDBStatement s(Ready("IsRunning"), "IsRunning",
                 "SELECT running FROM PLT_DatabaseHosts WHERE clientId = ? AND home = ?");
  s.Bind(clientId).Bind(home);
  if (s.Next()) {
    running = s.Int(0) != 0;
    return EStoreResult::kOk;
  }
  return s.Ok() && !s.Failed() ? EStoreResult::kMissing : EStoreResult::kFailed;
}

EStoreResult CDatabaseHosts::Databases(std::vector<SDatabaseHost>& out) {
  CDBStatement s(Ready("Databases"), "Databases",
                 "SELECT clientId, home, running FROM PLT_DatabaseHosts ORDER BY clientId, home");
  std::vector<SDatabaseHost> all;
  while (s.Next()) {
    SDatabaseHost db;
    db.clientId = static_cast<int>(s.Int(0));
    db.home = s.Text(1);
    db.running = s.Int(2) != 0;
    all.push_back(db);
  }
  if (!s.Ok() || s.Failed()) return EStoreResult::kFailed;
  out.swap(all);
  return EStoreResult::kOk;
}

bool CDatabaseHosts::SetFault(int clientId, const std::string& script, int nth, EDBHostFault fault, int exitCode) {
  CDBStatement s(Ready("SetFault"), "SetFault",
                 "INSERT OR REPLACE INTO PLT_DatabaseHostFaults (clientId, script, nth, fault, exitCode) VALUES (?, ?, "
                 "?, ?, ?)");
  s.Bind(clientId).Bind(script).Bind(nth).Bind(static_cast<int>(fault)).Bind(exitCode);
  return s.Run() == EStoreResult::kOk;
}

bool CDatabaseHosts::ClearFaults() {
  CDBConnection* c = Ready("ClearFaults");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  CDBStatement faults(c, "ClearFaults", "DELETE FROM PLT_DatabaseHostFaults");
  CDBStatement calls(c, "ClearFaults", "DELETE FROM PLT_DatabaseHostCalls");
  return faults.Run() == EStoreResult::kOk && calls.Run() == EStoreResult::kOk && scope.Commit();
}

EStoreResult CDatabaseHosts::Calls(int clientId, const std::string& script, int& calls) {
  CDBStatement s(Ready("Calls"), "Calls", "SELECT calls FROM PLT_DatabaseHostCalls WHERE clientId = ? AND script = ?");
  s.Bind(clientId).Bind(script);
  calls = s.Next() ? static_cast<int>(s.Int(0)) : 0;
  return s.Ok() && !s.Failed() ? EStoreResult::kOk : EStoreResult::kFailed;
}

SRemoteOutcome CDatabaseHosts::Run(const SRemoteCommand& command) {
  const std::vector<std::string>& argv = command.argv;
  const std::string script = argv.size() >= 2 ? argv[1] : std::string();
  const bool known = argv.size() >= 2 && argv[0] == "sh" &&
                     (script == kStartScript || script == kStopScript || script == kStatusScript);
  bool any = false;
  if (!known || HasDatabases(command.clientId, any) != EStoreResult::kOk || !any) {
    return Exit(ZnRemoteExecuteProcess::kExitNoHandler,
                "[" + command.command + "]: no such command on client [" + command.clientName + "]");
  }
  int nth = 0;
  int fault = 0;
  int faultExit = 0;
  if (!CountCall(command.clientId, script, nth, fault, faultExit)) {
    return Exit(kExitRefused, "The database host of client [" + command.clientName + "] cannot be read");
  }
  EvDebug().DebugLvl(3, "CDatabaseHosts", "Client [%s] call [%d] of [%s] fault [%d]", command.clientName.c_str(), nth,
                     script.c_str(), fault);
  switch (static_cast<EDBHostFault>(fault)) {
    case EDBHostFault::kExitCode:
      return Exit(faultExit, "[" + script + "] failed on client [" + command.clientName + "] (injected)");
    case EDBHostFault::kHang:
      // Until the caller's time-out asks this thread to stop.
      CPlatformClock::Instance().Sleep(kWaitForever, "CDatabaseHosts hang");
      return Exit(kExitRefused, "[" + script + "] hung on client [" + command.clientName + "] (injected)");
    case EDBHostFault::kUnreachable: {
      SRemoteOutcome out;
      out.unreachable = true;
      out.error = "Client [" + command.clientName + "] did not answer (injected)";
      return out;
    }
    default:
      break;
  }
  if (argv.size() != 4) return Exit(kExitUsage, "usage: sh " + script + " <client> <Oracle home>");
  const std::string& home = argv[3];
  if (argv[2] != command.clientName) {
    return Exit(kExitRefused, "This is client [" + command.clientName + "], not [" + argv[2] + "]");
  }
  bool running = false;
  const EStoreResult read = IsRunning(command.clientId, home, running);
  if (read != EStoreResult::kOk) {
    return Exit(kExitRefused, read == EStoreResult::kMissing
                                  ? "No database at Oracle home [" + home + "] on client [" + command.clientName + "]"
                                  : "The databases of client [" + command.clientName + "] cannot be read");
  }
  if (script == kStatusScript) {
    return running ? Exit(0, "") : Exit(kExitStopped, "The database at [" + home + "] is stopped");
  }
  if (!PutDatabase(command.clientId, home, script == kStartScript)) {
    return Exit(kExitRefused, "The database state of client [" + command.clientName + "] cannot be stored");
  }
  return Exit(0, "");
}

void CDatabaseHosts::Register() {
  ZnRemoteExecuteProcess::Handlers().Register(ZnRemoteExecuteProcess::kAnyClient, Run);
}

bool CDatabaseHosts::CreateTables() { return Ready("CreateTables") != nullptr; }
