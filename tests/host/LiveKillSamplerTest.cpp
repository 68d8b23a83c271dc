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
// way, the stop drawn from that step's own uninterrupted run (made on the
// lab as the first run left it, which is then put back): the first run's
// lines and length are another job's. After each stop something is written
// in each running workload VM (the revert's sources too, which the crash
// matrix leaves unwritten; a storage-array machine's source VM while it
// runs; a database cannot be written), and
// the chain must end where the uninterrupted run ends (a revert's machine
// where the revert or the undo failover ends), with every write where its
// workload ends; every "succeeded" line must match the lab after its
// attempt (the kill table's checks).
// A stop may stop nothing (it came once the job's steps no longer looked
// for it, or its line never came), and a trial built on it would be a plain
// run: such a stop is drawn again, earlier and at a line (which holds the
// run until the stop is asked for), on a fresh lab (a next step's on the lab
// put back), up to kSamplerRedraws times. Each trial says what each of its
// stops did, each test counts them per mode, and a mode none of whose stops
// stopped a job fails (stoptally::CStopTally).
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
// lines another run may order otherwise (machines run side by side), and
// draws again where a stop stopped nothing again; the trial's lines name the
// stops it made.
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "host/LiveStops.h"
#include "host/SeedArrays.h"

namespace {

using crashmatrix::AllTypes;
using crashmatrix::EnvNumber;
using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::SAttempt;
using killtable::SKillOutcome;
using livestops::EStop;
using livestops::SBounds;
using livestops::SReference;
using livestops::SStop;
using livestops::SStopped;

constexpr EStop kStops[] = {EStop::kControlKill, EStop::kInterrupt, EStop::kSuspendThenKill, EStop::kKillPoint};
constexpr size_t kStopCount = sizeof(kStops) / sizeof(kStops[0]);
// The modes' names in the counts, in kStops' order.
const char* const kStopNames[kStopCount] = {"control kill", "SIGINT", "control suspend then kill", "kill point"};

// How many times a stop that stopped nothing is drawn again, earlier.
constexpr int kSamplerRedraws = 8;

// A trial: the stop of the type's run and, when stopNext, of the first
// next step it printed, of the same mode, drawn with random from that
// step's own uninterrupted run.
struct STrial {
  unsigned long index = 0;
  size_t mode = 0;
  SStop first;
  bool stopNext = false;
  std::mt19937 random;
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
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    const stoptally::CSavedLab before(db);
    const SReference reference = NextStepReference(db, attempt.command, before);
    if (reference.lines.empty()) {
      m_told += "the first next step [" + attempt.command + "] logged no line of its own: run unstopped\n";
      CKillTable::RunNextStep(type, db, attempt, written);
      return;
    }
    SStop next = Draw(m_trial->first.how, reference, m_trial->random);
    SBounds bounds = BoundsOf(reference);
    SStopped stopped;
    m_nextText = "the first next step [" + attempt.command + "]";
    // A stop that stopped nothing is drawn again, earlier, on the lab put
    // back as the step found it.
    for (int redraw = 0;; ++redraw) {
      stopped = Stop(next, db, PrintedArgv(attempt.command, next));
      m_tally.Count(m_trial->mode, true, stopped.effect);
      m_nextText += (redraw == 0 ? ", " : "; drawn again, ") + next.Text() + ": " + stopped.effect.text;
      if (stopped.effect.acted || redraw == kSamplerRedraws || !DrawEarlier(next, reference, bounds, m_trial->random)) break;
      m_told += "the first next step [" + attempt.command + "] " + stopped.effect.text + ": the lab put back\n";
      EXPECT_TRUE(before.Restore()) << "cannot put the lab back after a next step that stopped nothing: " << db;
    }
    attempt.exitCode = stopped.run.code;
    attempt.output = stopped.run.output;
    attempt.nextSteps = stopped.nextSteps;
    m_told += "the first next step [" + attempt.command + "], " + next.Text() + ": exit " +
              std::to_string(stopped.run.code) + "\n" + stopped.told;
    if (stopped.signal != 0) {
      m_faults.push_back("the stopped next step ended by signal " + std::to_string(stopped.signal));
    }
    const std::vector<std::string> more = WriteInWorkloads(WritesOf(type), db);
    written.insert(written.end(), more.begin(), more.end());
    if (!more.empty()) m_told += "written after it in: " + killtable::Joined(more, ", ") + "\n";
  }

  // A trial by its index, seed and stops, as its failures name it.
  static std::string TrialName(const STrial& trial, unsigned long seed) {
    return "trial " + std::to_string(trial.index) + " of seed [" + std::to_string(seed) + "]: " + trial.first.Text() +
           (trial.stopNext ? ", and its first next step stopped" : "");
  }

  // The type as the sampler's lines name it: group, type and options.
  static std::string Name(const SType& type) {
    std::string name = type.group + " " + type.type;
    for (const std::string& option : type.options) name += " " + option;
    return name;
  }

  // The stops of the test per mode, printed; judged: a mode that tried
  // stops and stopped no job fails.
  void TellStops(const SType& type, bool judged) {
    for (const std::string& line : m_tally.Lines()) {
      printf("live-kill sampler: %s, %s\n", Name(type).c_str(), line.c_str());
    }
    if (!judged) return;
    for (const std::string& idle : m_tally.Idle()) {
      ADD_FAILURE() << "live-kill sampler: " << Name(type) << ": no stop of a mode stopped a job, so its trials were "
                    << "plain runs: " << idle;
    }
  }

  // The uninterrupted run of the type, checked against its picture.
  SReference Uninterrupted(const SType& type) {
    const std::string db = LabFor(type);
    crashmatrix::SOutcome outcome;
    const SReference reference = Measure(db, HostArgv(RunArgs(type, db), SStop()), outcome);
    CDBConnection::SetPath(db);
    outcome.picture = crashmatrix::Picture(type.group);
    CheckRunsEnded(outcome);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    crashmatrix::CCrashMatrix::Expect(type, outcome, "uninterrupted");
    return reference;
  }

  // The printed next step's own uninterrupted run, on the lab as it stands
  // (saved), which is then put back as it was.
  SReference NextStepReference(const std::string& db, const std::string& command, const stoptally::CSavedLab& saved) {
    crashmatrix::SOutcome outcome;
    const SReference reference = Measure(db, PrintedArgv(command, SStop()), outcome);
    EXPECT_TRUE(saved.Restore()) << "cannot put the lab back after the next step's uninterrupted run: " << db;
    m_told += "the first next step [" + command + "] uninterrupted, to draw its stop from (the lab put back after "
              "it): exit " + std::to_string(outcome.exitCode) + ", " + std::to_string(reference.durationUs / 1000) +
              " ms, " + std::to_string(reference.lines.size()) + " log lines, " +
              std::to_string(reference.children) + " child jobs\n";
    return reference;
  }

  // One trial: the stop, the writes, the next steps followed, the checks.
  // A stop that stopped nothing is drawn again, earlier, on a fresh lab, up
  // to kSamplerRedraws times; the plain run it left is held to the kill table's
  // checks on a stopped run.
  void RunTrial(const SType& type, STrial& trial, const SReference& reference, unsigned long seed) {
    m_trial = &trial;
    m_nextStopped = false;
    m_nextText.clear();
    m_faults.clear();
    m_told.clear();
    std::string db, stops;
    SStopped stopped;
    SBounds bounds = BoundsOf(reference);
    for (int redraw = 0;; ++redraw) {
      db = LabFor(type);
      const std::vector<std::string> args = RunArgs(type, db);
      std::string command = "drjob";
      for (const std::string& a : args) command += " " + a;
      stopped = Stop(trial.first, db, HostArgv(args, trial.first));
      m_told += "the run [" + command + "], " + trial.first.Text() + ": exit " + std::to_string(stopped.run.code) +
                "\n" + stopped.told;
      m_tally.Count(trial.mode, false, stopped.effect);
      stops += (stops.empty() ? "the run: " : "; drawn again, " + trial.first.Text() + ": ") + stopped.effect.text;
      if (stopped.effect.acted || redraw == kSamplerRedraws) break;
      const SCrash plain(TrialName(trial, seed) + ", a plain run", std::string());
      const SKillOutcome missed = Stopped(type, db, stopped.run, stopped.signal);
      CDBConnection::CloseThreadConnections();
      CDBConnection::SetPath("");
      Expect(type, plain, missed);
      if (!DrawEarlier(trial.first, reference, bounds, trial.random)) break;
    }
    const std::string name = TrialName(trial, seed);
    const SCrash at(name, std::string());
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
    printf("live-kill sampler: %s, trial %lu: %s%s\n", Name(type).c_str(), trial.index, stops.c_str(),
           m_nextText.empty() ? "" : ("; " + m_nextText).c_str());
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
  // their workload writes from then on; a storage-array machine's source VM
  // runs its workload until a failover stops it and from an undo on, and
  // what it holds stays with it (the lab keeps no content on the array).
  static SType WritesOf(const SType& type) {
    SType writes = type;
    if (&type == &crashmatrix::kRevertFailover && writes.machines.empty()) {
      writes.machines = {
          {"db-primary", "db-primary-DR"}, {"db-replica", "db-replica-DR"}, {"app-server", "app-server-DR"}};
    }
    if (type.group == "SampleArray" && writes.machines.empty()) {
      for (const SSampleArrayVM& vm : kSampleArrayVMs) writes.machines.push_back({vm.name, std::string()});
    }
    return writes;
  }

  STrial* m_trial = nullptr;
  bool m_nextStopped = false;
  // What the trial's stopped next step did, for its line.
  std::string m_nextText;
  // The test's stops, per mode.
  stoptally::CStopTally m_tally{std::vector<std::string>(std::begin(kStopNames), std::end(kStopNames))};
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
  const std::string name = Name(type);
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
    trial.mode = k % kStopCount;
    trial.first = Draw(kStops[trial.mode], reference, random);
    trial.stopNext = std::bernoulli_distribution(0.5)(random);
    trial.random = random;
    printf("live-kill sampler: %s, trial %lu: %s%s\n", name.c_str(), k, trial.first.Text().c_str(),
           trial.stopNext ? ", then its first next step stopped the same way" : "");
    RunTrial(type, trial, reference, seed);
  }
  // A trial replayed alone is judged by its own lines.
  TellStops(type, !alone);
}

INSTANTIATE_TEST_SUITE_P(Types, DrJobLiveKillSampler, testing::Range<size_t>(0, AllTypes().size()),
                         crashmatrix::TypeName);

}  // namespace