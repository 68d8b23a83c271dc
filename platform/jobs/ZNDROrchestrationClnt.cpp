#include "jobs/ZNDROrchestrationClnt.h"

#include "jobs/JobStore.h"
#include "log/JobJournal.h"

ZNDROrchestrationClnt::ZNDROrchestrationClnt(long long jobId) : EvEvent(jobId), m_percent(-1) {}

void ZNDROrchestrationClnt::setPercentComplete(int percent) { m_percent = percent; }

int ZNDROrchestrationClnt::updateInfo() {
  if (m_percent < 0) return 0;
  CJobJournal::Instance().SetPercentComplete(getJobId(), m_percent);
  CJobStore::SetPercent(getJobId(), m_percent);
  return 0;
}

int ZNDROrchestrationClnt::setPendingCause(unsigned int code, std::list<long long>*, bool, int, int, int, int, bool,
                                           int, int, int, int) {
  SPendingCause cause;
  cause.jobId = getJobId();
  cause.code = code;
  cause.args = Arguments().Texts();
  CJobJournal::Instance().AddPendingCause(cause);
  CJobStore::SetPendingCause(getJobId(), static_cast<int>(code));
  return 0;
}

int ZNDROrchestrationClnt::getRestartString(std::string& out, int) {
  out = CJobStore::GetRestartString(getJobId());
  return 0;
}
