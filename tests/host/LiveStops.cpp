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

// A kill or pause point's marker for a log line: the line up to its first
// digit, since ids, counts and times may differ from run to run, and what
// comes before them names the step.
std::string MarkerOf(const std::string& message) {
  const size_t digit = message.find_first_of("0123456789");
  return digit == std::string::npos ? message : message.substr(0, digit);
}

}  // namespace

std::string SStop::Text() const {
  const std::string line = "[" + marker + "] x" + std::to_string(count);
  if (how == EStop::kKillPoint) return "kill point at " + line;
  if (how == EStop::kCrash) return "crash at " + line;
  if (how == EStop::kNone) return "run through";
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

long long JobOfHeader(const std::string& line) {
  const std::string head = "drjob: DR job [";
  if (line.rfind(head, 0) != 0 || line.find("] on DR group [") == std::string::npos) return 0;
  return atoll(line.c_str() + head.size());
}

SReference CLiveStops::ReferenceRun(const std::string& db, const std::vector<std::string>& argv, long long job,
                                    crashmatrix::SOutcome& outcome) {
  SReference reference;
  const size_t logged = drtest::ReadFile(LogPath()).size();
  const long long childrenBefore = LastChild(db);
  drtest::CChildProcess run;
  EXPECT_TRUE(run.Start(argv));
  std::chrono::steady_clock::time_point named = std::chrono::steady_clock::now();
  long long header = 0;
  for (std::string line; run.ReadLine(line, 120000);) {
    outcome.output += line + "\n";
    if (header == 0 && (header = JobOfHeader(line)) != 0) named = std::chrono::steady_clock::now();
  }
  const int status = run.Wait();
  reference.durationUs =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - named).count();
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  CDBConnection::SetPath(db);
  reference.children = static_cast<int>(ChildrenSince(childrenBefore).size());
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  // The run's own lines: those of the process whose lines name the job.
  const std::string log = drtest::ReadFile(LogPath());
  std::vector<std::pair<std::string, std::string>> lines;
  // A new job's id is the one its header names.
  if (job == 0) job = header;
  std::string runner;
  for (const std::string& line : crashmatrix::PictureLines(log.size() > logged ? log.substr(logged) : "")) {
    std::string pid, message;
    long long lineJob = 0;
    if (!LogMessage(line, pid, lineJob, message)) continue;
    if (runner.empty() && lineJob == job) runner = pid;
    lines.emplace_back(pid, message);
  }
  for (const auto& line : lines) {
    if (line.first == runner) reference.lines.push_back(line.second);
  }
  return reference;
}

SStop CLiveStops::Draw(EStop how, const SReference& reference, std::mt19937& random) {
  SStop stop;
  stop.how = how;
  if (how == EStop::kKillPoint || how == EStop::kCrash) {
    stop.when = EWhen::kLine;
  } else {
    const int ways = how == EStop::kSuspendThenKill && reference.children > 0 ? 3 : 2;
    stop.when = static_cast<EWhen>(std::uniform_int_distribution<int>(0, ways - 1)(random));
  }
  switch (stop.when) {
    case EWhen::kDelay:
      stop.delayUs = std::uniform_int_distribution<long long>(0, std::max(1LL, reference.durationUs))(random);
      break;
    case EWhen::kLine: {
      if (reference.lines.empty()) break;
      const size_t line = std::uniform_int_distribution<size_t>(0, reference.lines.size() - 1)(random);
      stop.marker = MarkerOf(reference.lines[line]);
      for (size_t i = 0; i <= line; ++i) {
        if (reference.lines[i].find(stop.marker) != std::string::npos) ++stop.count;
      }
      break;
    }
    case EWhen::kChild:
      stop.child = std::uniform_int_distribution<int>(1, reference.children)(random);
      stop.percent = std::uniform_int_distribution<int>(0, 99)(random);
      break;
  }
  return stop;
}

std::vector<std::string> CLiveStops::Environment(const SStop& stop) const {
  std::vector<std::string> env = {"DR_RUN_DIR=" + Dir() + "/run", "DR_LOCK_DIR=" + Dir() + "/locks",
                                  "DR_TIME_SCALE=0.001"};
  if (stop.when == EWhen::kLine && !stop.marker.empty()) {
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
    if (asked.code == kExitDatabase && paused) {
      kill(pid, SIGCONT);
      paused = false;
      Host({}, args, stopped.told);
    }
  }
  if (paused) kill(pid, SIGCONT);
}

SStopped CLiveStops::Stop(const SStop& stop, const std::string& db, const std::vector<std::string>& argv) {
  SStopped stopped;
  const bool atLine = stop.how == EStop::kKillPoint || stop.how == EStop::kCrash;
  const size_t logged = drtest::ReadFile(LogPath()).size();
  const long long childrenBefore = stop.when == EWhen::kChild ? LastChild(db) : 0;
  drtest::CChildProcess run;
  if (!run.Start(argv)) {
    ADD_FAILURE() << "cannot start " << argv.back();
    return stopped;
  }
  const pid_t pid = run.Pid();
  if (stop.how == EStop::kNone) {
    // Read to its end below.
  } else if (!atLine && stop.when == EWhen::kLine) {
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
    }
  } else if (!atLine) {
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
  for (std::string line; run.ReadLine(line, 120000);) {
    stopped.run.output += line + "\n";
    if (stopped.jobId == 0) stopped.jobId = JobOfHeader(line);
  }
  const int status = run.Wait();
  if (WIFEXITED(status)) stopped.run.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) stopped.signal = WTERMSIG(status);
  if (stop.how == EStop::kKillPoint) {
    const std::string log = drtest::ReadFile(LogPath());
    const bool requested = log.size() > logged && log.find("KillPoint(): Kill of DR job [", logged) != std::string::npos;
    stopped.told += requested ? "  the kill point came\n" : "  the kill point never came: the run was not stopped\n";
  }
  if (stop.how == EStop::kCrash) {
    stopped.told += stopped.signal == SIGKILL ? "  the crash came\n" : "  the crash never came: the run was not stopped\n";
  }
  stopped.nextSteps = killtable::NextSteps(stopped.run.output);
  if (stop.how != EStop::kSuspendThenKill || stopped.jobId == 0) return stopped;
  if (stopped.run.code == kExitSuspended || stopped.run.code == kExitPending) EndRunningChildren(db, stopped.told);
  const drtest::SResult killed =
      Host({}, {"control", "--db", db, "--job", std::to_string(stopped.jobId), "kill"}, stopped.told);
  // drjob killed the job itself: what it printed is how the job goes on.
  if (killed.code == 0) {
    stopped.nextSteps = killtable::NextSteps(killed.output);
    stopped.callsUnderWay = killed.output.find("stay in progress") != std::string::npos;
    stopped.killOutput = killed.output;
  }
  return stopped;
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
