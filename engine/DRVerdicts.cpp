#include "DRVerdicts.h"

#include <ctype.h>
#include <stdlib.h>

#include <algorithm>
#include <set>

#include "DRHelper.h"
#include "DRInfo.h"
#include "IDRAdmission.h"
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

bool IsWordChar(char c) { return isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

std::string Lower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The text in the brackets that follow the word at `at` (and at most one
// more word: "replication Id [102]", "replication list [101,102]"); false
// when no bracket follows.
bool BracketAfterWord(const std::string& text, size_t at, std::string& inside) {
  size_t i = at;
  for (int words = 0; words < 2; ++words) {
    while (i < text.size() && IsWordChar(text[i])) ++i;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && text[i] == '[') {
      const size_t end = text.find(']', i);
      if (end == std::string::npos) return false;
      inside = text.substr(i + 1, end - i - 1);
      return true;
    }
  }
  return false;
}

// What an error names of the machines: the replication ids in brackets
// after a word that begins with "repl" ("replication [101]", "repl inputs
// [101,102]"), and the VM names after the word "VM". A bracket after such
// a word that holds anything but ids names none; one that holds ids is read
// as replications even after "Replication group", which only narrows whom
// the error is told to.
void NamedMachines(const std::string& error, std::set<int32_t>& ids, std::set<std::string>& vms) {
  const std::string lower = Lower(error);
  for (size_t at = lower.find("repl"); at != std::string::npos; at = lower.find("repl", at + 1)) {
    if (at > 0 && IsWordChar(lower[at - 1])) continue;
    std::string inside;
    if (!BracketAfterWord(lower, at, inside)) continue;
    if (inside.find_first_not_of("0123456789, ") != std::string::npos) continue;
    for (size_t i = 0; i < inside.size();) {
      const size_t digits = inside.find_first_of("0123456789", i);
      if (digits == std::string::npos) break;
      const size_t end = inside.find_first_not_of("0123456789", digits);
      ids.insert(atoi(inside.substr(digits, end == std::string::npos ? std::string::npos : end - digits).c_str()));
      i = end == std::string::npos ? inside.size() : end;
    }
  }
  for (size_t at = lower.find("vm ["); at != std::string::npos; at = lower.find("vm [", at + 1)) {
    if (at > 0 && IsWordChar(lower[at - 1])) continue;
    const size_t end = error.find(']', at + 4);
    if (end != std::string::npos) vms.insert(error.substr(at + 4, end - at - 4));
  }
}

// The DR types a machine the job left short of its goal is pointed at, the
// job's own first: those whose uninterrupted run puts it where the job's
// would have, so that the next step carries the job on and never moves the
// workload back the way it came. After a failover type, a failover type;
// after a failback, a revert or an undo, a type that brings the workload
// home (the ways that discard what ran at DR after the revert and the
// undo, the failback's first after a failback); after a test failover,
// itself or its undo; after any other type, that type alone. A type the
// machine's kind of replication has no context for takes nothing (a
// storage-array priority knows no failback, a database one only its
// failover), so each kind keeps to its own types.
std::vector<TMMsg::DROrchestrationType> TakingTypes(TMMsg::DROrchestrationType own) {
  using T = TMMsg::DROrchestrationType;
  const T planned = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, unplanned = TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER,
          pointInTime = TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, failback = TMMsg::DR_ORCHESTRATION_FAILBACK,
          undo = TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, revert = TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER;
  std::vector<T> order;
  switch (own) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER:
      order = {planned, unplanned, pointInTime};
      break;
    case TMMsg::DR_ORCHESTRATION_FAILBACK:
      order = {failback, undo, revert};
      break;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER:
      order = {undo, revert, failback};
      break;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      order = {own, TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER};
      break;
    default:
      return {own};
  }
  const auto found = std::find(order.begin(), order.end(), own);
  if (found != order.end()) std::rotate(order.begin(), found, found + 1);
  return order;
}

// The types that bring up a workload that runs nowhere, in the order they
// are looked for: those that carry the job forward first (TakingTypes),
// then any other that starts the workload at the source or at DR. A
// point-in-time failover needs a time a command without the job's options
// lacks, and the test types, the testboot and the clean-up start no
// workload.
std::vector<TMMsg::DROrchestrationType> NowhereTypes(TMMsg::DROrchestrationType own) {
  const TMMsg::DROrchestrationType starting[] = {
      TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER,
      TMMsg::DR_ORCHESTRATION_FAILBACK, TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER};
  std::vector<TMMsg::DROrchestrationType> order;
  for (const TMMsg::DROrchestrationType type : TakingTypes(own)) {
    if (std::find(std::begin(starting), std::end(starting), type) != std::end(starting)) order.push_back(type);
  }
  for (const TMMsg::DROrchestrationType type : starting) {
    if (std::find(order.begin(), order.end(), type) == order.end()) order.push_back(type);
  }
  return order;
}

int Bit(TMMsg::DROrchestrationType type) { return 1 << static_cast<int>(type); }

// Where the DR type puts the machines it completes, as a place a machine
// may already stand.
EMachinePlace PlaceOf(TMMsg::DROrchestrationType type) {
  switch (type) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER:
      return EMachinePlace::kFailedOver;
    case TMMsg::DR_ORCHESTRATION_FAILBACK:
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
    case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER:
      return EMachinePlace::kAtSource;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      return EMachinePlace::kInTestFailover;
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      return EMachinePlace::kNoTestFailover;
    default:
      return EMachinePlace::kNone;
  }
}

}  // namespace

bool CDRVerdicts::IsMachinesError(CDRInfo& info, const std::string& error) {
  std::set<int32_t> ids;
  std::set<std::string> vms;
  NamedMachines(error, ids, vms);
  if (ids.empty() && vms.empty()) return true;
  if (ids.count(info.GetReplId()) != 0) return true;
  IRepInfo* rep = info.GetRepInfo();
  if (rep == nullptr || vms.empty()) return false;
  return vms.count(rep->GetSourceName()) != 0 || vms.count(rep->GetDestinationName()) != 0;
}

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

void CDRVerdicts::AskAdmissions(const SDRPriority& priority, IDRContext& context,
                                const std::vector<IDRBaseInfo*>& records) {
  Ask(priority, &context, records);
}

void CDRVerdicts::Ask(const SDRPriority& priority, IDRContext* context, const std::vector<IDRBaseInfo*>& records) {
  const auto run = m_priorities.find(&priority);
  if (run == m_priorities.end()) return;
  IDRAdmission* own = dynamic_cast<IDRAdmission*>(context);
  if (context != nullptr && own == nullptr) return;  // it answers nothing
  // No context of the job's type: its kind does not take the type.
  if (!run->second.notTaken.empty()) own = nullptr;
  // The contexts of the other types, made once each, when first needed.
  std::map<TMMsg::DROrchestrationType, std::unique_ptr<IDRContext>> others;
  auto takes = [&](CDRInfo* info, TMMsg::DROrchestrationType type) {
    auto made = others.find(type);
    if (made == others.end()) {
      IDRContext* other = m_makeContext ? m_makeContext(priority, type) : nullptr;
      made = others.emplace(type, std::unique_ptr<IDRContext>(other)).first;
    }
    IDRAdmission* admission = dynamic_cast<IDRAdmission*>(made->second.get());
    return admission != nullptr && admission->IsAdmittedOnNewJob(info, type);
  };
  auto first = [&](CDRInfo* info, const SAdmission& asked, const std::vector<TMMsg::DROrchestrationType>& types) {
    for (const TMMsg::DROrchestrationType type : types) {
      if (type == m_drType ? asked.newJob : takes(info, type)) return type;
    }
    return TMMsg::DR_ORCHESTRATION_NONE;
  };
  const std::vector<TMMsg::DROrchestrationType> order = TakingTypes(m_drType);
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr || info->GetPriority() != &priority) continue;
    SAdmission asked;
    asked.restart = own != nullptr && (info->IsSuccess() || own->IsAdmittedOnRestart(info));
    // A machine whose replication is gone is in no DR group: no new job
    // takes it, whatever its record last held.
    const bool removed = info->IsReplicationRemoved();
    asked.newJob = !removed && own != nullptr && own->IsAdmittedOnNewJob(info, m_drType);
    if (asked.newJob) asked.takenBy |= Bit(m_drType);
    // One the job did not finish but that stands where its type puts it
    // needs no type: whatever skipped it, or an earlier job, put it there.
    asked.inPlace = own != nullptr && !info->IsSuccess() && own->IsInPlace(info);
    asked.runs = own != nullptr ? own->WorkloadRuns(info) : EWorkloadRuns::kUnknown;
    if (!info->IsSuccess() && !asked.inPlace && !removed) {
      asked.taking = first(info, asked, order);
      // A failover refuses a machine whose test failover stands: the undo
      // test failover clears the way, and the failover follows it.
      if (asked.taking == TMMsg::DR_ORCHESTRATION_NONE && PlaceOf(m_drType) == EMachinePlace::kFailedOver &&
          takes(info, TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER)) {
        asked.taking = TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER;
      }
    }
    // Whatever the job did of it, a workload that runs nowhere is carried
    // forward by any type that brings it up, of either direction.
    const bool nowhere = asked.runs == EWorkloadRuns::kNowhere;
    if (nowhere && asked.taking == TMMsg::DR_ORCHESTRATION_NONE && !removed) {
      asked.taking = first(info, asked, NowhereTypes(m_drType));
    }
    if (!asked.inPlace || nowhere) asked.option = NeededOption(*info, asked.taking);
    run->second.admissions[info->GetReplId()] = asked;
  }
}

void CDRVerdicts::AskTakers(const std::vector<IDRBaseInfo*>& records) {
  // The types the next steps name besides the job's own, whose answers the
  // job's own new job and restart already gave.
  std::set<TMMsg::DROrchestrationType> named;
  for (const auto& run : m_priorities) {
    for (const auto& asked : run.second.admissions) {
      if (asked.second.taking != TMMsg::DR_ORCHESTRATION_NONE && asked.second.taking != m_drType) {
        named.insert(asked.second.taking);
      }
    }
  }
  if (named.empty() || !m_makeContext) return;
  std::map<const SDRPriority*, std::vector<CDRInfo*>> byPriority;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info != nullptr && info->GetPriority() != nullptr) byPriority[info->GetPriority()].push_back(info);
  }
  for (const auto& priority : byPriority) {
    SPriorityRun& run = m_priorities[priority.first];
    for (const TMMsg::DROrchestrationType type : named) {
      std::unique_ptr<IDRContext> context(m_makeContext(*priority.first, type));
      IDRAdmission* admission = dynamic_cast<IDRAdmission*>(context.get());
      if (admission == nullptr) continue;
      for (CDRInfo* info : priority.second) {
        if (info->IsReplicationRemoved() || !admission->IsAdmittedOnNewJob(info, type)) continue;
        run.admissions[info->GetReplId()].takenBy |= Bit(type);
      }
    }
  }
}

void CDRVerdicts::AskTheRest(const std::vector<IDRBaseInfo*>& records) {
  if (!m_makeContext) return;
  std::vector<const SDRPriority*> asked;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr || info->GetPriority() == nullptr) continue;
    const SDRPriority* priority = info->GetPriority();
    if (std::find(asked.begin(), asked.end(), priority) != asked.end()) continue;
    asked.push_back(priority);
    SPriorityRun& run = m_priorities[priority];
    if (!run.admissions.empty()) continue;
    std::unique_ptr<IDRContext> context(
        run.notTaken.empty() ? m_makeContext(*priority, m_drType) : static_cast<IDRContext*>(nullptr));
    Ask(*priority, context.get(), records);
  }
}

EMachineOption CDRVerdicts::NeededOption(CDRInfo& info, TMMsg::DROrchestrationType taking) const {
  // The job's own commands, its restart and a new job made with its
  // options, repeat an option a step failed the machine for.
  if (taking == m_drType || taking == TMMsg::DR_ORCHESTRATION_NONE) return info.GetNeededOption();
  // Another type's command carries none of the job's options: a
  // point-in-time failover given none fails each machine for its time.
  if (taking == TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER) return EMachineOption::kPointInTime;
  return EMachineOption::kNone;
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
  // The priority's last error is told only to the machines it may be about:
  // one that names other machines is theirs.
  if (stop.empty() && run != m_priorities.end() && !run->second.lastError.empty() &&
      IsMachinesError(info, run->second.lastError)) {
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
  const SAdmission* asked = Asked(info);
  return asked == nullptr || asked->restart;
}

const CDRVerdicts::SAdmission* CDRVerdicts::Asked(CDRInfo& info) const {
  const auto run = m_priorities.find(info.GetPriority());
  if (run == m_priorities.end()) return nullptr;
  const auto asked = run->second.admissions.find(info.GetReplId());
  return asked == run->second.admissions.end() ? nullptr : &asked->second;
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
  const SAdmission* asked = Asked(info);
  if (asked == nullptr) return v;
  Admitted(*asked, v);
  return v;
}

void CDRVerdicts::Admitted(const SAdmission& asked, SMachineVerdict& v) const {
  v.newJobTakesOver = asked.newJob;
  v.takingType = asked.taking;
  v.place = asked.inPlace ? PlaceOf(m_drType) : EMachinePlace::kNone;
  v.neededOption = asked.option;
  v.runsNowhere = asked.runs == EWorkloadRuns::kNowhere;
  v.takenBy = asked.takenBy;
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
  // A failed step is the machine's reason. A failure the step's operation
  // let pass, or a clean-up's, is one only when the job was not stopped: a
  // stop is the reason then, and what its clean-up met after it follows.
  SDRPhaseCtx failure;
  if (info.GetFirstStepFailure(failure) || (stop == nullptr && info.GetFirstFailure(failure))) {
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
  std::string stopText;
  if (stop != nullptr) {
    stopText = std::string("the job was ") + stop + after;
    SDRPhaseCtx cleanUp;
    if (info.GetFirstFailureAfterKill(cleanUp)) {
      std::string met = cleanUp.message;
      if (met.empty()) met = RowReason(v.replicationId, cleanUp.phase);
      stopText += "; after the kill, phase [" + PhaseName(cleanUp.phase) + "] failed" + (met.empty() ? "" : ": " + met);
    }
  }
  v.reason = Unexplained(info, stopText);
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
  AskTheRest(records);
  AskTakers(records);
  std::vector<SMachineVerdict> verdicts;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info != nullptr) verdicts.push_back(Judge(*info, killed, suspended));
  }
  return Store(verdicts);
}

bool CDRVerdicts::RecordNotReached(const std::vector<IDRBaseInfo*>& records, const std::string& reason) {
  AskTheRest(records);
  AskTakers(records);
  std::vector<SMachineVerdict> verdicts;
  for (IDRBaseInfo* base : records) {
    CDRInfo* info = dynamic_cast<CDRInfo*>(base);
    if (info == nullptr) continue;
    SMachineVerdict v = Blank(*info);
    v.verdict = EMachineVerdict::kNotReached;
    v.reason = reason;
    const SAdmission* asked = Asked(*info);
    if (asked != nullptr) {
      v.restartTakesOver = asked->restart;
      Admitted(*asked, v);
    }
    verdicts.push_back(v);
  }
  return Store(verdicts);
}
