// The job controller's connection for one job: whether the job has been
// asked to stop, and by which control operation (1 kill, 2 suspend, ...).
// The operation is read from the jobs table, where another process
// ("drjob control", CJobStore::SetControlOperation) sets it.
#pragma once

#include <string>

class ZNJobCtrlClient {
 public:
  explicit ZNJobCtrlClient(int verboseLevel);
  ~ZNJobCtrlClient() = default;

  // 0 on success; fails when the controller is down (CLabStore knob) or no
  // host is given. token receives the controller's token for the job.
  int Init2(long long jobId, const char* hostName, int controlFlags, int platformType, std::string& token,
            void* reserved);
  bool checkQuitFlag();
  int getJMControlOperation();

 private:
  long long m_jobId;
  bool m_ready;
};
