#include "DRVerdicts.h"

#include "DRHelper.h"
#include "DRInfo.h"
#include "IDRContext.h"
#include "IRepInfo.h"
#include "SDRPriority.h"
#include "jobs/PhaseRowStore.h"
#include "jobs/PhaseTexts.h"
#include "log/EvEvent.h"
#include "repl/ReplicationSources.h"
#include "repl/ReplicationStatusTexts.h"

namespace {

std::string Joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (part.empty()) continue;
    text += (text.empty() ? "" : "; ") + part;
  }
  return text;
}

std::string PhaseName(int phase) { return CPhaseTexts::Phase(phase); }

}  // namespace

void CDRVerdicts::Begin(int64_t jobId, int attempt, TMMsg::DROrchestrationType drType) {
  m_jobId = jobId;
  m_attempt = attempt;
  m_drType = drType;
  m_priorities.clear();
  m_anyStarted = false;
  m_lastOrder = 0;
  m_leftOut.clear();
  m_rowsRead = false;
  m_rowReasons.clear();
  // A failure here leaves the last attempt's verdicts, which the next
  // Record replaces; drjob reads them only after this attempt's summary.
  CMachineVerdictStore::Clear(jobId);
}

void CDRVerdicts::LeftOut(int32_t replicationId, const std::string& name, const std::string& reason) {
  SMachineVerdict v;
  v.jobId = m_jobId;
  v.replicationId = replicationId;
  v.attempt = m_attempt;
  v.name = name;
  v.verdict = EMachineVerdict::kNotReached;
  v.reason = reason;
  m_leftOut.push_back(v);
}

void CDRVerdicts::Started(const std::vector<SDRPriority*>& list) {
  for (SDRPriority* priority : list) {
    m_priorities[priority].started = true;
    m_lastOrder = priority->order;
  }
  m_anyStarted = m_anyStarted || !list.empty();
}

void CDRVerdicts::Ended(const std::vector<SDRPriority*>& list, const std::string& lastError) {
  for (SDRPriority* priority : list) m_priorities[priority].lastError = lastError;
}

void CDRVerdicts::NotTaken(const SDRPriority& priority, const std::string& kind) {
  // Looked up, never inserted: other sub-priorities may look up theirs now.
  const auto run = m_priorities.find(&priority);
  if (run == m_priorities.end()) return;
  run->second.notTaken = "the DR type [" + DRHelper::GetDrTypeStr(m_drType) + "] is not one for " + kind +
                         ": the job did nothing to the machine";
}

void CDRVerdicts::AskRestart(const SDRPriority& priority, IDRContext& context,
                             const std::vector<IDRBaseInfo*>& records) {
  const auto run = m_priorities.find(&priority);
  if (run == m_priorities.end()) return;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr || info->GetPriority() != &priority || info->IsSuccess()) continue;
    run->second.admittedOnRestart[info->GetReplId()] = context.IsAdmittedOnRestart(info);
  }
}

std::string CDRVerdicts::StoredStatus(int32_t replicationId) const {
  SSourcedReplication stored;
  if (CReplicationSources::Get(replicationId, stored) != EStoreResult::kOk) return std::string();
  const bool test =
      m_drType == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER || m_drType == TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER;
  if (test && stored.testFailoverStatus >= 0) {
    const std::string text = CReplicationStatusTexts::TestFailover(stored.testFailoverStatus);
    if (!text.empty()) return "its test failover status is [" + text + "]";
  }
  if (stored.failoverStatus < 0) return std::string();
  const std::string text = CReplicationStatusTexts::Failover(stored.failoverStatus);
  return text.empty() ? std::string() : "its failover status is [" + text + "]";
}

std::string CDRVerdicts::Unexplained(CDRInfo& info, const std::string& stop) const {
  std::string priorityError;
  const auto run = m_priorities.find(info.GetPriority());
  if (stop.empty() && run != m_priorities.end() && !run->second.lastError.empty()) {
    priorityError = "priority [" + std::to_string(info.GetPriority()->order) + "] logged: " + run->second.lastError;
  }
  // A status the job never touched the machine under is another job's.
  return Joined(
      {stop, CleanUpText(info), info.HasBegun() ? StoredStatus(info.GetReplId()) : std::string(), priorityError});
}

std::string CDRVerdicts::CleanUpText(CDRInfo& info) {
  if (info.HasStepBegun()) return std::string();
  // Every phase of a machine no step took up is its clean-up's: the VM
  // operations that bring a machine back after a failure.
  const Api::VirtualAppJobPhaseType phases[] = {Api::VIRTUAL_APP_PHASE_POWER_ON, Api::VIRTUAL_APP_PHASE_POWER_OFF,
                                                Api::VIRTUAL_APP_PHASE_SHUTDOWN};
  std::vector<std::string> done;
  for (const Api::DRSite site : {Api::DR_SITE_SOURCE, Api::DR_SITE_DESTINATION}) {
    for (const Api::VirtualAppJobPhaseType phase : phases) {
      if (info.GetPhaseState(phase, site) != Api::VIRTUAL_APP_PHASE_STATE_SUCCESS) continue;
      done.push_back("[" + PhaseName(phase) + "] on its " + (site == Api::DR_SITE_SOURCE ? "source VM" : "DR VM"));
    }
  }
  std::string text;
  for (const std::string& one : done) text += (text.empty() ? "the job's clean-up ran " : " and ") + one;
  return text;
}

bool CDRVerdicts::RestartTakesOver(CDRInfo& info, const SMachineVerdict& v) const {
  // A restart counts a machine done as succeeded again and resumes what a
  // suspension left pending.
  if (v.verdict == EMachineVerdict::kSucceeded || v.verdict == EMachineVerdict::kNotProcessed) return true;
  const auto run = m_priorities.find(info.GetPriority());
  if (run == m_priorities.end()) return true;
  if (!run->second.notTaken.empty()) return false;
  // A machine a stop cut short mid-step is the restart's only where its
  // eligibility test, the move check included, admits it on the statuses
  // the clean-up left.
  const auto asked = run->second.admittedOnRestart.find(info.GetReplId());
  return asked == run->second.admittedOnRestart.end() || asked->second;
}

std::string CDRVerdicts::RowReason(int32_t replicationId, int phase) const {
  if (!m_rowsRead) {
    m_rowsRead = true;
    std::vector<SPhaseRowRecord> rows;
    if (CPhaseRowStore::ReadJob(m_jobId, rows) == EStoreResult::kOk) {
      for (const SPhaseRowRecord& row : rows) {
        if (row.status == Api::VIRTUAL_APP_PHASE_STATE_FAILED && !row.failureReason.empty()) {
          m_rowReasons[std::make_pair(row.replicationId, row.phase)] = row.failureReason;
        }
      }
    }
  }
  const auto found = m_rowReasons.find(std::make_pair(replicationId, phase));
  return found == m_rowReasons.end() ? std::string() : found->second;
}

SMachineVerdict CDRVerdicts::Blank(CDRInfo& info) const {
  SMachineVerdict v;
  v.jobId = m_jobId;
  v.replicationId = info.GetReplId();
  v.attempt = m_attempt;
  IRepInfo* rep = info.GetRepInfo();
  if (rep != nullptr) v.name = rep->GetSourceName();
  return v;
}

SMachineVerdict CDRVerdicts::Judge(CDRInfo& info, bool killed, bool suspended) const {
  SMachineVerdict v = Verdict(info, killed, suspended);
  v.restartTakesOver = RestartTakesOver(info, v);
  return v;
}

SMachineVerdict CDRVerdicts::Verdict(CDRInfo& info, bool killed, bool suspended) const {
  SMachineVerdict v = Blank(info);
  const char* stop = killed ? "killed" : suspended ? "suspended" : nullptr;
  const SDRPhaseCtx last = info.GetLastPhase();
  const char* when = last.state == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS ? " during phase [" : " after phase [";
  std::string after;
  if (info.HasStepBegun()) {
    after = when + PhaseName(last.phase) + "]";
  } else if (info.HasBegun()) {
    after = " before its first step on the machine";
  }
  const auto run = m_priorities.find(info.GetPriority());
  const std::string notTaken = run != m_priorities.end() ? run->second.notTaken : std::string();
  // The summary's categories, in its order.
  if (info.IsSuccess()) {
    v.verdict = EMachineVerdict::kSucceeded;
    return v;
  }
  if (info.IsSkipped()) {
    v.verdict = EMachineVerdict::kSkipped;
    v.reason = info.GetSkipReason();
    return v;
  }
  if (info.IsPending()) {
    v.verdict = EMachineVerdict::kNotProcessed;
    v.reason = std::string("the job was ") + (suspended ? "suspended" : "left pending") + after;
    return v;
  }
  SDRPhaseCtx failure;
  if (info.GetFirstFailure(failure)) {
    v.verdict = EMachineVerdict::kFailed;
    v.phase = PhaseName(failure.phase);
    v.reason = failure.message;
    if (v.reason.empty()) v.reason = RowReason(v.replicationId, failure.phase);
    if (v.reason.empty()) v.reason = Unexplained(info, stop != nullptr ? std::string("the job was ") + stop : "");
    return v;
  }
  const bool started = run != m_priorities.end() && run->second.started;
  const int32_t order = info.GetPriority() != nullptr ? info.GetPriority()->order : 0;
  if (!notTaken.empty() && !info.HasBegun()) {
    v.verdict = EMachineVerdict::kFailed;
    v.reason = notTaken;
    return v;
  }
  if (!info.HasBegun() && (!started || stop != nullptr)) {
    v.verdict = EMachineVerdict::kNotReached;
    if (started) {
      v.reason = std::string("the job was ") + stop + " before it began the machine";
    } else if (stop != nullptr) {
      v.reason = std::string("the job was ") + stop + " before priority [" + std::to_string(order) + "] began";
    } else if (m_anyStarted) {
      v.reason = "the job stopped after priority [" + std::to_string(m_lastOrder) + "], before priority [" +
                 std::to_string(order) + "] (the DR group does not continue after a failed priority)";
    } else {
      v.reason = "the job ended before its first priority";
    }
    return v;
  }
  v.verdict = EMachineVerdict::kFailed;
  v.reason = Unexplained(info, stop != nullptr ? std::string("the job was ") + stop + after : "");
  if (v.reason.empty() && !info.HasBegun()) {
    v.reason = "its priority ended before it began the machine";
  } else if (v.reason.empty() && !info.HasStepBegun()) {
    v.reason = "its priority ended before the machine's first step";
  } else if (v.reason.empty()) {
    v.reason = "no phase of it failed, but it did not finish" + after;
  }
  return v;
}

bool CDRVerdicts::Store(std::vector<SMachineVerdict>& verdicts) {
  for (const SMachineVerdict& left : m_leftOut) verdicts.push_back(left);
  for (size_t i = 0; i < verdicts.size(); ++i) verdicts[i].position = static_cast<int>(i);
  if (CMachineVerdictStore::Replace(m_jobId, verdicts)) return true;
  EvEvent event(m_jobId);
  event.Error("RecordVerdicts", "Cannot store the verdicts of the [%zu] machines of DR job [%lld]", verdicts.size(),
              static_cast<long long>(m_jobId));
  return false;
}

bool CDRVerdicts::Record(const std::vector<IDRBaseInfo*>& records, bool killed, bool suspended) {
  std::vector<SMachineVerdict> verdicts;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info != nullptr) verdicts.push_back(Judge(*info, killed, suspended));
  }
  return Store(verdicts);
}

bool CDRVerdicts::RecordNotReached(const std::vector<IDRBaseInfo*>& records, const std::string& reason) {
  std::vector<SMachineVerdict> verdicts;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr) continue;
    SMachineVerdict v = Blank(*info);
    v.verdict = EMachineVerdict::kNotReached;
    v.reason = reason;
    verdicts.push_back(v);
  }
  return Store(verdicts);
}
