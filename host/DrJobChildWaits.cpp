#include "DrJobChildWaits.h"

#include <utility>
#include <vector>

#include "DrJobArgs.h"
#include "jobs/JobStore.h"
#include "jobs/PhaseRowStore.h"
#include "jobsim/JobSimulator.h"

CChildWaitLines::CChildWaitLines(const std::string& dbPath, Print print)
    : m_db(CDrJobArgs::ShellWord(dbPath)), m_print(std::move(print)) {}

std::string CChildWaitLines::KindOf(int64_t jobId, const SJobRecord& record) {
  SChildJobRecord child;
  if (CJobSimulator::GetJob(jobId, child) == EStoreResult::kOk) {
    return std::string(child.vmChild ? "VM backup" : CJobSimulator::TypeName(child.type, child.snap)) + " job";
  }
  return record.jobType == CJobStore::kTypeWorkflow ? "workflow job" : "job";
}

void CChildWaitLines::Report(int64_t jobId, int64_t childJobId) {
  CMutexLock lk(m_mutex);
  if (m_done.count(childJobId) > 0) return;
  // Whatever cannot be read now is looked at again at the next wait.
  std::vector<long long> naming;
  SJobRecord child;
  if (CPhaseRowStore::JobsNamingChild(childJobId, naming) != EStoreResult::kOk ||
      CJobStore::GetJob(childJobId, child) != EStoreResult::kOk) {
    return;
  }
  long long other = 0;
  bool own = false;
  for (long long id : naming) {
    if (id == jobId) {
      own = true;
    } else if (other == 0) {
      other = id;
    }
  }
  if (other == 0) {
    if (own) m_done.insert(childJobId);
    return;
  }
  SJobRecord launcher;
  if (CJobStore::GetJob(other, launcher) != EStoreResult::kOk) return;
  m_done.insert(childJobId);
  const std::string id = std::to_string(other);
  std::string line = "DR job [" + std::to_string(jobId) + "] waits on " + KindOf(childJobId, child) + " [" +
                     std::to_string(childJobId) + "] [" + child.status + "] of DR job [" + id + "] [" +
                     launcher.status + "] (its phase rows name it)";
  // Nothing but that job moves a child it suspended: the operator must.
  if (child.status == "Suspended") {
    line += "; the child goes on when DR job [" + id + "] runs again (drjob run --db " + m_db + " --job-id " + id +
            ") and ends when it is killed (drjob control --db " + m_db + " --job " + id + " kill)";
  }
  m_print(line);
}
