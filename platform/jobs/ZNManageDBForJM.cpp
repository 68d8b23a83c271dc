#include "jobs/ZNManageDBForJM.h"

#include "jobs/JobStore.h"

int ZNManageDBForJM::setRestartStringForJobId(long long jobId, const std::string& text, int) {
  if (CJobStore::SetRestartString(jobId, text)) return 0;
  SJobRecord job;
  job.jobId = jobId;
  job.jobType = CJobStore::kTypeDR;
  job.restartString = text;
  return CJobStore::CreateJob(job) != 0 ? 0 : -1;
}

int ZNManageDBForJM::getRestartStringForJobId(long long jobId, std::string& text) {
  text = CJobStore::GetRestartString(jobId);
  return 0;
}
