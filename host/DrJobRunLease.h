// A run lease this process holds on a DR job (CJobStore::TakeRunLease), given
// back however the holder's scope ends: by a run when it has stored its final
// state, by drjob control when it has ended a job no process ran. A process
// killed outright leaves it to be taken over.
#pragma once

#include "core/ProcessIdentity.h"

class CRunLease {
 public:
  // The lease must have been taken by self.
  CRunLease(long long jobId, const SProcessId& self) : m_jobId(jobId), m_self(self) {}
  // A lease that cannot be given back is one line on stderr.
  ~CRunLease();
  CRunLease(const CRunLease&) = delete;
  CRunLease& operator=(const CRunLease&) = delete;

 private:
  long long m_jobId;
  SProcessId m_self;
};
