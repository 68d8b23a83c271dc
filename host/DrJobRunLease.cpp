#include "DrJobRunLease.h"

#include <stdio.h>

#include "DrJobOutput.h"
#include "jobs/JobStore.h"

CRunLease::~CRunLease() {
  if (CJobStore::ReleaseRunLease(m_jobId, m_self) != EStoreResult::kFailed) return;
  fprintf(stderr, "drjob: DR job [%lld]: cannot give back its run lease (%s); the next run takes it over\n", m_jobId,
          CDrJobOutput::DatabaseReason().c_str());
}
