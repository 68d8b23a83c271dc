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
// run: such a stop is drawn again, earlier, on a fresh lab (a next step's on
// the lab put back), up to kRedraws times. Each trial says what each of its
// stops did, each test counts them per mode, and a mode none of whose stops
// stopped a job fails (stoptally::CStopTally).
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
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "host/KillTable.h"
#include "host/SeedArrays.h"
#include "host/StopTally.h"
#include "jobsim/JobSimulator.h"

namespace {

using crashmatrix::AllTypes;
using crashmatrix::EnvNumber;
using crashmatrix::SCrash;
using crashmatrix::SType;
using killtable::SAttempt;
using killtable::SKillOutcome;

enum class EStop { kControlKill, kInterrupt, kSuspendThenKill, kKillPoint };
constexpr EStop kStops[] = {EStop::kControlKill, EStop::kInterrupt, EStop::kSuspendThenKill, EStop::kKillPoint};
constexpr size_t kStopCount = sizeof(kStops) / sizeof(kStops[0]);
// The modes' names in the counts, in kStops' order.
const char* const kStopNames[kStopCount] = {"control kill", "SIGINT", "control suspend then kill", "kill point"};

// How many times a stop that stopped nothing is drawn again, earlier.
constexpr int kRedraws = 8;

// When a stop other than the kill point is asked for.
enum class EWhen { kDelay, kLine, kChild };

// drjob's exit codes the sampler reads.
constexpr int kExitDatabase = 4;
constexpr int kExitSuspended = 10;
constexpr int kExitPending = 11;

// One stop of one run: how, and when.
struct SStop {
  EStop how = EStop::kControlKill;
  EWhen when = EWhen::kDelay;
  // kDelay: real time from the run's first line naming its job.
  long long delayUs = 0;
  // kLine and the kill point: right after the countth log line that holds
  // marker, the lineth of the run it was drawn from.
  std::string marker;
  long count = 0;
  size_t line = 0;
  // kChild: once the run's childth child job has run percent of its time,
  // or has ended.
  int child = 0;
  int percent = 0;

  std::string Text() const {
    const std::string line = "[" + marker + "] x" + std::to_string(count);
    if (how == EStop::kKillPoint) return "kill point at " + line;
    std::string at;
    switch (when) {
      case EWhen::kDelay:
        at = std::to_string(delayUs / 1000) + " ms after the job's first line";
        break;
      case EWhen::kLine:
        at = "right after log line " + line;
        break;
      case EWhen::kChild:
        at = "once its child job " + std::to_string(child) + " has run " + std::to_string(percent) + "%";
        break;
    }
    if (how == EStop::kSuspendThenKill) return "control suspend " + at + ", then control kill";
    return (how == EStop::kInterrupt ? "SIGINT " : "control kill ") + at;
  }
};

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

// The uninterrupted run the stops are drawn from: how long it ran, from
// its first line naming the job to its end, its process's log lines, each
// "<function>(): <text>" (its first line only), and how many child jobs it
// launched.
struct SReference {
  long long durationUs = 0;
  std::vector<std::string> lines;
  int children = 0;
};

// What a stopped run left: its lines and exit code, the control commands
// and their answers, and the next steps to follow (those of the last
// command that printed how the job goes on).
struct SStopped {
  drtest::SResult run{-1, std::string()};
  int signal = 0;
  long long jobId = 0;
  std::vector<std::string> nextSteps;
  std::string told;
  // The kill of the suspended job left rows of a call under way in
  // progress, for its restart to judge.
  bool callsUnderWay = false;
  // The exit code of the control command that asked for the stop (the
  // last, when it was asked again); -1 when none did.
  int asked = -1;
  // Why nothing was asked, when nothing was.
  std::string missed = "the run named no job";
  // Whether the stop stopped the job.
  stoptally::SStopEffect effect;
};

long long JobOfHeader(const std::string& line) {
  const std::string head = "drjob: DR job [";
  if (line.rfind(head, 0) != 0 || line.find("] on DR group [") == std::string::npos) return 0;
  return atoll(line.c_str() + head.size());
}

std::string ProcessStatus(pid_t pid) { return drtest::ReadFile("/proc/" + std::to_string(pid) + "/status"); }

// Whether the process has ended (it is left to be reaped).
bool Gone(pid_t pid) {
  const std::string status = ProcessStatus(pid);
  return status.empty() || status.find("State:\tZ") != std::string::npos;
}

// Whether the process has its SIGINT handler (drjob's run installs it once
// it holds its job; before that the default action would end it), or has
// ended.
bool CatchesInterrupt(pid_t pid) {
  if (Gone(pid)) return true;
  const std::string status = ProcessStatus(pid);
  const size_t at = status.find("SigCgt:\t");
  if (at == std::string::npos) return true;
  const unsigned long long caught = strtoull(status.c_str() + at + 8, nullptr, 16);
  return (caught & (1ULL << (SIGINT - 1))) != 0;
}

// A log line's message, "<function>(): <text>", when it is the first line of
// a log line; pid and job are its writer's fields.
bool LogMessage(const std::string& line, std::string& pid, long long& job, std::string& message) {
  // "<pid> <thread> <MM/DD> <time> <job> <level> <function>(): <text>"
  size_t at = 0;
  std::string fields[6];
  for (std::string& field : fields) {
    const size_t end = line.find(' ', at);
    if (end == std::string::npos) return false;
    field = line.substr(at, end - at);
    at = end + 1;
  }
  if (fields[0].empty() || fields[0].find_first_not_of("0123456789") != std::string::npos) return false;
  if (fields[2].size() != 5 || fields[2][2] != '/') return false;
  pid = fields[0];
  job = atoll(fields[4].c_str());
  message = line.substr(at);
  return message.find("(): ") != std::string::npos;
}

// A kill or pause point's marker for a log line: the line up to its first
// digit, since ids, counts and times may differ from run to run, and what
// comes before them names the step.
std::string MarkerOf(const std::string& message) {
  const size_t digit = message.find_first_of("0123456789");
  return digit == std::string::npos ? message : message.substr(0, digit);
}

class DrJobLiveKillSampler : public killtable::CKillTable, public testing::WithParamInterface<size_t> {
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
      if (stopped.effect.acted || redraw == kRedraws || !DrawEarlier(next, reference, bounds, m_trial->random)) break;
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

  // The run argv starts (drjob itself, or a shell that drjob replaces) on
  // the lab db, left to its end: its lines and exit code into outcome, and
  // what stops are drawn from. Its own log lines are those its process
  // wrote.
  SReference Measure(const std::string& db, const std::vector<std::string>& argv, crashmatrix::SOutcome& outcome) {
    SReference reference;
    const size_t logged = drtest::ReadFile(LogPath()).size();
    const long long childrenBefore = LastChild(db);
    drtest::CChildProcess run;
    if (NoMoreRuns() || !run.Start(argv)) {
      ADD_FAILURE() << "cannot start " << argv.back();
      return reference;
    }
    const std::string runner = std::to_string(run.Pid());
    std::chrono::steady_clock::time_point named = std::chrono::steady_clock::now();
    bool seen = false;
    const int status = ReadToEnd(run, outcome.output, [&](const std::string& line) {
      if (!seen && JobOfHeader(line) != 0) {
        seen = true;
        named = std::chrono::steady_clock::now();
      }
    });
    reference.durationUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - named).count();
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    CDBConnection::SetPath(db);
    reference.children = static_cast<int>(ChildrenSince(childrenBefore).size());
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    const std::string log = drtest::ReadFile(LogPath());
    for (const std::string& line : crashmatrix::PictureLines(log.size() > logged ? log.substr(logged) : "")) {
      std::string pid, message;
      long long job = 0;
      if (LogMessage(line, pid, job, message) && pid == runner) reference.lines.push_back(message);
    }
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

  // A random stop of the given kind, drawn from the reference.
  static SStop Draw(EStop how, const SReference& reference, std::mt19937& random) {
    SBounds bounds = BoundsOf(reference);
    SStop stop;
    stop.how = how;
    DrawBelow(stop, reference, bounds, random);
    return stop;
  }

  // The positions (Position) each kind of moment may still take: below
  // each bound. At first the whole run: its lines, its length, its child
  // jobs' work.
  struct SBounds {
    long long below[3] = {0, 0, 0};
  };
  static SBounds BoundsOf(const SReference& reference) {
    SBounds bounds;
    bounds.below[static_cast<int>(EWhen::kDelay)] = std::max(1LL, reference.durationUs) + 1;
    bounds.below[static_cast<int>(EWhen::kLine)] = static_cast<long long>(reference.lines.size());
    bounds.below[static_cast<int>(EWhen::kChild)] = 100LL * reference.children;
    return bounds;
  }

  // The stop's moment drawn at random among the kinds its mode takes (a
  // kill point: a line only; a suspend: a child's share too) that have
  // positions left; false when none has.
  static bool DrawBelow(SStop& stop, const SReference& reference, const SBounds& bounds, std::mt19937& random) {
    std::vector<EWhen> kinds;
    const EWhen all[] = {EWhen::kDelay, EWhen::kLine, EWhen::kChild};
    for (const EWhen when : all) {
      if (stop.how == EStop::kKillPoint && when != EWhen::kLine) continue;
      if (stop.how != EStop::kSuspendThenKill && when == EWhen::kChild) continue;
      if (bounds.below[static_cast<int>(when)] > 0) kinds.push_back(when);
    }
    if (kinds.empty()) return false;
    const EStop how = stop.how;
    stop = SStop();
    stop.how = how;
    stop.when = kinds[std::uniform_int_distribution<size_t>(0, kinds.size() - 1)(random)];
    DrawMoment(stop, reference, bounds.below[static_cast<int>(stop.when)], random);
    return true;
  }

  // A stop that stopped nothing came once no step of the job looked for it
  // any more (or its line never came), as would any later one of its kind:
  // the stop drawn again, of any kind its mode takes, each below the
  // earliest of its kind that stopped nothing (bounds); false when no
  // moment is left.
  static bool DrawEarlier(SStop& stop, const SReference& reference, SBounds& bounds, std::mt19937& random) {
    long long& below = bounds.below[static_cast<int>(stop.when)];
    below = std::min(below, Position(stop));
    return DrawBelow(stop, reference, bounds, random);
  }

  // Where a stop's moment falls among its kind's: a line's index in the
  // reference, a delay, or a child job's share, (child - 1) * 100 +
  // percent.
  static long long Position(const SStop& stop) {
    switch (stop.when) {
      case EWhen::kDelay:
        return stop.delayUs;
      case EWhen::kLine:
        return static_cast<long long>(stop.line);
      case EWhen::kChild:
        return 100LL * (stop.child - 1) + stop.percent;
    }
    return 0;
  }

  // The stop's moment drawn at random below limit (its kind's positions).
  static void DrawMoment(SStop& stop, const SReference& reference, long long limit, std::mt19937& random) {
    const long long at = std::uniform_int_distribution<long long>(0, std::max(1LL, limit) - 1)(random);
    switch (stop.when) {
      case EWhen::kDelay:
        stop.delayUs = at;
        break;
      case EWhen::kLine:
        stop.line = static_cast<size_t>(at);
        stop.marker = MarkerOf(reference.lines[stop.line]);
        stop.count = 0;
        for (size_t i = 0; i <= stop.line; ++i) {
          if (reference.lines[i].find(stop.marker) != std::string::npos) ++stop.count;
        }
        break;
      case EWhen::kChild:
        stop.child = static_cast<int>(at / 100) + 1;
        stop.percent = static_cast<int>(at % 100);
        break;
    }
  }

  // One trial: the stop, the writes, the next steps followed, the checks.
  // A stop that stopped nothing is drawn again, earlier, on a fresh lab, up
  // to kRedraws times; the plain run it left is held to the kill table's
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
      if (stopped.effect.acted || redraw == kRedraws) break;
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
  // The case's folder: its run folder holds the log.
  std::string Dir() const { return LogPath().substr(0, LogPath().rfind("/run/")); }

  // A run's environment, with the kill or pause point the stop arms.
  std::vector<std::string> Environment(const SStop& stop) const {
    std::vector<std::string> env = {"DR_RUN_DIR=" + Dir() + "/run", "DR_LOCK_DIR=" + Dir() + "/locks",
                                    "DR_TIME_SCALE=0.001"};
    if (stop.when == EWhen::kLine && !stop.marker.empty()) {
      const std::string point = stop.how == EStop::kKillPoint ? "DR_KILL_AT" : "DR_PAUSE_AT";
      env.push_back(point + "=" + stop.marker);
      env.push_back(point + "_COUNT=" + std::to_string(stop.count));
    }
    return env;
  }

  // drjob with args, its error lines with its output; the process started
  // is drjob itself, which a signal reaches.
  std::vector<std::string> HostArgv(const std::vector<std::string>& args, const SStop& stop) const {
    std::vector<std::string> argv = {"/usr/bin/env"};
    const std::vector<std::string> env = Environment(stop);
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", DR_DRJOB});
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // A printed command, read by the shell as RunAsPrinted reads it, whose
  // drjob replaces the shell, so that the process started is drjob.
  std::vector<std::string> PrintedArgv(const std::string& command, const SStop& stop) const {
    std::vector<std::string> argv = {"/usr/bin/env"};
    const std::vector<std::string> env = Environment(stop);
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), {std::string("DR_TEST_DRJOB=") + DR_DRJOB, "DR_TEST_COMMAND=" + command, "/bin/sh", "-c",
                             "drjob() { exec \"$DR_TEST_DRJOB\" \"$@\"; }; exec 2>&1; eval \"$DR_TEST_COMMAND\""});
    return argv;
  }

  // drjob (control, job) on the lab, told with its answer.
  drtest::SResult Host(const std::vector<std::string>& env, const std::vector<std::string>& args, std::string& told) {
    int signal = 0;
    const drtest::SResult r = RunHost(env, args, signal);
    std::string command = "drjob";
    for (const std::string& a : args) command += " " + a;
    told += "  [" + command + "] -> exit " + std::to_string(r.code) + "\n";
    for (const std::string& line : crashmatrix::PictureLines(r.output)) told += "    " + line + "\n";
    return r;
  }

  // The run's lines up to the one that names its job, or as far as they
  // come within timeoutMs each.
  static void ReadToJob(drtest::CChildProcess& run, SStopped& stopped, int timeoutMs) {
    for (std::string line; stopped.jobId == 0 && run.ReadLine(line, timeoutMs);) {
      stopped.run.output += line + "\n";
      stopped.jobId = JobOfHeader(line);
    }
  }

  // Asks the running (paused: stopped at its pause point) run to stop as
  // stop says. A paused run is continued here; it may hold the lab's write
  // lock at its pause, so drjob control waits for it briefly and asks
  // again once the run goes on.
  void Ask(const SStop& stop, const std::string& db, drtest::CChildProcess& run, SStopped& stopped, bool paused) {
    const pid_t pid = run.Pid();
    if (stop.how == EStop::kInterrupt) {
      // Before drjob holds its job a SIGINT would end it outright.
      if (!CatchesInterrupt(pid) && paused) {
        kill(pid, SIGCONT);
        paused = false;
      }
      EXPECT_TRUE(drtest::Eventually([pid] { return CatchesInterrupt(pid); }, 120000))
          << "drjob never took SIGINT as its own";
      kill(pid, SIGINT);
      stopped.told += "  SIGINT sent\n";
    } else {
      const std::vector<std::string> args = {"control", "--db", db, "--job", std::to_string(stopped.jobId),
                                             stop.how == EStop::kControlKill ? "kill" : "suspend"};
      const drtest::SResult asked = Host({paused ? "DR_DB_BUSY_MS=2000" : "DR_DB_BUSY_MS=30000"}, args, stopped.told);
      stopped.asked = asked.code;
      if (asked.code == kExitDatabase && paused) {
        kill(pid, SIGCONT);
        paused = false;
        stopped.asked = Host({}, args, stopped.told).code;
      }
    }
    if (paused) kill(pid, SIGCONT);
  }

  // The run started by argv on the lab db, stopped as stop says.
  SStopped Stop(const SStop& stop, const std::string& db, const std::vector<std::string>& argv) {
    SStopped stopped;
    const size_t logged = drtest::ReadFile(LogPath()).size();
    const long long childrenBefore = stop.when == EWhen::kChild ? LastChild(db) : 0;
    drtest::CChildProcess run;
    if (NoMoreRuns() || !run.Start(argv)) {
      ADD_FAILURE() << "cannot start " << argv.back();
      return stopped;
    }
    const pid_t pid = run.Pid();
    if (stop.how != EStop::kKillPoint && stop.when == EWhen::kLine) {
      EXPECT_TRUE(drtest::Eventually([pid] { return drtest::IsStopped(pid) || Gone(pid); }, 120000));
      if (drtest::IsStopped(pid)) {
        // The line naming the job came before any the job logs.
        ReadToJob(run, stopped, 1000);
        if (stopped.jobId != 0) {
          Ask(stop, db, run, stopped, true);
        } else {
          kill(pid, SIGCONT);
          ReadToJob(run, stopped, 120000);
          if (stopped.jobId != 0) Ask(stop, db, run, stopped, false);
        }
      } else {
        stopped.told += "  the line never came: the run was not stopped\n";
        stopped.missed = "its pause line never came";
      }
    } else if (stop.how != EStop::kKillPoint) {
      ReadToJob(run, stopped, 120000);
      if (stopped.jobId != 0) {
        if (stop.when == EWhen::kChild) {
          CDBConnection::SetPath(db);
          EXPECT_TRUE(drtest::Eventually(
              [&] {
                const std::vector<SChildJobRecord> children = ChildrenSince(childrenBefore);
                const size_t at = static_cast<size_t>(stop.child - 1);
                return Gone(pid) ||
                       (children.size() > at && (children[at].ended || children[at].percent >= stop.percent));
              },
              120000));
          CDBConnection::CloseThreadConnections();
          CDBConnection::SetPath("");
        }
        std::this_thread::sleep_for(std::chrono::microseconds(stop.delayUs));
        Ask(stop, db, run, stopped, false);
      }
    }
    const int status = ReadToEnd(run, stopped.run.output, [&stopped](const std::string& line) {
      if (stopped.jobId == 0) stopped.jobId = JobOfHeader(line);
    });
    if (WIFEXITED(status)) stopped.run.code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) stopped.signal = WTERMSIG(status);
    // Whether the request reached the job, and how it fell short if not.
    bool reached = false;
    std::string notReached;
    if (stop.how == EStop::kKillPoint) {
      const std::string log = drtest::ReadFile(LogPath());
      reached = log.size() > logged && log.find("KillPoint(): Kill of DR job [", logged) != std::string::npos;
      stopped.told += reached ? "  the kill point came\n" : "  the kill point never came: the run was not stopped\n";
      notReached = "the kill point's line never came";
    } else if (stop.how == EStop::kInterrupt) {
      reached = stopped.run.output.find("drjob: SIGINT: kill requested for DR job [") != std::string::npos;
      notReached = stopped.jobId == 0 ? "the run named no job" : "drjob took no SIGINT for a kill (its job was over)";
    } else {
      reached = stopped.asked == 0;
      notReached = stopped.asked < 0 ? stopped.missed : "drjob control answered exit " + std::to_string(stopped.asked);
    }
    stopped.effect = stoptally::EffectOf(reached, notReached, stopped.run.output);
    stopped.told += "  " + stopped.effect.text + "\n";
    stopped.nextSteps = drtest::PrintedCommands(stopped.run.output);
    if (stop.how != EStop::kSuspendThenKill || stopped.jobId == 0) return stopped;
    if (stopped.run.code == kExitSuspended || stopped.run.code == kExitPending) EndRunningChildren(db, stopped.told);
    const drtest::SResult killed =
        Host({}, {"control", "--db", db, "--job", std::to_string(stopped.jobId), "kill"}, stopped.told);
    // drjob killed the job itself: what it printed is how the job goes on.
    if (killed.code == 0) {
      stopped.nextSteps = drtest::PrintedCommands(killed.output);
      stopped.callsUnderWay = killed.output.find("stay in progress") != std::string::npos;
    }
    return stopped;
  }

  // The highest child job id of the lab db (0: none).
  static long long LastChild(const std::string& db) {
    CDBConnection::SetPath(db);
    long long last = 0;
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    for (const SChildJobRecord& job : jobs) last = std::max(last, job.jobId);
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    return last;
  }

  // The child jobs launched after the one numbered after, by id, on the
  // lab open now (a backup's VM children left out: they never run).
  static std::vector<SChildJobRecord> ChildrenSince(long long after) {
    std::vector<SChildJobRecord> jobs, since;
    if (CJobSimulator::Jobs(jobs) != EStoreResult::kOk) return since;
    for (const SChildJobRecord& job : jobs) {
      if (job.jobId > after && !job.vmChild) since.push_back(job);
    }
    std::sort(since.begin(), since.end(),
              [](const SChildJobRecord& a, const SChildJobRecord& b) { return a.jobId < b.jobId; });
    return since;
  }

  // The child jobs still running once the suspended run has gone end, as
  // they would while the job waits suspended: only the job moves its
  // suspended ones on.
  void EndRunningChildren(const std::string& db, std::string& told) {
    CDBConnection::SetPath(db);
    std::vector<SChildJobRecord> jobs;
    EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    for (const SChildJobRecord& job : jobs) {
      if (job.ended || job.vmChild || job.status != "Running") continue;
      Host({}, {"job", "--db", db, "--job", std::to_string(job.jobId), "complete"}, told);
    }
  }

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
