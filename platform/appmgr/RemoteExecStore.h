// What the simulated server keeps of commands run on clients: the journal of
// every remote execution (PLT_RemoteExecJournal) and which clients cannot be
// reached (PLT_ClientReachability). CRemoteExecStore is the one owner of
// both tables; ZnRemoteExecuteProcess writes the journal and reads the
// reachability, tests and the lab read and steer them.
//
// Threads: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

// One remote execution as it was asked and how it ended.
struct SRemoteExecEntry {
  long long seq = 0;  // the journal's order
  int clientId = 0;
  std::string clientName;  // empty when the client is not known
  std::string command;
  std::string arguments;
  std::vector<std::string> argv;  // what the client's handler was given
  std::string startDirectory;
  bool wait = true;
  int result = 0;    // 0 launched, else the launch failure
  int exitCode = 0;  // the command's own exit code (also when wait is off)
  std::string error;
};

class CRemoteExecStore {
 public:
  static constexpr const char* kTables[] = {"PLT_RemoteExecJournal", "PLT_ClientReachability"};

  static bool Append(const SRemoteExecEntry& entry);
  // The journal in order; of one client when clientId > 0.
  static EStoreResult Entries(std::vector<SRemoteExecEntry>& out, int clientId = 0);
  static bool ClearJournal();

  // A client is reachable unless marked otherwise.
  static bool SetReachable(int clientId, bool reachable);
  static EStoreResult IsReachable(int clientId, bool& reachable);

  // Creates the tables on the calling thread's database.
  static bool CreateTables();
};
