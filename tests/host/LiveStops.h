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
// A replay draws the same stops: the same delay, child job and share, and
// the same line number of the uninterrupted run's log, whose lines another
// run may order otherwise (machines run side by side).
#pragma once

#include <random>
#include <string>
#include <vector>

#include "host/KillTable.h"
#include "jobsim/JobSimulator.h"

namespace livestops {

// kNone: the run goes to its end.
enum class EStop { kControlKill, kInterrupt, kSuspendThenKill, kKillPoint, kCrash, kNone };
// The operator's four: the live-kill sampler's stop modes.
constexpr EStop kStops[] = {EStop::kControlKill, EStop::kInterrupt, EStop::kSuspendThenKill, EStop::kKillPoint};
constexpr size_t kStopCount = sizeof(kStops) / sizeof(kStops[0]);

// When a stop other than the kill point or the crash is asked for.
enum class EWhen { kDelay, kLine, kChild };

// drjob's exit codes the stops read.
constexpr int kExitDatabase = 4;
constexpr int kExitKilled = 9;
constexpr int kExitSuspended = 10;
constexpr int kExitPending = 11;

// One stop of one run: how, and when.
struct SStop {
  EStop how = EStop::kControlKill;
  EWhen when = EWhen::kDelay;
  // kDelay: real time from the run's first line naming its job.
  long long delayUs = 0;
  // kLine, the kill point and the crash: right after the countth log line
  // that holds marker.
  std::string marker;
  long count = 0;
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
};

// The job a run's header names ("drjob: DR job [N] on DR group [...") (0:
// the line is not that header).
long long JobOfHeader(const std::string& line);

class CLiveStops : public killtable::CKillTable {
 protected:
  // The run started by argv on the lab db, left to its end: its output and
  // exit code into outcome (the lab left closed), and what stops are drawn
  // from. Its own log lines are those of the process whose lines name job
  // (0: the job the run's header names).
  SReference ReferenceRun(const std::string& db, const std::vector<std::string>& argv, long long job,
                          crashmatrix::SOutcome& outcome);
  // A random stop of the given kind, drawn from the reference.
  static SStop Draw(EStop how, const SReference& reference, std::mt19937& random);
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
  // The child jobs still running once the suspended run has gone end, as
  // they would while the job waits suspended.
  void EndRunningChildren(const std::string& db, std::string& told);
};

}  // namespace livestops
