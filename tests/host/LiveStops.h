// The ways an operator stops a running DR job, drawn at random from a run
// of the same job left to its end: what the live-kill sampler and the walk
// over the DR types stop their runs with.
// A stop is one of:
// - drjob control kill from a second process;
// - SIGINT to the drjob process (Ctrl-C);
// - drjob control suspend, then, once the run has ended, the child jobs it
//   left running end (drjob job ... complete, as they would while the job
//   waits suspended), then drjob control kill;
// - a kill point (DR_KILL_AT, DR_KILL_AT_COUNT) right after a random line of
//   the uninterrupted run's log;
// - a crash (DR_CRASH_AT, DR_CRASH_AT_COUNT: SIGKILL) right after such a
//   line, which the live-kill sampler leaves to the crash sampler.
// The first three come a random real-time delay after the run named its
// job, or right after a random line of the uninterrupted run's log (the run
// pauses there, DR_PAUSE_AT, while the stop is asked for), or, for the
// suspend, once a random child job of the run has done a random share of
// its work, so that children run on through the suspension.
// A stop may stop nothing (it came once the job's steps no longer looked
// for it, or its line never came): Stop says what each did
// (stoptally::EffectOf), and DrawEarlier draws such a stop again, earlier.
// A replay draws the same stops: the same delay, child job and share, and
// the same line number of the uninterrupted run's log, whose lines another
// run may order otherwise (machines run side by side).
#pragma once

#include <random>
#include <string>
#include <vector>

#include "host/KillTable.h"
#include "host/StopTally.h"
#include "jobsim/JobSimulator.h"

namespace livestops {

// kNone: the run goes to its end.
enum class EStop { kControlKill, kInterrupt, kSuspendThenKill, kKillPoint, kCrash, kNone };

// When a stop other than the kill point or the crash is asked for.
enum class EWhen { kDelay, kLine, kChild };

// drjob's exit codes the stops read.
constexpr int kExitDatabase = 4;
constexpr int kExitSuspended = 10;
constexpr int kExitPending = 11;

// One stop of one run: how, and when.
struct SStop {
  EStop how = EStop::kNone;
  EWhen when = EWhen::kDelay;
  // kDelay: real time from the run's first line naming its job.
  long long delayUs = 0;
  // kLine, the kill point and the crash: right after the countth log line
  // that holds marker, the lineth of the run it was drawn from.
  std::string marker;
  long count = 0;
  size_t line = 0;
  // kChild: once the run's childth child job has run percent of its time,
  // or has ended.
  int child = 0;
  int percent = 0;

  std::string Text() const;
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

// The positions (Position) each kind of moment may still take: below
// each bound. At first the whole run: its lines, its length, its child
// jobs' work.
struct SBounds {
  long long below[3] = {0, 0, 0};
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
  // The lines of the control kill that ended a suspended job (empty when
  // none did): how that job goes on.
  std::string killOutput;
  // The exit code of the control command that asked for the stop (the
  // last, when it was asked again); -1 when none did.
  int asked = -1;
  // Why nothing was asked, when nothing was.
  std::string missed = "the run named no job";
  // Whether the stop stopped the job.
  stoptally::SStopEffect effect;
};

// The job a run's header names ("drjob: DR job [N] on DR group [...") (0:
// the line is not that header).
long long JobOfHeader(const std::string& line);

class CLiveStops : public killtable::CKillTable {
 protected:
  // The run argv starts (drjob itself, or a shell that drjob replaces) on
  // the lab db, left to its end: its lines and exit code into outcome, and
  // what stops are drawn from. Its own log lines are those its process
  // wrote.
  SReference Measure(const std::string& db, const std::vector<std::string>& argv, crashmatrix::SOutcome& outcome);

  // A random stop of the given kind, drawn from the reference.
  static SStop Draw(EStop how, const SReference& reference, std::mt19937& random);
  static SBounds BoundsOf(const SReference& reference);
  // A stop that stopped nothing came once no step of the job looked for it
  // any more (or its line never came), as would any later one of its kind:
  // the stop drawn again, at a line below the earliest line that stopped
  // nothing (bounds), or, once no line is left, of any other kind its mode
  // takes below the earliest of that kind; false when no moment is left.
  // A line holds the run until the request is made; a delay's or a child's
  // request lands when it is made, which may be after every look of a
  // short job.
  static bool DrawEarlier(SStop& stop, const SReference& reference, SBounds& bounds, std::mt19937& random);

  // The run started by argv on the lab db, stopped as stop says.
  SStopped Stop(const SStop& stop, const std::string& db, const std::vector<std::string>& argv);

  // drjob with args, its error lines with its output; the process started
  // is drjob itself, which a signal reaches.
  std::vector<std::string> HostArgv(const std::vector<std::string>& args, const SStop& stop) const;
  // A printed command, read by the shell as RunAsPrinted reads it, whose
  // drjob replaces the shell, so that the process started is drjob.
  std::vector<std::string> PrintedArgv(const std::string& command, const SStop& stop) const;

  // The highest child job id of the lab db (0: none).
  static long long LastChild(const std::string& db);
  // The child jobs launched after the one numbered after, by id, on the
  // lab open now (a backup's VM children left out: they never run).
  static std::vector<SChildJobRecord> ChildrenSince(long long after);

 private:
  // The case's folder: its run folder holds the log.
  std::string Dir() const { return LogPath().substr(0, LogPath().rfind("/run/")); }
  // A run's environment, with the kill, crash or pause point the stop arms.
  std::vector<std::string> Environment(const SStop& stop) const;
  // drjob (control, job) on the lab, told with its answer.
  drtest::SResult Host(const std::vector<std::string>& env, const std::vector<std::string>& args, std::string& told);
  // The run's lines up to the one that names its job, or as far as they
  // come within timeoutMs each.
  static void ReadToJob(drtest::CChildProcess& run, SStopped& stopped, int timeoutMs);
  // Asks the running (paused: stopped at its pause point) run to stop as
  // stop says.
  void Ask(const SStop& stop, const std::string& db, drtest::CChildProcess& run, SStopped& stopped, bool paused);
  // Whether the stop reached the job, and what it did: into stopped.effect.
  void JudgeEffect(const SStop& stop, size_t logged, SStopped& stopped) const;
  // The child jobs still running once the suspended run has gone end, as
  // they would while the job waits suspended.
  void EndRunningChildren(const std::string& db, std::string& told);

  // The stop's moment drawn at random among the kinds its mode takes (a
  // kill point or a crash: a line only; a suspend: a child's share too)
  // that have positions left; false when none has.
  static bool DrawBelow(SStop& stop, const SReference& reference, const SBounds& bounds, std::mt19937& random);
  // Where a stop's moment falls among its kind's: a line's index in the
  // reference, a delay, or a child job's share, (child - 1) * 100 +
  // percent.
  static long long Position(const SStop& stop);
  // The stop's moment drawn at random below limit (its kind's positions).
  static void DrawMoment(SStop& stop, const SReference& reference, long long limit, std::mt19937& random);
};

}  // namespace livestops
