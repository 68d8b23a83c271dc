// The database hosts of the simulated lab: clients with Oracle databases,
// which answer the start-up and shut-down scripts a DR job runs on them as
// remote commands (ZnRemoteExecuteProcess). CDatabaseHosts is the remote-exec
// handler of every client (kAnyClient) and the one owner of the hosts'
// tables: the databases by (client, Oracle home) with their state
// (PLT_DatabaseHosts), the faults planted on a client's script calls
// (PLT_DatabaseHostFaults) and the calls counted per client and script
// (PLT_DatabaseHostCalls). Everything is stored, so a database started by one
// process is running for the next.
//
// The commands: "sh dbstartup.sh <client name> <Oracle home>" starts that
// home's database, "sh dbshutdown.sh ..." stops it; exit 0 (also when it
// already was in that state). "sh dbstatus.sh ..." tells its state: exit 0
// running, 3 stopped. A home the client has no database at, or
// another client's name, exits 1; another shape of arguments exits 2; any
// other command, or a client without databases, exits 127.
//
// Faults, per (client, script, nth call of that script on that client,
// counting from 1): exit with a code (the state stays), hang until the
// caller gives up (its time-out stops the handler), or be unreachable.
//
// Threads: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "appmgr/ZnRemoteExecuteProcess.h"
#include "core/StoreResult.h"

struct SDatabaseHost {
  int clientId = 0;
  std::string home;
  bool running = false;
};

enum class EDBHostFault { kExitCode = 1, kHang = 2, kUnreachable = 3 };

class CDatabaseHosts {
 public:
  static constexpr const char* kTables[] = {"PLT_DatabaseHosts", "PLT_DatabaseHostFaults", "PLT_DatabaseHostCalls"};
  static constexpr const char* kStartScript = "dbstartup.sh";
  static constexpr const char* kStopScript = "dbshutdown.sh";
  static constexpr const char* kStatusScript = "dbstatus.sh";
  static constexpr int kExitRefused = 1;
  static constexpr int kExitUsage = 2;
  static constexpr int kExitStopped = 3;  // dbstatus.sh: the database is stopped

  // Adds a database (or sets its state).
  static bool PutDatabase(int clientId, const std::string& home, bool running);
  // kMissing when the client has no database at the home.
  static EStoreResult IsRunning(int clientId, const std::string& home, bool& running);
  // Every database, by client and home.
  static EStoreResult Databases(std::vector<SDatabaseHost>& out);

  // Plants a fault on the nth call of the script on the client (replacing
  // one planted there before).
  static bool SetFault(int clientId, const std::string& script, int nth, EDBHostFault fault, int exitCode = 0);
  // Removes every fault and forgets the calls counted.
  static bool ClearFaults();
  // The calls of the script on the client so far.
  static EStoreResult Calls(int clientId, const std::string& script, int& calls);

  // The remote-exec handler.
  static SRemoteOutcome Run(const SRemoteCommand& command);
  // Registers it for every client (CSimulators::Install).
  static void Register();
  // Creates the tables on the calling thread's database.
  static bool CreateTables();
};
