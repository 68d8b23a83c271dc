// Commands the application contexts run on remote clients (database start-up
// and shut-down scripts), through the platform's remote execution.
#include <string>

#include "DRAppManager.h"
#include "appmgr/ZNClient.h"
#include "appmgr/ZnRemoteExecuteProcess.h"

namespace {

const int kRemoteCommandTimeoutSeconds = 60;
// The kind of installation folder a remote command starts in: the base one.
const int kBaseInstallDirectory = 4;

}  // namespace

bool CDRAppManager::ExecuteRemoteCommand(int clientId, std::string& command, std::string& arguments, bool wait) {
  std::string error;
  return ExecuteRemoteCommand(clientId, command, arguments, wait, error);
}

bool CDRAppManager::ExecuteRemoteCommand(int clientId, std::string& command, std::string& arguments, bool wait,
                                         std::string& error) {
  int exitCode = 0;
  if (!RunRemote(clientId, command, arguments, wait, true, exitCode, error)) return false;
  if (exitCode == 0) return true;
  m_event.Error("ExecuteRemoteCommand", "%s", error.c_str());
  return false;
}

bool CDRAppManager::RemoteExitCode(int clientId, const std::string& command, const std::string& arguments,
                                   int& exitCode, std::string& error) {
  return RunRemote(clientId, command, arguments, true, false, exitCode, error);
}

bool CDRAppManager::RunRemote(int clientId, const std::string& command, const std::string& arguments, bool wait,
                              bool errors, int& exitCode, std::string& error) {
  auto fail = [&](const std::string& text) {
    error = text;
    if (errors) {
      m_event.Error("ExecuteRemoteCommand", "%s", error.c_str());
    } else {
      m_event.Debug("ExecuteRemoteCommand", "%s", error.c_str());
    }
    return false;
  };
  ZNClient client(clientId);
  std::string installDirectory;
  std::string clientName;
  if (client.getInstallDirectory(installDirectory, kBaseInstallDirectory, nullptr) != 0 ||
      client.getClientName(clientName) != 0) {
    return fail("Cannot read the installation folder of client [" + std::to_string(clientId) + "]");
  }
  const std::string startDirectory = installDirectory + "/" + "Base";

  App::ExecuteCommandReq request;
  request.SetString(App::ExecuteCommandReq::kStartDirectory, startDirectory);
  request.SetString(App::ExecuteCommandReq::kCommand, command);
  request.MutableMsg(App::ExecuteCommandReq::kClient).SetString(ZnEntities::ClientEntity::kClientName, clientName);
  request.SetString(App::ExecuteCommandReq::kArguments, arguments);
  request.SetInt32(App::ExecuteCommandReq::kWait, wait ? 1 : 0);
  std::string xml;
  if (!request.serializeUTF8(xml)) return fail("Error in serializing ExecuteCommandReq request");
  m_event.Debug("ExecuteRemoteCommand", "ExecuteCommandReq request %s", xml.c_str());

  ZnRemoteExecuteProcess process(static_cast<unsigned long>(clientId), command, arguments, startDirectory, wait,
                                 kRemoteCommandTimeoutSeconds);
  const int launched = process.remoteExecuteTool(xml);
  if (launched != 0) {
    ZNGui::GenericResp reply;
    reply.Unserialize(xml);
    return fail("Failed to launch process on remote machine [" + clientName + "] with error code [" +
                std::to_string(launched) + "] and error msg [" + reply.GetString(ZNGui::GenericResp::kErrorText) +
                "]");
  }
  App::ExecuteToolResp reply;
  std::string unread;
  if (!reply.Unserialize(xml, &unread)) {
    return fail("Cannot read the reply of remote machine [" + clientName + "]: [" + unread + "]");
  }
  exitCode = reply.GetInt32(App::ExecuteToolResp::kExitCode);
  if (exitCode != 0) {
    error = "Failed to execute process on remote machine [" + clientName + "] with exit code [" +
            std::to_string(exitCode) + "] and error msg [" + reply.GetString(App::ExecuteToolResp::kErrorText) + "]";
  }
  return true;
}
