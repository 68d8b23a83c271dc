// The DR job process's client of the job manager for its own job: progress,
// pending cause and the restart string. It is the job's event object, so
// its job id and event arguments are those of the running DR job.
#pragma once

#include <list>
#include <string>

#include "log/EvEvent.h"

class ZNDROrchestrationClnt : public EvEvent {
 public:
  explicit ZNDROrchestrationClnt(long long jobId);
  ~ZNDROrchestrationClnt() override = default;

  // Held until updateInfo sends it.
  void setPercentComplete(int percent);
  // 0 on success.
  int updateInfo();
  // Records the cause (code and the event's gathered arguments, which are
  // then forgotten) on the job; the remaining arguments are the job
  // manager's presentation details. 0 on success.
  int setPendingCause(unsigned int code, std::list<long long>* jobs, bool flag, int msgType, int a, int b, int c,
                      bool notify, int alertLevel, int causeFlags, int d, int e);
  // The restart text the job manager keeps for the job; empty when none.
  // 0 on success; non-zero (out untouched) when it cannot be read.
  int getRestartString(std::string& out, int lookupType);

  int lastPercent() const { return m_percent; }

 private:
  int m_percent;
};
