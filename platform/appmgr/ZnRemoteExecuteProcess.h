// A command run on a client of the management server, as the platform's
// remote execution does it: the stand-in never starts a process or a shell.
//
// remoteExecuteTool splits the command and the arguments at every blank into
// one argument vector (empty pieces kept: "client " gives the arguments
// "client" and ""; an empty text gives none) and hands it to the handler
// registered for the client (Handlers(), the client id, else kAnyClient),
// which plays that client. Every call is journaled (CRemoteExecStore).
//
// Results (the return value; the reply replaces the request XML):
// - 0, the command was launched: App::ExecuteToolResp with the handler's exit
//   code (0 with wait off) and its error text; 127 when no handler serves the
//   client;
// - kLaunchBadRequest, kLaunchUnknownClient, kLaunchUnreachable (the client
//   is marked unreachable, or the handler says so), kLaunchTimedOut (the
//   handler was still blocked in a platform wait at the time-out on the
//   platform clock; one merely still running keeps its answer, since a
//   handler takes platform time only in its waits): ZNGui::GenericResp
//   with the remote agent's own error code (kReply..., not the launch
//   result) and a text.
//
// Handlers run on a thread of their own and are waited for, whatever wait
// says; a handler blocks only in platform waits, which return early once its
// thread is asked to stop, as it is after the time-out.
//
// Threads: every member may be called from any thread; handlers of several
// calls run at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/HandlerRegistry.h"
#include "log/EvEvent.h"

// What a client's handler is given.
struct SRemoteCommand {
  int clientId = 0;
  std::string clientName;
  std::string command;
  std::string arguments;
  std::vector<std::string> argv;
  std::string startDirectory;
  bool wait = true;
};

// What it answers.
struct SRemoteOutcome {
  bool unreachable = false;  // the client did not answer: a launch failure
  int exitCode = 0;
  std::string error;
};

using RemoteExecHandler = std::function<SRemoteOutcome(const SRemoteCommand&)>;
using RemoteExecRegistry = CHandlerRegistry<int, RemoteExecHandler>;

class ZnRemoteExecuteProcess : public EvEvent {
 public:
  static constexpr int kAnyClient = 0;
  static constexpr int kExitNoHandler = 127;
  static constexpr int kLaunchBadRequest = 1;
  static constexpr int kLaunchUnknownClient = 2;
  static constexpr int kLaunchUnreachable = 3;
  static constexpr int kLaunchTimedOut = 4;
  // The agent's error codes in the reply of a launch failure, by result.
  static constexpr int kReplyBadRequest = 22;
  static constexpr int kReplyUnknownClient = 2;
  static constexpr int kReplyUnreachable = 113;
  static constexpr int kReplyTimedOut = 110;

  ZnRemoteExecuteProcess(unsigned long clientId, const std::string& command, const std::string& arguments,
                         const std::string& startDirectory, bool wait, int timeoutSeconds);

  // Sends the request (an App::ExecuteCommandReq) and leaves the reply in
  // the same text; 0 when the command was launched.
  int remoteExecuteTool(std::string& xml);

  static RemoteExecRegistry& Handlers();
  // The argument vector of a command and its arguments.
  static std::vector<std::string> SplitArguments(const std::string& command, const std::string& arguments);

 private:
  // Runs the handler on its own thread, at most the time-out.
  int Run(const RemoteExecHandler& handler, const SRemoteCommand& command, SRemoteOutcome& outcome);

  // The platform's description of a remote process, in its order; the
  // stand-in reads the client, the texts, wait and the time-out.
  unsigned long long m_clientId;
  std::string m_command;
  std::string m_arguments;
  [[maybe_unused]] std::string m_text3;
  std::string m_startDirectory;
  bool m_wait;
  [[maybe_unused]] bool m_flag2;
  [[maybe_unused]] std::string m_text7;
  [[maybe_unused]] std::string m_platformText;
  [[maybe_unused]] int m_value;
  int m_timeoutSeconds;
};
