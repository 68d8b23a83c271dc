// INTERIM, removed when the services branch lands (see the header). Each
// body does the least that keeps the engine's behaviour observable: no job
// controller, no database, no approval workflow, no mail.
#include "InterimServiceBodies.h"

#include "DRAppManager.h"
#include "DRJobManager.h"
#include "time/PlatformClock.h"

int VmAuxOps::SendEmail(const std::string&, const std::string&, const std::string&, const std::string&,
                        const std::string&) {
  return -1;
}

bool CDRJobManager::IsQuitFlagSet() { return m_killIssued.load() || m_suspended.load(); }

void CDRJobManager::UpdatePercentComplete(int percent) {
  if (percent > 99) percent = 99;
  if (percent <= 0) return;
  m_event.DebugLvl(4, "UpdatePercentComplete", "Percent complete [%d]", percent);
}

void CDRJobManager::SetPendingCause(int code, ArgumentInfo*) {
  m_event.Debug("SetPendingCause", "Pending cause [0x%x]", static_cast<unsigned>(code));
}

void CDRJobManager::Wait(int milliseconds, std::string reason) {
  if (milliseconds < 60000) {
    m_event.DebugLvl(4, "Wait", "[%s]. Checking back in [%d] seconds ...", reason.c_str(), milliseconds / 1000);
  } else {
    m_event.Debug("Wait", "[%s]. Checking back in [%d] seconds ...", reason.c_str(), milliseconds / 1000);
  }
  CPlatformClock::Instance().Sleep(milliseconds < 0 ? 0 : static_cast<uint64_t>(milliseconds), "DRJobManager");
}

bool CDRJobManager::WaitForJobCompletionDBPoll(long long&, int) { return false; }

int CDRJobManager::GetVirtualAppPhaseState(long long, int) { return -1; }

bool CDRJobManager::StartDRApprovalJob(const std::string&, int, int, int, long long, long long&) { return false; }

bool CDRAppManager::Initialize(int, TMMsg::JobOption*) { return false; }

bool CDRAppManager::CheckIfEmailsCanBeSend(std::string&) { return false; }
