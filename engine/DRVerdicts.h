// What the job decided of each of its machines, told the way its summary
// counts them: the job summary report counts every machine record as
// succeeded, skipped, pending (not processed) or failed; this class gives
// each record the same category, splits the failed ones into those the job
// began and those it never reached, and names why, from what the engine
// itself recorded: the machine's first failed phase and its message (or the
// reason its phase row holds), the machine's stored failover or test-failover
// status, and the last error logged while its priority ran. With each
// verdict goes whether a restart of the job would take the machine over,
// from the eligibility test of the machine's DR type as a restart runs it
// on what the machine holds when its priority ends, and whether a new job
// of the same type would: its first attempt's admission test on the same
// statuses. A machine the job did not finish that already stands where the
// job's type puts it (failed over, home) is told so, and needs no type; any
// other is told with the DR type that would take it on to where the job's
// uninterrupted run would have put it, if any: the first, the job's own
// type first, of those that do (IDRAdmission of a context the verdicts make
// of that type), with the option that type needs and the job lacks (a
// point in time). A priority the job never ran is asked as the job ends.
// The verdicts go to the platform (CMachineVerdictStore), where drjob reads
// them.
//
// Threads: every member but NotTaken and AskAdmissions is called on the
// orchestrator's own thread (the host's), before or after the workers of a
// priority run; the records it reads are no longer written then. NotTaken
// and AskAdmissions run on the thread of the priority they name, between
// Started and Ended of its order number: each writes only that priority's
// entry, which Started made, so sub-priorities running at once never touch
// one entry; the contexts AskAdmissions makes to ask of other types are its
// own, made and destroyed on that thread, and read nothing another thread
// writes then. The context maker is set before the job runs.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "IDRAdmission.h"
#include "jobs/MachineVerdictStore.h"
#include "msg/MsgEnums.h"

class CDRInfo;
class IDRBaseInfo;
class IDRContext;
struct SDRPriority;

class CDRVerdicts {
 public:
  // A context of the priority as a job of the type would make it (the
  // caller owns it); nullptr when its kind does not take the type.
  using ContextMaker = std::function<IDRContext*(const SDRPriority&, TMMsg::DROrchestrationType)>;
  // Without one, a priority the job never ran is not asked: a restart is
  // taken to run its machines, and no new job to.
  void SetContextMaker(ContextMaker maker) { m_makeContext = std::move(maker); }

  // A new attempt of the job begins: the verdicts of the one before are
  // dropped, so none outlives the attempt that decided it.
  void Begin(int64_t jobId, int attempt, TMMsg::DROrchestrationType drType);
  // A replication that never became a machine of the job (its pre-checks
  // failed); told as not reached.
  void LeftOut(int32_t replicationId, const std::string& name, const std::string& reason);
  // The sub-priorities of an order number start, and end with the last
  // error the job logged meanwhile ("" when none).
  void Started(const std::vector<SDRPriority*>& list);
  void Ended(const std::vector<SDRPriority*>& list, const std::string& firstError);
  // The priority's kind of replication (kind: "VM replications", ...) does
  // not take the job's DR type: it ran nothing, and neither would a restart.
  void NotTaken(const SDRPriority& priority, const std::string& kind);
  // The priority's context has run it and its clean-up: it tells, for each
  // machine of the priority, whether a restart (of one that did not
  // succeed) and a new job of the type would admit it as it stands; the
  // DR type that would take one neither takes is asked of the contexts
  // the maker makes.
  void AskAdmissions(const SDRPriority& priority, IDRContext& context, const std::vector<IDRBaseInfo*>& records);

  // The verdict of every record, stored; false when they cannot be stored.
  // killed and suspended: what the job manager saw of the job.
  bool Record(const std::vector<IDRBaseInfo*>& records, bool killed, bool suspended);
  // Every record not reached, for the reason given: the job ended before its
  // priority loop.
  bool RecordNotReached(const std::vector<IDRBaseInfo*>& records, const std::string& reason);

  // The verdict of one record, with whether a restart takes it over
  // (public for its tests).
  SMachineVerdict Judge(CDRInfo& info, bool killed, bool suspended) const;
  // Whether an error the machine's priority logged may be the machine's:
  // it names no replication and no VM, or names the machine's replication
  // or one of its VMs (public for its tests).
  static bool IsMachinesError(CDRInfo& info, const std::string& error);

 private:
  // What a priority's contexts answered of one machine.
  struct SAdmission {
    bool restart = true;
    bool newJob = false;
    bool inPlace = false;  // already where the job's type puts it
    TMMsg::DROrchestrationType taking = TMMsg::DR_ORCHESTRATION_NONE;
    EMachineOption option = EMachineOption::kNone;
    EWorkloadRuns runs = EWorkloadRuns::kUnknown;
    int takenBy = 0;  // the types whose new job takes it (bit 1 << type)
  };
  struct SPriorityRun {
    bool started = false;
    std::string lastError;
    std::string notTaken;  // why the priority's kind does not take the type
    std::map<int32_t, SAdmission> admissions;  // by replication, as asked
  };
  // Asks the context (of the job's type) of each record of the priority,
  // and the contexts of other types where neither takes a machine over.
  void Ask(const SDRPriority& priority, IDRContext* context, const std::vector<IDRBaseInfo*>& records);
  // Asks of each record whose priority was not asked; the job's records
  // are no longer worked on then.
  void AskTheRest(const std::vector<IDRBaseInfo*>& records);
  // Asks, of every record, each DR type another machine's next step names
  // whether its new job takes it too (takenBy): a step's line names every
  // machine its command takes.
  void AskTakers(const std::vector<IDRBaseInfo*>& records);
  // What was asked of the machine; nullptr when nothing was.
  const SAdmission* Asked(CDRInfo& info) const;
  // What the contexts answered, into the verdict.
  void Admitted(const SAdmission& asked, SMachineVerdict& v) const;
  // What the command that takes the machine lacks for it: for the job's own
  // type (its restart, a new job made with its options), the option a step
  // failed it for; for another type, whose command carries none of the
  // job's options, one that type needs.
  EMachineOption NeededOption(CDRInfo& info, TMMsg::DROrchestrationType taking) const;
  // The verdict's record of the machine, the verdict itself still to give.
  SMachineVerdict Blank(CDRInfo& info) const;
  // The verdict itself and its reason.
  SMachineVerdict Verdict(CDRInfo& info, bool killed, bool suspended) const;
  // "its failover status is [S]" from the replication's stored status, ""
  // when it keeps none with a name.
  std::string StoredStatus(int32_t replicationId) const;
  // The reason of a failure without a reason of its own: the stop of the
  // job ("the job was killed ...", or "" when it was not stopped), the
  // machine's stored status (when the job began it) and, when the job was
  // not stopped, the last error of its priority.
  std::string Unexplained(CDRInfo& info, const std::string& stop) const;
  // What the job's clean-up did to a machine no step of it took up ("the
  // job's clean-up ran [Power On] on its source VM"); "" otherwise.
  static std::string CleanUpText(CDRInfo& info);
  // Whether a restart of the job would take the machine over after this
  // verdict.
  bool RestartTakesOver(CDRInfo& info, const SMachineVerdict& v) const;
  std::string RowReason(int32_t replicationId, int phase) const;
  bool Store(std::vector<SMachineVerdict>& verdicts);

  int64_t m_jobId = 0;
  int m_attempt = 0;
  TMMsg::DROrchestrationType m_drType = TMMsg::DR_ORCHESTRATION_NONE;
  std::map<const SDRPriority*, SPriorityRun> m_priorities;
  ContextMaker m_makeContext;
  bool m_anyStarted = false;
  int32_t m_lastOrder = 0;
  std::vector<SMachineVerdict> m_leftOut;
  // The job's failed phase rows' reasons by (replication, phase), read once
  // when a failure needs one.
  mutable bool m_rowsRead = false;
  mutable std::map<std::pair<int32_t, int>, std::string> m_rowReasons;
};
