// What a DR context tells, without running anything, of whether a job would
// take a machine up as the machine stands: a restart of the job, or a new
// job's first attempt of a DR type. The engine asks it as a priority ends
// (after the context's clean-up), and of a priority it never ran, so that
// drjob prints a next step only for the machines that step takes. The VM,
// storage-array and database contexts answer it besides IDRContext; a
// context without it answers nothing, and the engine takes no answer as "a
// restart takes it" and "no new job does".
#pragma once

#include "msg/MsgEnums.h"

class CDRInfo;

// Whether a machine's workload runs anywhere, by what its kind runs it on:
// a VM replication by its VMs' power, a storage-array one by its source VM's
// power and its DR mount, a database one by its databases' state.
enum class EWorkloadRuns {
  kUnknown = 0,  // it cannot be told (a site out of reach): nothing is said
  kRuns = 1,     // at the source, at DR or both
  kNowhere = 2,  // neither runs it
  kLeftOff = 3,  // neither, as the job was asked to leave it (no power-on)
};

class IDRAdmission {
 public:
  // Whether a restart of the job would take the machine into this context's
  // priority as it stands now, by the eligibility test a restart runs,
  // without its side effects; true when the context cannot tell.
  virtual bool IsAdmittedOnRestart(CDRInfo* info) = 0;
  // Whether the first attempt of a new job of type (the DR type this
  // context was made for) would admit the machine as it stands: the type's
  // own admission test as a first attempt runs it, without its side
  // effects. Nothing of this job's earlier attempts counts.
  virtual bool IsAdmittedOnNewJob(CDRInfo* info, TMMsg::DROrchestrationType type) = 0;
  // Whether the machine already stands where an uninterrupted run of the
  // job's DR type leaves it, as its record holds it now (failed over after
  // a failover, home after a failback, a revert or an undo): the type has
  // nothing left to do on it, whatever job put it there. False where the
  // type has no such place (a testboot, a clean-up, a database failover,
  // which a new job runs again).
  virtual bool IsInPlace(CDRInfo* info) = 0;
  // Where the machine's workload runs now, read from its site or sites:
  // one that runs nowhere needs a next step whatever the job did of it.
  virtual EWorkloadRuns WorkloadRuns(CDRInfo* info) = 0;

 protected:
  ~IDRAdmission() = default;
};

// What an admission question asks, for the length of the question: the
// context's own tests (which statuses its type admits, what an earlier run
// of the job completed) answer as that run would. The context is its
// priority's alone then, its workers done (or never started), so a plain
// member of its own serves.
struct SAdmissionQuestion {
  bool restart = false;       // as a restart of the job
  bool firstAttempt = false;  // as a new job's first attempt: no earlier run counts
  // The DR type asked about; none: the job's own.
  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;

  static SAdmissionQuestion Restart() {
    SAdmissionQuestion question;
    question.restart = true;
    return question;
  }
  static SAdmissionQuestion NewJob(TMMsg::DROrchestrationType type) {
    SAdmissionQuestion question;
    question.firstAttempt = true;
    question.type = type;
    return question;
  }
};

class CAskedAs {
 public:
  CAskedAs(SAdmissionQuestion& held, const SAdmissionQuestion& asked) : m_held(held) { m_held = asked; }
  ~CAskedAs() { m_held = SAdmissionQuestion(); }
  CAskedAs(const CAskedAs&) = delete;
  CAskedAs& operator=(const CAskedAs&) = delete;

 private:
  SAdmissionQuestion& m_held;
};
