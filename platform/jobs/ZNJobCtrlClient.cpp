#include "jobs/ZNJobCtrlClient.h"

#include "jobs/JobStore.h"
#include "jobs/LabStore.h"

ZNJobCtrlClient::ZNJobCtrlClient(int) : m_jobId(0), m_ready(false) {}

int ZNJobCtrlClient::Init2(long long jobId, const char* hostName, int, int, std::string& token, void*) {
  if (!hostName || !*hostName) return -1;
  if (CLabStore::HasKnob("jobctrl.down")) return -1;
  m_jobId = jobId;
  m_ready = true;
  token = "JM|" + std::to_string(jobId);
  return 0;
}

bool ZNJobCtrlClient::checkQuitFlag() { return getJMControlOperation() != 0; }

int ZNJobCtrlClient::getJMControlOperation() {
  int op = 0;
  // A read that fails reports no operation this time (the store logs it);
  // the caller polls again.
  if (m_ready && CJobStore::GetControlOperation(m_jobId, op) != EStoreResult::kOk) op = 0;
  return op;
}
