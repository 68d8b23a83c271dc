// Approval before the run, and the end of it: the DR job's final state, the
// summary e-mail and the job summary report.
#include <string>

#include "DRBase.h"
#include "DRHelper.h"
#include "DRInfo.h"
#include "drorch/DRJobManager.h"
#include "Db/Tbl/App_VirtualAppJobStats.h"
#include "IDRBaseInfo.h"
#include "ZnCriticalSectionLock.h"
#include "log/ArgumentInfo.h"
#include "vm/VmAuxOps.h"

namespace {

const uint32_t kDRMessageEvent = 0x4800006A;
const int kApprovalCannotStart = 0x480000A6;
// The phase row the approval workflow writes its outcome to.
const int kApprovalPhase = 27;

}  // namespace

bool CDRBase::GetDRApproval() {
  const int32_t vAppId = m_appManager.GetVAppId();
  if (vAppId <= 0) return true;
  const Api::VirtualApp& app = m_appManager.GetVirtualApp();
  if (!app.Has(Api::VirtualApp::kApprovalRequired) || app.GetInt32(Api::VirtualApp::kApprovalRequired) == 0)
    return true;

  long long approvalJobId = 0;
  if (!m_jobManager->StartDRApprovalJob(DRHelper::GetDrTypeStr(m_drType), m_jobManager->GetUserID(),
                                        m_appManager.GetClientID(), vAppId, m_jobId, approvalJobId)) {
    m_jobManager->SetPendingCause(kApprovalCannotStart, nullptr);
    return false;
  }
  m_jobManager->WaitForJobCompletionDBPoll(approvalJobId, 2);
  return m_jobManager->GetVirtualAppPhaseState(m_jobId, kApprovalPhase) ==
         Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
}

void CDRBase::SummarizeDRList(int32_t& succeeded, int32_t& skipped, int32_t& skippedDRComplete, int32_t& failed,
                              int32_t& pending) {
  for (IDRBaseInfo* info : m_drInfoList) {
    if (info->IsSuccess()) {
      ++succeeded;
    } else if (info->IsSkipped()) {
      ++skipped;
      if (info->IsDRComplete()) ++skippedDRComplete;
    } else if (info->IsPending()) {
      ++pending;
    } else {
      ++failed;
    }
  }
}

bool CDRBase::AnySkippedAfterOwnFailure() {
  for (IDRBaseInfo* base : m_drInfoList) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info != nullptr && info->IsSkipped() && info->IsSkippedAfterOwnFailure()) return true;
  }
  return false;
}

void CDRBase::LogResults() {
  if (m_jobManager->IsDRJobCleanupPhase()) return;

  int32_t succeeded = 0, skipped = 0, skippedDRComplete = 0, failed = 0, pending = 0;
  SummarizeDRList(succeeded, skipped, skippedDRComplete, failed, pending);
  bool pendingState = false;

  if (succeeded > 0) {
    if (pending > 0) {
      m_jobManager->SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
      pendingState = true;
    } else if (failed > 0) {
      m_jobManager->SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS);
    } else if (skipped > 0) {
      // A restart that skipped what its own earlier run left failed has not
      // finished the job's work, whatever else it did.
      m_jobManager->SetDRJobState(AnySkippedAfterOwnFailure() ? Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS
                                                              : Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
    }
    // All succeeded, none skipped: the job manager's state stands.
  } else if (KilledInWork()) {
    m_jobManager->SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_KILLED);
  } else if (pending > 0) {
    m_jobManager->SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_PENDING);
    pendingState = true;
  } else {
    m_jobManager->SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  }
  // A stop first found once the work was over (by the loop's look after a
  // failed last priority, which only chooses how the loop ends) changed
  // nothing the job did: the state and the verdicts are those of the work.
  const bool suspended = SuspendedInWork();
  if (suspended) m_jobManager->SetDRJobState(Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED);
  m_verdicts.Record(m_drInfoList, KilledInWork(), suspended);

  SendEmails();

  m_event.Debug("", "======== JOB SUMMARY REPORT DR OPERATION ==========");
  m_event.Debug("", " Total machines for DR        [%d]", static_cast<int>(m_drInfoList.size()));
  if (succeeded > 0) m_event.Debug("", " Total machines succeeded     [%d]", succeeded);
  if (failed > 0 && !suspended && !pendingState) m_event.Debug("", " Total machines failed        [%d]", failed);
  if (skipped > 0) m_event.Debug("", " Total machines skipped       [%d]", skipped);
  if (pending > 0 && (suspended || pendingState)) {
    m_event.Debug("", " Total machines not processed [%d]", pending);
  }
  m_event.Debug("", "===================================================");
}

void CDRBase::SendEmails() {
  std::string recipient;
  if (!m_appManager.CheckIfEmailsCanBeSend(recipient)) return;
  std::string body;
  for (IDRBaseInfo* info : m_drInfoList) {
    std::string message = info->GetReportMsg();
    if (message.empty()) continue;
    body += message;
    body += "\n\n";
  }
  if (body.empty()) return;
  if (VmAuxOps::SendEmail("DROrchestration Report", body, recipient, "", "") == 0) {
    m_event.Debug("SendEmails", "User email sent to [%s]", recipient.c_str());
  }
}

void CDRBase::LogMessage(const char* function, std::string message, ZNDR::E_DR_EVENT_TYPE type, bool raiseEvent) {
  m_event.Debug(function, "%s", message.c_str());
  if (!raiseEvent) return;
  ZnCriticalSectionLock lock(&m_eventLock);
  RaiseMessageEvent(message, type);
}

void CDRBase::RaiseMessageEvent(const std::string& message, ZNDR::E_DR_EVENT_TYPE type) {
  switch (type) {
    case ZNDR::DR_EVENT_INFO:
      m_event << message.c_str();
      m_event.InfoEvent(kDRMessageEvent, 0, 0);
      break;
    case ZNDR::DR_EVENT_CRITICAL:
      m_event << message.c_str();
      m_event.CriticalEvent(kDRMessageEvent, 0, 0);
      break;
    case ZNDR::DR_EVENT_MINOR:
      m_event << message.c_str();
      m_event.MinorEvent(kDRMessageEvent, 0, 0);
      break;
    case ZNDR::DR_EVENT_MAJOR:
      m_event << message.c_str();
      m_event.MajorEvent(kDRMessageEvent, 0, 0);
      break;
    default:
      break;
  }
}

bool CDRBase::SetFinalizeStatus(int64_t jobId, int32_t status) {
  EvEvent event(jobId);
  App_VirtualAppJobStats table(nullptr);
  // Job ids are 64-bit: narrowing one here would finalize another job's row.
  table.setWhere("jobId =%lld and phase =26", static_cast<long long>(jobId));
  event.Debug("SetFinalizeStatus", "Setting finalize status as [%d] for VSDR ", status);
  int rc = table.rowUpdate("status = %d", status);
  if (rc == 0 || rc == 100) return true;
  event.Error("SetFinalizeStatus",
              "Failed to update finalize status in App_VirtualAppJobStats tbl RetCode[%d] ErrorString[%s]", rc,
              table.getErrorStr(rc).c_str());
  return false;
}
