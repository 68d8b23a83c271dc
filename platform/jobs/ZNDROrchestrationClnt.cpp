#include "jobs/ZNDROrchestrationClnt.h"

#include "jobs/JobStore.h"
#include "log/JobJournal.h"

ZNDROrchestrationClnt::ZNDROrchestrationClnt(long long jobId) : EvEvent(jobId), m_percent(-1) {}

void ZNDROrchestrationClnt::setPercentComplete(int percent) { m_percent = percent; }

int ZNDROrchestrationClnt::updateInfo() {
  if (m_percent < 0) return 0;
  CJobJournal::Instance().SetPercentComplete(getJobId(), m_percent);
  return CJobStore::SetPercent(getJobId(), m_percent) == EStoreResult::kOk ? 0 : -1;
}

int ZNDROrchestrationClnt::setPendingCause(unsigned int code, std::list<long long>*, bool, int, int, int, int, bool,
                                           int, int, int, int) {
  SPendingCause cause;
  cause.jobId = getJobId();
  cause.code = code;
  cause.args = TakeArgumentTexts();
  CJobJournal::Instance().AddPendingCause(cause);
  return CJobStore::SetPendingCause(getJobId(), static_cast<int>(code)) == EStoreResult::kOk ? 0 : -1;
}

int ZNDROrchestrationClnt::getRestartString(std::string& out, int) {
  std::string text;
  // A job the job manager does not know has no restart text; a failed read
  // is an error, never an empty text.
  const EStoreResult read = CJobStore::GetRestartString(getJobId(), text);
  if (read == EStoreResult::kFailed) return -1;
  out = text;
  return 0;
}
