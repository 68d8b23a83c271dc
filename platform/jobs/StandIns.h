// What the management database's procedure and query stand-ins share: the
// faults a test plants on one of them, by the stand-in's name, and the two
// shapes of their answers.
//
// Faults are stored (lab knobs "fault.<name>"), so they hold for every
// process on the database until cleared, and a fresh database has none.
// What each fault does:
// - kFails: the procedure (or query) fails; nothing is changed;
// - kEmptyAnswer: the work is done, but the answer is empty;
// - kErrorCode: the answer carries a non-zero error code (a query, which
//   has no error field, returns a non-zero code instead); nothing is
//   changed.
//
// Counted failures (stored too): the next n calls of a target fail, then it
// works again. Targets: kReplicationMerge (a merge into a stored VM
// replication answers 5, nothing changed) and ExecuteSPTarget(type) (an
// App_ExecuteSP request of that message type fails with -1 before its
// handler runs, through the gate Register installs).
//
// Threads: every member may be called from any thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/DBProcRegistry.h"

enum class EStandInFault { kNone = 0, kFails = 1, kEmptyAnswer = 2, kErrorCode = 3 };

// The error code of a generic answer under kErrorCode, and the code a query
// returns.
constexpr int kStandInFaultCode = 5;

// What a stand-in's work answers: 0, or an error code with its message.
struct SStandInAnswer {
  int errorCode = 0;
  std::string message;
};

class CStandIns {
 public:
  static bool SetFault(const std::string& standIn, EStandInFault fault);
  static EStandInFault Fault(const std::string& standIn);
  // The same for stand-ins with faults of their own (an enum of theirs, 0
  // for none).
  static bool SetFaultCode(const std::string& standIn, int fault);
  static int FaultCode(const std::string& standIn);

  // A stored procedure that answers App::GenericResp as its one text row.
  // work does the procedure's work and fills the answer; a non-zero result
  // fails the procedure with the answer's message as its error (a request
  // it cannot read).
  using GenericWork = std::function<int(const std::vector<SDBProcValue>& inputs, SStandInAnswer& answer)>;
  static int RunGenericProcedure(const std::string& name, const std::vector<SDBProcValue>& inputs,
                                 SDBProcResult& result, const GenericWork& work);

  // A request the management database runs as a stored procedure
  // (App_ExecuteSP): work writes the reply; non-zero fails the request.
  using QueryWork = std::function<int(const std::string& request, std::string& response)>;
  static int RunQuery(const std::string& name, const std::string& request, std::string& response,
                      const QueryWork& work);

  static constexpr const char* kReplicationMerge = "VSASiteReplication.merge";
  static std::string ExecuteSPTarget(unsigned long messageType);
  // 0 clears them.
  static bool SetFailures(const std::string& target, int times);
  // True, with one failure fewer left, when the target is to fail now.
  static bool TakeFailure(const std::string& target);
  // The App_ExecuteSP gate of the counted failures (CSimulators::Install).
  static void Register();
};
