#include "jobs/ZNManageDBForJM.h"

#include "jobs/JobStore.h"

int ZNManageDBForJM::setRestartStringForJobId(long long jobId, const std::string& text, int) {
  // A job the store does not know is an error, never a reason to create one:
  // a record made here would hold nothing but the restart string.
  switch (CJobStore::SetRestartString(jobId, text)) {
    case EStoreResult::kOk: return 0;
    case EStoreResult::kMissing: return kNoSuchJob;
    default: return kDatabaseError;
  }
}

int ZNManageDBForJM::getRestartStringForJobId(long long jobId, std::string& text) {
  std::string stored;
  const EStoreResult read = CJobStore::GetRestartString(jobId, stored);
  if (read == EStoreResult::kFailed) return kDatabaseError;
  text = stored;
  return 0;
}
