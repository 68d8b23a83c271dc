// The live-kill sampler: every DR type stopped the ways an operator stops a
// running job, at random moments, then followed through the next steps
// drjob printed, as the kill table follows them (killtable::CKillTable).
// A trial stops the run by one of:
// - drjob control kill from a second process;
// - SIGINT to the drjob process (Ctrl-C);
// - drjob control suspend, then, once the run has ended, the child jobs it
//   left running end (drjob job ... complete, as they would while the job
//   waits suspended), then drjob control kill;
// - a kill point (DR_KILL_AT, DR_KILL_AT_COUNT) right after a random line of
//   the uninterrupted run's log.
// The first three come a random real-time delay after the run named its
// job, or right after a random line of the uninterrupted run's log (the run
// pauses there, DR_PAUSE_AT, while the stop is asked for), or, for the
// suspend, once a random child job of the run has done a random share of
// its work, so that children run on through the suspension.
// In a share of the trials the first printed next step is stopped the same
// way. After each stop something is written in each running workload VM
// (the revert's sources too, which the crash matrix leaves unwritten), and
// the chain must end where the uninterrupted run ends (a revert's machine
// where the revert or the undo failover ends), with every write where its
// workload ends; every "succeeded" line must match the lab after its
// attempt (the kill table's checks).
//
// The stops are livestops::CLiveStops's (host/LiveStops.h), shared with the
// walk over the DR types.
//
// Part of ./dr.sh stress, not of ./dr.sh test (label "stress"). Each type
// is a test of its own, so ctest runs them side by side. The seed is
// printed; DR_LIVE_KILL_SEED=<seed> replays a run, DR_LIVE_KILL_TRIAL=<k>
// only its trial k, DR_LIVE_KILL_TRIALS=<n> takes n trials per stop mode
// (3 by default). A replay draws the same stops: the same delay, child job
// and share, and the same line number of the uninterrupted run's log, whose
// lines another run may order otherwise (machines run side by side); the
// trial's line names the stop it made.
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "host/LiveStops.h"

namespace {

using crashmatrix::AllTypes;
using crashmatrix::EnvNumber;
using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::SAttempt;
using killtable::SKillOutcome;
using livestops::EStop;
using livestops::kStopCount;
using livestops::kStops;
using livestops::SReference;
using livestops::SStop;
using livestops::SStopped;

// A trial: the stop of the type's run and, when stopNext, of the first
// next step it printed.
struct STrial {
  unsigned long index = 0;
  SStop first;
  bool stopNext = false;
  SStop next;
};

class DrJobLiveKillSampler : public livestops::CLiveStops, public testing::WithParamInterface<size_t> {
 protected:
  void RunNextStep(const SType& type, const std::string& db, SAttempt& attempt,
                   std::vector<std::string>& written) override {
    if (m_trial == nullptr || !m_trial->stopNext || m_nextStopped || attempt.generation != 1) {
      CKillTable::RunNextStep(type, db, attempt, written);
      return;
    }
    m_nextStopped = true;
    const SStopped stopped = Stop(m_trial->next, db, PrintedArgv(attempt.command, m_trial->next));
    attempt.exitCode = stopped.run.code;
    attempt.output = stopped.run.output;
    attempt.nextSteps = stopped.nextSteps;
    m_told += "the first next step [" + attempt.command + "], " + m_trial->next.Text() + ": exit " +
              std::to_string(stopped.run.code) + "\n" + stopped.told;
    if (stopped.signal != 0) {
      m_faults.push_back("the stopped next step ended by signal " + std::to_string(stopped.signal));
    }
    const std::vector<std::string> more = WriteInWorkloads(WritesOf(type), db);
    written.insert(written.end(), more.begin(), more.end());
    if (!more.empty()) m_told += "written after it in: " + killtable::Joined(more, ", ") + "\n";
  }

  // The uninterrupted run of the type, checked against its picture.
  SReference Uninterrupted(const SType& type) {
    const std::string db = LabFor(type);
    crashmatrix::SOutcome outcome;
    const SReference reference = ReferenceRun(db, HostArgv(RunArgs(type, db), SStop()), crashmatrix::kJobId, outcome);
    CDBConnection::SetPath(db);
    outcome.picture = crashmatrix::Picture(type.group);
    CheckRunsEnded(outcome);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    crashmatrix::CCrashMatrix::Expect(type, outcome, "uninterrupted");
    return reference;
  }

  // One trial: the stop, the writes, the next steps followed, the checks.
  void RunTrial(const SType& type, const STrial& trial, unsigned long seed) {
    const std::string name = "trial " + std::to_string(trial.index) + " of seed [" + std::to_string(seed) + "]: " +
                             trial.first.Text() + (trial.stopNext ? ", and its first next step stopped" : "");
    const SCrash at(name, std::string());
    m_trial = &trial;
    m_nextStopped = false;
    m_faults.clear();
    const std::string db = LabFor(type);
    const std::vector<std::string> args = RunArgs(type, db);
    std::string command = "drjob";
    for (const std::string& a : args) command += " " + a;
    const SStopped stopped = Stop(trial.first, db, HostArgv(args, trial.first));
    m_told = "the run [" + command + "], " + trial.first.Text() + ": exit " + std::to_string(stopped.run.code) + "\n" +
             stopped.told;
    SKillOutcome kill = Stopped(type, db, stopped.run, stopped.signal);
    if (stopped.callsUnderWay) {
      // Left for the restart to judge, as drjob says; the chain's end is
      // checked for rows left in progress.
      std::vector<std::string> faults;
      for (const std::string& f : kill.faults) {
        if (f.rfind("phase row ", 0) != 0) faults.push_back(f);
      }
      kill.faults = faults;
    }
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    const std::vector<std::string> written = WriteInWorkloads(WritesOf(type), db);
    if (!written.empty()) m_told += "written after it in: " + killtable::Joined(written, ", ") + "\n";
    SAttempt first;
    first.exitCode = kill.exitCode;
    first.output = kill.output;
    first.picture = kill.picture;
    first.nextSteps = stopped.nextSteps;
    const killtable::SRerunOutcome chain = Follow(type, kill, first, written);
    m_trial = nullptr;
    // Every failure of the trial says how to replay it and how each run was
    // stopped; the kill table's messages add every attempt's lines and the
    // picture lines that differ.
    SCOPED_TRACE("live-kill sampler: " + type.group + " " + type.type + ", " + name + " (DR_LIVE_KILL_SEED=" +
                 std::to_string(seed) + " DR_LIVE_KILL_TRIAL=" + std::to_string(trial.index) + " replays it)\n" +
                 "the stops:\n" + m_told);
    for (const std::string& fault : m_faults) ADD_FAILURE() << fault;
    Expect(type, at, kill);
    ExpectRerun(type, at, chain);
  }

 private:
  // The type with the machines a write after a stop goes into: the
  // revert's sources run from their power-on, and nothing may undo what
  // their workload writes from then on.
  static SType WritesOf(const SType& type) {
    SType writes = type;
    if (&type == &crashmatrix::kRevertFailover && writes.machines.empty()) {
      writes.machines = {
          {"db-primary", "db-primary-DR"}, {"db-replica", "db-replica-DR"}, {"app-server", "app-server-DR"}};
    }
    return writes;
  }

  const STrial* m_trial = nullptr;
  bool m_nextStopped = false;
  // How each run of the trial was stopped, and the control commands'
  // answers: what a failure names beside the kill table's chain.
  std::string m_told;
  std::vector<std::string> m_faults;
};

TEST_P(DrJobLiveKillSampler, StoppedLiveThenFollowedAsPrintedEndsAsTheUninterruptedRun) {
  const SType& type = *AllTypes()[GetParam()];
  const unsigned long seed = EnvNumber("DR_LIVE_KILL_SEED", std::random_device()());
  const unsigned long perStop = EnvNumber("DR_LIVE_KILL_TRIALS", 3);
  // A trial replayed alone is run whatever the count.
  const char* only = getenv("DR_LIVE_KILL_TRIAL");
  const bool alone = only != nullptr && *only != '\0';
  const unsigned long from = alone ? strtoul(only, nullptr, 10) : 0;
  const unsigned long to = alone ? from + 1 : perStop * kStopCount;
  std::string name = type.group + " " + type.type;
  for (const std::string& option : type.options) name += " " + option;
  printf("live-kill sampler: %s, seed [%lu] (DR_LIVE_KILL_SEED=%lu replays it)\n", name.c_str(), seed, seed);
  const SReference reference = Uninterrupted(type);
  ASSERT_FALSE(reference.lines.empty()) << "the uninterrupted run logged no line of its own";
  printf("live-kill sampler: %s, uninterrupted: %lld ms, %zu log lines, %d child jobs\n", name.c_str(),
         reference.durationUs / 1000, reference.lines.size(), reference.children);
  for (unsigned long k = from; k < to; ++k) {
    // Each trial draws from its own stream, so that one replays alone.
    std::seed_seq seq{static_cast<unsigned>(seed), static_cast<unsigned>(GetParam()), static_cast<unsigned>(k)};
    std::mt19937 random(seq);
    STrial trial;
    trial.index = k;
    const EStop how = kStops[k % kStopCount];
    trial.first = Draw(how, reference, random);
    trial.stopNext = std::bernoulli_distribution(0.5)(random);
    trial.next = Draw(how, reference, random);
    printf("live-kill sampler: %s, trial %lu: %s%s\n", name.c_str(), k, trial.first.Text().c_str(),
           trial.stopNext ? (", then the next step: " + trial.next.Text()).c_str() : "");
    RunTrial(type, trial, seed);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, DrJobLiveKillSampler, testing::Range<size_t>(0, AllTypes().size()),
                         crashmatrix::TypeName);

}  // namespace
