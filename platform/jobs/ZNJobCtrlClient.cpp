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

bool ZNJobCtrlClient::checkQuitFlag() { return m_ready && CJobStore::GetControlOperation(m_jobId) != 0; }

int ZNJobCtrlClient::getJMControlOperation() { return m_ready ? CJobStore::GetControlOperation(m_jobId) : 0; }
