#include "appmgr/ZnRemoteExecuteProcess.h"

#include <limits.h>

#include <condition_variable>

#include "appmgr/RemoteExecStore.h"
#include "appmgr/ZNClient.h"
#include "core/RequestTap.h"
#include "db/DBConnection.h"
#include "core/Mutex.h"
#include "core/StopState.h"
#include "msg/MsgClasses.h"
#include "sync/ZnThread.h"
#include "time/PlatformClock.h"

namespace {

// One handler call on its thread, and what it answered.
struct SHandlerRun {
  const RemoteExecHandler* handler = nullptr;
  const SRemoteCommand* command = nullptr;
  CMutex mutex;
  std::condition_variable done;
  bool finished DR_GUARDED_BY(mutex) = false;
  bool cutShort DR_GUARDED_BY(mutex) = false;  // a platform wait of the handler ended for the stop request
  SRemoteOutcome outcome DR_GUARDED_BY(mutex);
};

void* RunHandler(void* arg) {
  SHandlerRun* run = static_cast<SHandlerRun*>(arg);
  SRemoteOutcome outcome = (*run->handler)(*run->command);
  // The handler's database connections belong to this thread.
  CDBConnection::CloseThreadConnections();
  const CStopState* stop = CStopState::Current();
  {
    CMutexLock lock(run->mutex);
    run->outcome = outcome;
    run->cutShort = stop != nullptr && stop->Honoured();
    run->finished = true;
  }
  run->done.notify_all();
  return nullptr;
}

int ReplyCode(int result) {
  switch (result) {
    case ZnRemoteExecuteProcess::kLaunchBadRequest: return ZnRemoteExecuteProcess::kReplyBadRequest;
    case ZnRemoteExecuteProcess::kLaunchUnknownClient: return ZnRemoteExecuteProcess::kReplyUnknownClient;
    case ZnRemoteExecuteProcess::kLaunchUnreachable: return ZnRemoteExecuteProcess::kReplyUnreachable;
    default: return ZnRemoteExecuteProcess::kReplyTimedOut;
  }
}

void Split(const std::string& text, std::vector<std::string>& out) {
  if (text.empty()) return;
  size_t from = 0;
  for (size_t blank = text.find(' '); blank != std::string::npos; blank = text.find(' ', from)) {
    out.push_back(text.substr(from, blank - from));
    from = blank + 1;
  }
  out.push_back(text.substr(from));
}

}  // namespace

ZnRemoteExecuteProcess::ZnRemoteExecuteProcess(unsigned long clientId, const std::string& command,
                                               const std::string& arguments, const std::string& startDirectory,
                                               bool wait, int timeoutSeconds)
    : m_clientId(clientId),
      m_command(command),
      m_arguments(arguments),
      m_startDirectory(startDirectory),
      m_wait(wait),
      m_flag2(false),
      m_value(0),
      m_timeoutSeconds(timeoutSeconds) {}

RemoteExecRegistry& ZnRemoteExecuteProcess::Handlers() {
  static auto* registry = new RemoteExecRegistry();
  return *registry;
}

std::vector<std::string> ZnRemoteExecuteProcess::SplitArguments(const std::string& command,
                                                                 const std::string& arguments) {
  std::vector<std::string> argv;
  Split(command, argv);
  Split(arguments, argv);
  return argv;
}

int ZnRemoteExecuteProcess::Run(const RemoteExecHandler& handler, const SRemoteCommand& command,
                                SRemoteOutcome& outcome) {
  SHandlerRun run;
  run.handler = &handler;
  run.command = &command;
  ZnThread thread;
  if (!thread.createThread(RunHandler, &run)) {
    outcome.error = "Cannot start the remote process";
    return kLaunchUnreachable;
  }
  {
    CMutexLock lock(run.mutex);
    const uint64_t ms = m_timeoutSeconds > 0 ? static_cast<uint64_t>(m_timeoutSeconds) * 1000u : kWaitForever;
    CPlatformClock::Instance().WaitOn(
        lock.Native(), run.done, ms, "ZnRemoteExecuteProcess", [&run]() DR_REQUIRES(run.mutex) { return run.finished; },
        false);
    // A handler past its time is asked to stop; its platform waits end at once.
    if (!run.finished) thread.requestStop();
  }
  thread.join();
  // A handler takes platform time only in its platform waits: one still
  // running at the time-out merely ran late on a loaded machine and keeps
  // its answer. Only a wait the stop request ended is a time-out.
  bool timedOut = false;
  {
    CMutexLock lock(run.mutex);
    timedOut = run.cutShort;
    if (!timedOut) outcome = run.outcome;
  }
  if (!timedOut) return 0;
  outcome = SRemoteOutcome();
  outcome.error = "Remote process timed out after [" + std::to_string(m_timeoutSeconds) + "] seconds";
  return kLaunchTimedOut;
}

int ZnRemoteExecuteProcess::remoteExecuteTool(std::string& xml) {
  const std::string requestText = xml;
  SRemoteCommand command;
  command.clientId = m_clientId <= static_cast<unsigned long long>(INT_MAX) ? static_cast<int>(m_clientId) : 0;
  command.command = m_command;
  command.arguments = m_arguments;
  command.argv = SplitArguments(m_command, m_arguments);
  command.startDirectory = m_startDirectory;
  command.wait = m_wait;

  int result = 0;
  SRemoteOutcome outcome;
  App::ExecuteCommandReq request;
  std::string error;
  bool reachable = true;
  if (!request.Unserialize(xml, &error)) {
    result = kLaunchBadRequest;
    outcome.error = "The command request does not read: " + error;
  } else if (command.clientId <= 0 || ZNClient(command.clientId).getClientName(command.clientName) != 0) {
    result = kLaunchUnknownClient;
    outcome.error = "Client [" + std::to_string(m_clientId) + "] is not known";
  } else if (CRemoteExecStore::IsReachable(command.clientId, reachable) != EStoreResult::kOk || !reachable) {
    result = kLaunchUnreachable;
    outcome.error = "Client [" + command.clientName + "] is not reachable";
  } else {
    RemoteExecHandler handler;
    if (!Handlers().Find(command.clientId, handler) && !Handlers().Find(kAnyClient, handler)) {
      outcome.exitCode = kExitNoHandler;
      outcome.error = "No such command on client [" + command.clientName + "]";
    } else {
      result = Run(handler, command, outcome);
      if (result == 0 && outcome.unreachable) {
        result = kLaunchUnreachable;
        if (outcome.error.empty()) outcome.error = "Client [" + command.clientName + "] is not reachable";
      }
    }
  }

  SRemoteExecEntry entry;
  entry.clientId = command.clientId;
  entry.clientName = command.clientName;
  entry.command = m_command;
  entry.arguments = m_arguments;
  entry.argv = command.argv;
  entry.startDirectory = m_startDirectory;
  entry.wait = m_wait;
  entry.result = result;
  entry.exitCode = result == 0 ? outcome.exitCode : 0;
  entry.error = outcome.error;
  if (!CRemoteExecStore::Append(entry)) {
    Error("remoteExecuteTool", "Cannot journal the command on client [%d]", entry.clientId);
  }
  DebugLvl(2, "remoteExecuteTool", "Client [%s] command [%s] arguments [%s] => result [%d] exit code [%d]",
           entry.clientName.c_str(), m_command.c_str(), m_arguments.c_str(), result, entry.exitCode);

  bool written = false;
  if (result != 0) {
    ZNGui::GenericResp reply;
    reply.SetInt32(ZNGui::GenericResp::kErrorCode, ReplyCode(result));
    reply.SetString(ZNGui::GenericResp::kErrorText, outcome.error);
    written = reply.serializeUTF8(xml);
  } else {
    App::ExecuteToolResp reply;
    reply.SetInt32(App::ExecuteToolResp::kExitCode, m_wait ? outcome.exitCode : 0);
    reply.SetString(App::ExecuteToolResp::kErrorText, outcome.error);
    written = reply.serializeUTF8(xml);
  }
  if (!written) xml.clear();
  if (CRequestTap::Enabled()) CRequestTap::Record("remote", App::ExecuteCommandReq::kTypeId, requestText, xml, result);
  return result;
}
