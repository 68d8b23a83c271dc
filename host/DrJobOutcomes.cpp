#include "DrJobOutcomes.h"

#include <stdlib.h>

#include <map>

#include "jobs/PhaseRowStore.h"
#include "jobs/PhaseTexts.h"
#include "msg/MsgEnums.h"

namespace {

const char kSkipPrefix[] = "Skipping DR for [";
const char kSkipReplication[] = "] RId [";
const char kSkipReason[] = " - ";

// The skip reasons of this run's "Skipping DR" events, by replication:
// "Skipping DR for [NAME] RId [R] - REASON".
std::map<int, std::string> SkipReasons(long long jobId, const std::vector<SJobEvent>& events) {
  std::map<int, std::string> reasons;
  for (const SJobEvent& event : events) {
    if (event.jobId != jobId || event.args.empty()) continue;
    const std::string& text = event.args[0];
    if (text.compare(0, sizeof(kSkipPrefix) - 1, kSkipPrefix) != 0) continue;
    const size_t at = text.find(kSkipReplication, sizeof(kSkipPrefix) - 1);
    if (at == std::string::npos) continue;
    const char* digits = text.c_str() + at + sizeof(kSkipReplication) - 1;
    char* end = nullptr;
    const long replication = strtol(digits, &end, 10);
    if (end == digits || *end != ']') continue;
    const size_t reason = text.find(kSkipReason, static_cast<size_t>(end - text.c_str()));
    reasons[static_cast<int>(replication)] =
        reason == std::string::npos ? std::string() : text.substr(reason + sizeof(kSkipReason) - 1);
  }
  return reasons;
}

const char* StoppedText(int status) {
  switch (status) {
    case Api::VIRTUAL_APP_PHASE_STATE_KILLED: return "killed";
    case Api::VIRTUAL_APP_PHASE_STATE_SUSPENDED: return "suspended";
    case Api::VIRTUAL_APP_PHASE_STATE_PENDING: return "pending";
    case Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS: return "in progress";
    default: return nullptr;
  }
}

// a began before b (by start time, then phase number).
bool Before(const SPhaseRowRecord* a, const SPhaseRowRecord* b) {
  return a->startTime != b->startTime ? a->startTime < b->startTime : a->phase < b->phase;
}

// The machine's outcome from its rows: the first phase that failed, else the
// first that did not finish, else success, unless the job stopped while
// its priority ran or a kill came while the job went on (finished then
// tells nothing of what was still ahead).
void Judge(const std::vector<const SPhaseRowRecord*>& rows, bool stoppedInItsPriority, bool killedMidway,
           SMachineOutcome& outcome) {
  const SPhaseRowRecord* failed = nullptr;
  const SPhaseRowRecord* stopped = nullptr;
  const SPhaseRowRecord* last = nullptr;
  for (const SPhaseRowRecord* row : rows) {
    if (row->status == Api::VIRTUAL_APP_PHASE_STATE_FAILED) {
      if (failed == nullptr || Before(row, failed)) failed = row;
    } else if (StoppedText(row->status) != nullptr) {
      if (stopped == nullptr || Before(row, stopped)) stopped = row;
    }
    if (last == nullptr ||
        (row->endTime != last->endTime ? row->endTime > last->endTime : Before(last, row))) {
      last = row;
    }
  }
  if (failed != nullptr) {
    outcome.kind = SMachineOutcome::kFailed;
    outcome.phase = CPhaseTexts::Phase(failed->phase);
    outcome.reason = failed->failureReason;
  } else if (stopped != nullptr) {
    outcome.kind = SMachineOutcome::kStoppedIn;
    outcome.phase = CPhaseTexts::Phase(stopped->phase);
    outcome.reason = StoppedText(stopped->status);
  } else if (stoppedInItsPriority) {
    outcome.kind = SMachineOutcome::kStoppedAfter;
    outcome.phase = CPhaseTexts::Phase(last->phase);
  } else if (killedMidway) {
    outcome.kind = SMachineOutcome::kUnsettled;
    outcome.phase = CPhaseTexts::Phase(last->phase);
  } else {
    outcome.kind = SMachineOutcome::kSucceeded;
  }
}

}  // namespace

bool CMachineOutcomes::Read(long long jobId, bool stopped, bool killedMidway,
                            const std::vector<SGroupMachine>& machines, const std::vector<SJobEvent>& events,
                            std::vector<SMachineOutcome>& outcomes) {
  std::vector<SPhaseRowRecord> rows;
  if (CPhaseRowStore::ReadJob(jobId, rows) == EStoreResult::kFailed) return false;
  const std::map<int, std::string> skips = SkipReasons(jobId, events);
  // The last priority the job reached: one of its machines has a row or was
  // skipped. The priorities before it were done.
  int reached = -1;
  for (const SGroupMachine& machine : machines) {
    bool seen = skips.count(machine.replicationId) > 0;
    for (size_t i = 0; !seen && i < rows.size(); ++i) seen = rows[i].replicationId == machine.replicationId;
    if (seen && machine.priority > reached) reached = machine.priority;
  }
  outcomes.clear();
  for (const SGroupMachine& machine : machines) {
    SMachineOutcome outcome;
    outcome.machine = machine;
    std::vector<const SPhaseRowRecord*> own;
    for (const SPhaseRowRecord& row : rows) {
      if (row.replicationId == machine.replicationId) own.push_back(&row);
    }
    // This run's decision stands over rows an earlier attempt of the job
    // left.
    const auto skip = skips.find(machine.replicationId);
    if (skip != skips.end()) {
      outcome.kind = SMachineOutcome::kSkipped;
      outcome.reason = skip->second;
    } else if (!own.empty()) {
      Judge(own, stopped && machine.priority >= reached, killedMidway && !stopped, outcome);
    }
    outcomes.push_back(outcome);
  }
  return true;
}

std::string CMachineOutcomes::Line(long long jobId, const SMachineOutcome& outcome) {
  const std::string name =
      outcome.machine.name.empty() ? std::to_string(outcome.machine.replicationId) : outcome.machine.name;
  const std::string line = "DR job [" + std::to_string(jobId) + "] machine [" + name + "] (replication " +
                           std::to_string(outcome.machine.replicationId) + "): ";
  switch (outcome.kind) {
    case SMachineOutcome::kSucceeded:
      return line + "succeeded";
    case SMachineOutcome::kFailed:
      return line + "failed in phase [" + outcome.phase + "]" +
             (outcome.reason.empty() ? std::string(" (its phase row holds no reason)") : ": " + outcome.reason);
    case SMachineOutcome::kSkipped:
      return line + "skipped" + (outcome.reason.empty() ? std::string(" (no reason given)") : ": " + outcome.reason);
    case SMachineOutcome::kStoppedIn:
      return line + "stopped in phase [" + outcome.phase + "] (" + outcome.reason + ")";
    case SMachineOutcome::kStoppedAfter:
      return line + "stopped after phase [" + outcome.phase + "]";
    case SMachineOutcome::kUnsettled:
      return line + "no phase failed up to [" + outcome.phase +
             "], but the job was killed while it ran: its log tells whether the machine finished";
    case SMachineOutcome::kNotRun:
    default:
      return line + "not run";
  }
}
