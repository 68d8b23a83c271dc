#include "OracleDBDRBase.h"

#include <ctype.h>
#include <string.h>

#include "appmgr/OracleInstance.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDRInstanceCtx.h"
#include "engine/SDROperationCtx.h"
#include "services/DRAppManager.h"

namespace {

// Characters a shell on the client would not take as plain text.
const char kShellCharacters[] = "'\"`;&|<>$\\()[]{}*?!~#";

// The database backup's options: what a database backup sets.
const int kBackupLevel = 2;
const int kSubRecord8x3Value = 7;

}  // namespace

COracleDBDRBase::COracleDBDRBase(IDROrchestrator& orchestrator) : CAppDRBase(orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

COracleDBDRBase::~COracleDBDRBase() {}

bool COracleDBDRBase::IsSafeScriptArgument(const std::string& text, bool emptyAllowed) {
  if (text.empty()) return emptyAllowed;
  for (unsigned char c : text) {
    if (isspace(c) || iscntrl(c) || strchr(kShellCharacters, c) != nullptr) return false;
  }
  return true;
}

bool COracleDBDRBase::RunSiteScript(SDROperationCtx& ctx, const char* command, const char* function,
                                    const char* request, const char* success) {
  const std::string site = DRHelper::GetSiteStr(ctx.site);
  const std::string list = DRInfoUtils::GetReplStr(ctx.drInfoList);
  m_event.Debug(function, "Received %s request on [%s] site for replication [%s]", request, site.c_str(), list.c_str());
  m_orchestrator->UpdatePhaseForList(0, ctx.drInfoList, ctx, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, "");
  std::string error;
  const bool ran = RunDBCommand(ctx, command, error);
  m_orchestrator->UpdatePhaseForList(0, ctx.drInfoList, ctx,
                                     ran ? Api::VIRTUAL_APP_PHASE_STATE_SUCCESS : Api::VIRTUAL_APP_PHASE_STATE_FAILED,
                                     ran ? std::string() : error);
  if (ran) m_event.Debug(function, "%s on [%s] site for replication [%s]", success, site.c_str(), list.c_str());
  return ran;
}

bool COracleDBDRBase::PowerOn(SDROperationCtx& ctx) {
  return RunSiteScript(ctx, kStartUpCommand, "PowerOn", "start up", "DB startup successful");
}

bool COracleDBDRBase::Shutdown(SDROperationCtx& ctx) {
  return RunSiteScript(ctx, kShutDownCommand, "Shutdown", "shutdown", "DB shutdown successful");
}

bool COracleDBDRBase::RunDBCommand(SDROperationCtx& ctx, std::string& command) {
  std::string error;
  return RunDBCommand(ctx, command, error);
}

bool COracleDBDRBase::LoadInstanceHome(SDROperationCtx& ctx, CDRInfo* machine, SDRInstanceCtx& instance,
                                       std::string& home, std::string& error) {
  if (!LoadInstanceCtx(instance, ctx.site, machine)) {
    error = "Error loading context for instance(s) [" + DRInfoUtils::GetReplStr(ctx.drInfoList) + "]";
    m_event.Error("RunDBCommand", "Error loading context for instance(s) [%s]",
                  DRInfoUtils::GetReplStr(ctx.drInfoList).c_str());
    return false;
  }
  if (OracleInstance(static_cast<unsigned long>(instance.instanceId)).getOracleHome(home, nullptr) != 0) {
    error = "Oracle home of instance [" + std::to_string(instance.instanceId) + "] not readable";
    m_event.Error("RunDBCommand", "Cannot read the Oracle home of instance [%d] [%s]", instance.instanceId,
                  instance.instanceName.c_str());
    return false;
  }
  return true;
}

bool COracleDBDRBase::RunDBCommand(SDROperationCtx& ctx, const std::string& command, std::string& error) {
  if (ctx.drInfoList.empty()) {
    error = "No machine";
    return false;
  }
  SDRInstanceCtx instance;
  std::string home;
  if (!LoadInstanceHome(ctx, ctx.drInfoList.front(), instance, home, error)) return false;
  // The remote client splits the arguments at blanks: a name or home that
  // would split, or that a shell would read, changes the command there.
  if (!IsSafeScriptArgument(instance.clientName, false) || !IsSafeScriptArgument(home, true)) {
    error = "Unsafe client name or Oracle home for instance [" + std::to_string(instance.instanceId) + "]";
    m_event.Error("RunDBCommand",
                  "Refusing [%s] on client [%d]: client name or Oracle home of instance [%d] is not plain text",
                  command.c_str(), instance.clientId, instance.instanceId);
    return false;
  }
  std::string text = command;
  std::string arguments = instance.clientName + " " + home;
  if (!m_appManager->ExecuteRemoteCommand(instance.clientId, text, arguments, true, error)) return false;
  return true;
}

EWorkloadRuns COracleDBDRBase::WorkloadRuns(CDRInfo* info) {
  bool known = true;
  for (const Api::DRSite site : {Api::DR_SITE_SOURCE, Api::DR_SITE_DESTINATION}) {
    SDRInstanceCtx instance;
    std::string home;
    int exitCode = -1;
    std::string error;
    if (!LoadInstanceCtx(instance, site, info) ||
        OracleInstance(static_cast<unsigned long>(instance.instanceId)).getOracleHome(home, nullptr) != 0 ||
        !IsSafeScriptArgument(instance.clientName, false) || !IsSafeScriptArgument(home, true) ||
        !m_appManager->RemoteExitCode(instance.clientId, kStatusCommand, instance.clientName + " " + home, exitCode,
                                      error) ||
        (exitCode != 0 && exitCode != kStatusStopped)) {
      m_event.Debug("WorkloadRuns", "Cannot tell the state of the database of replication [%d]: [%s]",
                    info->GetReplId(), error.c_str());
      known = false;
      continue;
    }
    if (exitCode == 0) return EWorkloadRuns::kRuns;
  }
  return known ? EWorkloadRuns::kNowhere : EWorkloadRuns::kUnknown;
}

bool COracleDBDRBase::GetBkpOptions(CNMessageBase& option, ApplicationId&, std::vector<CDRInfo*>&) {
  using Option = TMMsg::BackupOptionFields;
  option.SetInt32(Option::kField1, kBackupLevel);
  option.MutableMsg(Option::kSubRecord6).SetInt32(TMMsg::DBBackupSubRecord6Fields::kFlag5, 1);
  CNMessageBase& record8 = option.MutableMsg(Option::kSubRecord8);
  CNMessageBase& record3 = record8.MutableMsg(TMMsg::DBBackupSubRecord8Fields::kSubRecord3);
  record3.SetInt32(TMMsg::DBBackupSubRecord8x3Fields::kField1, kSubRecord8x3Value);
  record3.SetInt32(TMMsg::DBBackupSubRecord8x3Fields::kFlag6, 1);
  record3.SetInt32(TMMsg::DBBackupSubRecord8x3Fields::kFlag7, 1);
  record3.SetInt32(TMMsg::DBBackupSubRecord8x3Fields::kFlag14, 1);
  record8.MutableMsg(TMMsg::DBBackupSubRecord8Fields::kSubRecord4).SetInt32(TMMsg::DBBackupSubRecord8x4Fields::kField1,
                                                                           0);
  option.SetInt32(Option::kField17, 1);
  return true;
}
