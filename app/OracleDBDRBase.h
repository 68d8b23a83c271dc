// The application DR context of Oracle database replications: starts and
// stops the database of a site by running a script on that site's client,
// and fills the Oracle backup options.
//
// The scripts take the client's name and the instance's Oracle home as their
// arguments, joined by one blank; the remote client splits them at blanks.
// A name or home that would split, or that a shell on the client would read
// as more than text (quotes, the backquote, ; & | < > $ \ ( ) [ ] { } * ? ! ~
// #, whitespace, control characters), is refused before anything is sent; an
// empty home is sent as it is.
//
// Start-up and shut-down record their phase (IN-PROGRESS, then SUCCESS or
// FAILED with the reason) under the operation context's switches.
#pragma once

#include <string>

#include "AppDRBase.h"
#include "log/EvEvent.h"

class COracleDBDRBase : public CAppDRBase {
 public:
  static constexpr const char* kStartUpCommand = "sh dbstartup.sh";
  static constexpr const char* kShutDownCommand = "sh dbshutdown.sh";
  static constexpr const char* kStatusCommand = "sh dbstatus.sh";
  // Its exit code for a database that is stopped (0: running).
  static constexpr int kStatusStopped = 3;

  explicit COracleDBDRBase(IDROrchestrator& orchestrator);
  ~COracleDBDRBase() override;

  bool Shutdown(SDROperationCtx& ctx) override;
  bool PowerOn(SDROperationCtx& ctx) override;
  bool GetBkpOptions(CNMessageBase& backupOption, ApplicationId& appId, std::vector<CDRInfo*>& machines) override;
  // By its databases' state, each asked of its site's client with the
  // status script; unknown when either cannot be asked.
  EWorkloadRuns WorkloadRuns(CDRInfo* info) override;

  // Runs the command on the client of the context's site for its first
  // machine's instance; true when it ran and succeeded.
  bool RunDBCommand(SDROperationCtx& ctx, std::string& command);
  // Whether a client name or Oracle home may be passed to a script.
  static bool IsSafeScriptArgument(const std::string& text, bool emptyAllowed);

 protected:
  // The same, with the reason of a failure.
  bool RunDBCommand(SDROperationCtx& ctx, const std::string& command, std::string& error);
  // The instance of the site and its Oracle home; false (logged) when either
  // cannot be read.
  bool LoadInstanceHome(SDROperationCtx& ctx, CDRInfo* machine, SDRInstanceCtx& instance, std::string& home,
                        std::string& error);

  EvEvent m_event;

 private:
  // One start-up or shut-down: its phase rows around the script.
  bool RunSiteScript(SDROperationCtx& ctx, const char* command, const char* function, const char* request,
                     const char* success);
};
