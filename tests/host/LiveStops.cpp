#include "host/LiveStops.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "jobsim/JobSimulator.h"

namespace livestops {

namespace {

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

// A kill, crash or pause point's marker for a log line: the line up to its
// first digit, since ids, counts and times may differ from run to run, and
// what comes before them names the step.
std::string MarkerOf(const std::string& message) {
  const size_t digit = message.find_first_of("0123456789");
  return digit == std::string::npos ? message : message.substr(0, digit);
}

// The stops armed at a log line rather than asked for.
bool AtLine(EStop how) { return how == EStop::kKillPoint || how == EStop::kCrash; }

}  // namespace

std::string SStop::Text() const {
  const std::string at = "[" + marker + "] x" + std::to_string(count);
  if (how == EStop::kKillPoint) return "kill point at " + at;
  if (how == EStop::kCrash) return "crash at " + at;
  if (how == EStop::kNone) return "run through";
  std::string moment;
  switch (when) {
    case EWhen::kDelay:
      moment = std::to_string(delayUs / 1000) + " ms after the job's first line";
      break;
    case EWhen::kLine:
      moment = "right after log line " + at;
      break;
    case EWhen::kChild:
      moment = "once its child job " + std::to_string(child) + " has run " + std::to_string(percent) + "%";
      break;
  }
  if (how == EStop::kSuspendThenKill) return "control suspend " + moment + ", then control kill";
  return (how == EStop::kInterrupt ? "SIGINT " : "control kill ") + moment;
}

long long JobOfHeader(const std::string& line) {
  const std::string head = "drjob: DR job [";
  if (line.rfind(head, 0) != 0 || line.find("] on DR group [") == std::string::npos) return 0;
  return atoll(line.c_str() + head.size());
}

SReference CLiveStops::Measure(const std::string& db, const std::vector<std::string>& argv,
                               crashmatrix::SOutcome& outcome) {
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

SStop CLiveStops::Draw(EStop how, const SReference& reference, std::mt19937& random) {
  SBounds bounds = BoundsOf(reference);
  SStop stop;
  stop.how = how;
  DrawBelow(stop, reference, bounds, random);
  return stop;
}

SBounds CLiveStops::BoundsOf(const SReference& reference) {
  SBounds bounds;
  bounds.below[static_cast<int>(EWhen::kDelay)] = std::max(1LL, reference.durationUs) + 1;
  bounds.below[static_cast<int>(EWhen::kLine)] = static_cast<long long>(reference.lines.size());
  bounds.below[static_cast<int>(EWhen::kChild)] = 100LL * reference.children;
  return bounds;
}

bool CLiveStops::DrawBelow(SStop& stop, const SReference& reference, const SBounds& bounds, std::mt19937& random) {
  std::vector<EWhen> kinds;
  const EWhen all[] = {EWhen::kDelay, EWhen::kLine, EWhen::kChild};
  for (const EWhen when : all) {
    if (AtLine(stop.how) && when != EWhen::kLine) continue;
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

bool CLiveStops::DrawEarlier(SStop& stop, const SReference& reference, SBounds& bounds, std::mt19937& random) {
  long long& below = bounds.below[static_cast<int>(stop.when)];
  below = std::min(below, Position(stop));
  // A stop asked for after a delay or at a child's share lands only once
  // its request is made (a control command started, a signal handled),
  // which may be after every moment a short job looks for a kill: a
  // clean-up that keeps its DR VMs looks once, 2 ms into its run. A line
  // holds the run until the request is made, so a stop drawn again is at a
  // line while any is left.
  SBounds lines = bounds;
  lines.below[static_cast<int>(EWhen::kDelay)] = 0;
  lines.below[static_cast<int>(EWhen::kChild)] = 0;
  return DrawBelow(stop, reference, lines, random) || DrawBelow(stop, reference, bounds, random);
}

long long CLiveStops::Position(const SStop& stop) {
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

void CLiveStops::DrawMoment(SStop& stop, const SReference& reference, long long limit, std::mt19937& random) {
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

std::vector<std::string> CLiveStops::Environment(const SStop& stop) const {
  std::vector<std::string> env = {"DR_RUN_DIR=" + Dir() + "/run", "DR_LOCK_DIR=" + Dir() + "/locks",
                                  "DR_TIME_SCALE=0.001"};
  if (stop.how != EStop::kNone && stop.when == EWhen::kLine && !stop.marker.empty()) {
    const std::string point = stop.how == EStop::kKillPoint ? "DR_KILL_AT"
                              : stop.how == EStop::kCrash   ? "DR_CRASH_AT"
                                                            : "DR_PAUSE_AT";
    env.push_back(point + "=" + stop.marker);
    env.push_back(point + "_COUNT=" + std::to_string(stop.count));
  }
  return env;
}

std::vector<std::string> CLiveStops::HostArgv(const std::vector<std::string>& args, const SStop& stop) const {
  std::vector<std::string> argv = {"/usr/bin/env"};
  const std::vector<std::string> env = Environment(stop);
  argv.insert(argv.end(), env.begin(), env.end());
  argv.insert(argv.end(), {"/bin/sh", "-c", "exec \"$@\" 2>&1", "sh", DR_DRJOB});
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::vector<std::string> CLiveStops::PrintedArgv(const std::string& command, const SStop& stop) const {
  std::vector<std::string> argv = {"/usr/bin/env"};
  const std::vector<std::string> env = Environment(stop);
  argv.insert(argv.end(), env.begin(), env.end());
  argv.insert(argv.end(), {std::string("DR_TEST_DRJOB=") + DR_DRJOB, "DR_TEST_COMMAND=" + command, "/bin/sh", "-c",
                           "drjob() { exec \"$DR_TEST_DRJOB\" \"$@\"; }; exec 2>&1; eval \"$DR_TEST_COMMAND\""});
  return argv;
}

drtest::SResult CLiveStops::Host(const std::vector<std::string>& env, const std::vector<std::string>& args,
                                 std::string& told) {
  int signal = 0;
  const drtest::SResult r = RunHost(env, args, signal);
  std::string command = "drjob";
  for (const std::string& a : args) command += " " + a;
  told += "  [" + command + "] -> exit " + std::to_string(r.code) + "\n";
  for (const std::string& line : crashmatrix::PictureLines(r.output)) told += "    " + line + "\n";
  return r;
}

void CLiveStops::ReadToJob(drtest::CChildProcess& run, SStopped& stopped, int timeoutMs) {
  for (std::string line; stopped.jobId == 0 && run.ReadLine(line, timeoutMs);) {
    stopped.run.output += line + "\n";
    stopped.jobId = JobOfHeader(line);
  }
}

// A paused run is continued here; it may hold the lab's write lock at its
// pause, so drjob control waits for it briefly and asks again once the run
// goes on.
void CLiveStops::Ask(const SStop& stop, const std::string& db, drtest::CChildProcess& run, SStopped& stopped,
                     bool paused) {
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

SStopped CLiveStops::Stop(const SStop& stop, const std::string& db, const std::vector<std::string>& argv) {
  SStopped stopped;
  const size_t logged = drtest::ReadFile(LogPath()).size();
  const long long childrenBefore = stop.when == EWhen::kChild ? LastChild(db) : 0;
  drtest::CChildProcess run;
  if (NoMoreRuns() || !run.Start(argv)) {
    ADD_FAILURE() << "cannot start " << argv.back();
    return stopped;
  }
  const pid_t pid = run.Pid();
  if (stop.how == EStop::kNone || AtLine(stop.how)) {
    // Read to its end below: a kill or crash point stops it itself.
  } else if (stop.when == EWhen::kLine) {
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
  } else {
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
  if (stop.how != EStop::kNone) JudgeEffect(stop, logged, stopped);
  stopped.nextSteps = drtest::PrintedCommands(stopped.run.output);
  if (stop.how != EStop::kSuspendThenKill || stopped.jobId == 0) return stopped;
  if (stopped.run.code == kExitSuspended || stopped.run.code == kExitPending) EndRunningChildren(db, stopped.told);
  const drtest::SResult killed =
      Host({}, {"control", "--db", db, "--job", std::to_string(stopped.jobId), "kill"}, stopped.told);
  // drjob killed the job itself: what it printed is how the job goes on.
  if (killed.code == 0) {
    stopped.nextSteps = drtest::PrintedCommands(killed.output);
    stopped.callsUnderWay = killed.output.find("stay in progress") != std::string::npos;
    stopped.killOutput = killed.output;
  }
  return stopped;
}

void CLiveStops::JudgeEffect(const SStop& stop, size_t logged, SStopped& stopped) const {
  bool reached = false;
  std::string notReached;
  if (stop.how == EStop::kKillPoint) {
    const std::string log = drtest::ReadFile(LogPath());
    reached = log.size() > logged && log.find("KillPoint(): Kill of DR job [", logged) != std::string::npos;
    stopped.told += reached ? "  the kill point came\n" : "  the kill point never came: the run was not stopped\n";
    notReached = "the kill point's line never came";
  } else if (stop.how == EStop::kCrash) {
    reached = stopped.signal == SIGKILL;
    stopped.told += reached ? "  the crash came\n" : "  the crash never came: the run was not stopped\n";
    notReached = "the crash point's line never came";
  } else if (stop.how == EStop::kInterrupt) {
    reached = stopped.run.output.find("drjob: SIGINT: kill requested for DR job [") != std::string::npos;
    notReached = stopped.jobId == 0 ? "the run named no job" : "drjob took no SIGINT for a kill (its job was over)";
  } else {
    reached = stopped.asked == 0;
    notReached = stopped.asked < 0 ? stopped.missed : "drjob control answered exit " + std::to_string(stopped.asked);
  }
  stopped.effect = stoptally::EffectOf(reached, notReached, stopped.run.output);
  stopped.told += "  " + stopped.effect.text + "\n";
}

long long CLiveStops::LastChild(const std::string& db) {
  CDBConnection::SetPath(db);
  long long last = 0;
  std::vector<SChildJobRecord> jobs;
  EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
  for (const SChildJobRecord& job : jobs) last = std::max(last, job.jobId);
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  return last;
}

std::vector<SChildJobRecord> CLiveStops::ChildrenSince(long long after) {
  std::vector<SChildJobRecord> jobs, since;
  if (CJobSimulator::Jobs(jobs) != EStoreResult::kOk) return since;
  for (const SChildJobRecord& job : jobs) {
    if (job.jobId > after && !job.vmChild) since.push_back(job);
  }
  std::sort(since.begin(), since.end(),
            [](const SChildJobRecord& a, const SChildJobRecord& b) { return a.jobId < b.jobId; });
  return since;
}

// Only the job moves its suspended child jobs on.
void CLiveStops::EndRunningChildren(const std::string& db, std::string& told) {
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

}  // namespace livestops
