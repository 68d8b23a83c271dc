// The walk over the DR types: random walks of 4 to 8 DR types of one sample
// group from the fresh lab, each drawn among the group's matrix entries
// (typeruns::EntriesOf, with their options; a point-in-time failover's
// times drawn from its DR VMs' listed snapshots), each job run through,
// stopped by one of the live-kill sampler's four stops (livestops), or
// crashed right after a line drawn from the log of the same job run to its
// end on a copy of the lab just before (then run again as a user would).
// Half the walks follow the next steps a job prints, as printed (then draw
// again once none is left); the others draw every next type at random. A
// write goes into every running VM after every run and stop. Every run is
// judged by TypeJudge.h's rules, with no reference run: a job fails on
// purpose only as an on-purpose row of TypeMatrixCells.cpp does, matched on
// the machine's statuses and snapshots before the job. The walk ends after
// its types, or once a clean-up removed the group's replications.
//
// Part of ./dr.sh stress (label "stress"), not of ./dr.sh test. Each part
// is a test of its own, so ctest runs them side by side: 40 walks in all
// (Sample 4 x 7, SampleArray 2 x 5, SampleDB and SampleTest 1 each), so the
// stress run's five repeats walk 200. It counts each stop tried and each
// that stopped a job, and fails a stop mode that stopped nothing. The seed
// is printed; DR_TYPE_WALK_SEED=<seed> replays a run, DR_TYPE_WALK=<k> only
// its walk k, DR_TYPE_WALKS=<n> takes n walks per part.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/TypeRuns.h"

namespace {

using crashmatrix::SType;
using livestops::EStop;
using typejudge::SFinding;

struct SPart {
  const char* group;
  unsigned long walks;
};
constexpr SPart kParts[] = {{"Sample", 7},      {"Sample", 7},   {"Sample", 7},   {"Sample", 7},
                            {"SampleArray", 5}, {"SampleArray", 5}, {"SampleDB", 1}, {"SampleTest", 1}};

// How a job is run: through, or stopped (the operator's four), or crashed.
const char* const kModes[] = {"control kill", "SIGINT", "suspend then kill", "kill point", "crash"};
constexpr size_t kModeCount = sizeof(kModes) / sizeof(kModes[0]);
constexpr EStop kModeStops[] = {EStop::kControlKill, EStop::kInterrupt, EStop::kSuspendThenKill, EStop::kKillPoint,
                                EStop::kCrash};
// Of seven draws two run the job through.
constexpr int kThroughDraws = 2;
// Printed steps a walk follows after one drawn job, at most.
constexpr int kFollowedPerJob = 4;
// How many times a stop that stopped nothing is drawn again, earlier.
constexpr int kRedraws = 8;

// A DR job of the walk: its type, its options, the lab before its first
// attempt, and the machines an attempt of it took up.
struct SJob {
  std::string type;
  std::vector<std::string> options;
  std::string before;
  std::set<int> taken;
};

// The next run: a drawn entry's arguments, or a printed step.
struct SNext {
  std::vector<std::string> args;  // drawn: drjob's arguments
  typejudge::SStep step;          // printed: its command and machines
  bool printed = false;
  // Known before the run (a restart), or once it has named it; 0: a new
  // job not yet run.
  long long job = 0;
  // A drawn entry's type and options.
  std::string type;
  std::vector<std::string> options;
};

// The options of a printed command that the table's rows are for.
std::vector<std::string> FlagsOf(const std::string& command) {
  std::vector<std::string> flags;
  for (const char* flag : {"--delete-from-hypervisor", "--no-power-on"}) {
    if (command.find(std::string(" ") + flag) != std::string::npos) flags.push_back(flag);
  }
  return flags;
}

// The job id and type a run's header names ("drjob: DR job [N] on DR group
// [G] (id I), type [T]").
long long HeaderOf(const std::string& output, std::string& type) {
  for (const std::string& line : crashmatrix::PictureLines(output)) {
    const long long job = livestops::JobOfHeader(line);
    const size_t at = line.rfind(", type [");
    if (job == 0 || at == std::string::npos) continue;
    type = line.substr(at + 8, line.find(']', at + 8) - at - 8);
    return job;
  }
  return 0;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// What a walk carries from job to job: its lab, whether it follows printed
// steps, the judge's memory of contents, its jobs, what it ran (for a
// failure's message) and the rules it broke.
struct SWalk {
  std::string group;
  std::string db;
  bool follow = false;
  typejudge::CContents contents;
  std::map<long long, SJob> jobs;
  std::string history;
  std::set<std::string> broken;
};

class DrJobTypeWalk : public typeruns::CTypeRuns, public testing::WithParamInterface<size_t> {
 protected:
  // One walk; its findings fail the test, each with the walk's runs.
  void Walk(const std::string& group, unsigned long seed, unsigned long k) {
    std::seed_seq seq{static_cast<unsigned>(seed), static_cast<unsigned>(GetParam()), static_cast<unsigned>(k)};
    std::mt19937 random(seq);
    SWalk w;
    w.group = group;
    w.follow = std::bernoulli_distribution(0.5)(random);
    const int length = std::uniform_int_distribution<int>(4, 8)(random);
    const std::vector<const SType*> entries = typeruns::EntriesOf(group);
    w.db = FreshLab(crashmatrix::EStartLab::kSeeded);
    w.history = "walk " + std::to_string(k) + " of seed [" + std::to_string(seed) + "] (" +
                (w.follow ? "following printed steps" : "drawing every type") + ", " + std::to_string(length) +
                " types; DR_TYPE_WALK_SEED=" + std::to_string(seed) + " DR_TYPE_WALK=" + std::to_string(k) +
                " replays it):\n";
    std::deque<typejudge::SStep> pending;
    int drawn = 0, followed = 0;
    while (true) {
      const std::vector<std::string> written = WriteRunning(w.db, group);
      if (!written.empty()) w.history += "  written in: " + killtable::Joined(written, ", ") + "\n";
      const std::string before = PictureOf(w.db, group);
      w.contents.Saw(group, before);
      const auto standings = typejudge::Standings(group, before);
      if (std::none_of(standings.begin(), standings.end(), [](const auto& m) { return m.second.record; })) break;
      SNext next;
      if (w.follow && !pending.empty() && followed < kFollowedPerJob) {
        next.printed = true;
        next.step = pending.front();
        pending.pop_front();
        ++followed;
        const size_t at = next.step.command.find(" --job-id ");
        if (at != std::string::npos) next.job = atoll(next.step.command.c_str() + at + 10);
      } else if (drawn < length) {
        pending.clear();
        followed = 0;
        const SType& entry = *entries[std::uniform_int_distribution<size_t>(0, entries.size() - 1)(random)];
        Serialise(entry, w.db);
        // A new job: drjob gives it its id, as it gives the printed new jobs.
        next.args = EntryArgs(entry, w.db, 0, &random);
        next.options.assign(next.args.begin() + 7, next.args.end());
        next.type = entry.type;
        ++drawn;
      } else {
        break;
      }
      const int draw = std::uniform_int_distribution<int>(0, kThroughDraws + static_cast<int>(kModeCount) - 1)(random);
      std::string output;
      const bool crashed = RunJob(w, next, draw - kThroughDraws, random, before, output);
      if (crashed && next.job != 0) {
        // Run again as the user would after a crash: its restart, after a
        // write as at every stop.
        const std::vector<std::string> more = WriteRunning(w.db, group);
        if (!more.empty()) w.history += "  written in: " + killtable::Joined(more, ", ") + "\n";
        const std::string again = PictureOf(w.db, group);
        w.contents.Saw(group, again);
        SNext rerun;
        rerun.job = next.job;
        rerun.args = {"run", "--db", w.db, "--job-id", std::to_string(next.job)};
        Attempt(w, rerun, livestops::SStop(), -1, again, output);
      }
      if (w.follow) {
        for (typejudge::SStep step : typejudge::Steps(output)) {
          // A command printed again is told anew: its line names what it
          // takes right after this run, which has moved machines since.
          const auto again = std::find_if(pending.begin(), pending.end(),
                                          [&step](const typejudge::SStep& p) { return p.command == step.command; });
          step.first = pending.empty() || again == pending.begin();
          if (again != pending.end()) {
            *again = step;
          } else {
            pending.push_back(step);
          }
        }
      }
    }
    printf("type walk: %s, walk %lu: %d types drawn, %s\n", group.c_str(), k, drawn,
           w.broken.empty()
               ? "held every rule"
               : ("broke " + killtable::Joined(std::vector<std::string>(w.broken.begin(), w.broken.end()), ", "))
                     .c_str());
    for (const std::string& rule : w.broken) m_walksBreaking[rule].push_back(k);
  }

  // One job of the walk (mode < 0: run through), stopped as a stop drawn
  // from the same job run to its end on a copy of the lab. A stop that
  // stopped nothing came too late (or its line never came) and left a
  // plain run, judged as any: it is drawn again, earlier, on the lab and
  // the walk's memory put back as the job found them, up to kRedraws times.
  // Whether the job crashed; output: the lines that tell how it goes on.
  bool RunJob(SWalk& w, SNext& next, int mode, std::mt19937& random, const std::string& before, std::string& output) {
    if (mode < 0) return Attempt(w, next, livestops::SStop(), mode, before, output).signal == SIGKILL;
    const livestops::SReference reference = ReferenceOf(w, next);
    livestops::SBounds bounds = BoundsOf(reference);
    livestops::SStop stop = Draw(kModeStops[mode], reference, random);
    const long long job = next.job;
    for (int redraw = 0;; ++redraw) {
      CDBConnection::CloseThreadConnections();
      CDBConnection::SetPath("");
      const stoptally::CSavedLab saved(w.db);
      const typejudge::CContents contents = w.contents;
      const std::map<long long, SJob> jobs = w.jobs;
      const size_t told = w.history.size();
      const livestops::SStopped stopped = Attempt(w, next, stop, mode, before, output);
      m_tally.Count(static_cast<size_t>(mode), next.printed, stopped.effect);
      const std::string was = stop.Text();
      if (stopped.effect.acted || redraw == kRedraws || !DrawEarlier(stop, reference, bounds, random)) {
        return stopped.signal == SIGKILL;
      }
      // Its lines are of a run undone: one line says what it was.
      w.history.resize(told);
      w.history += "  a run put back as the job found the lab (" + was + ": exit " +
                   std::to_string(stopped.run.code) + ", " + stopped.effect.text + "); the stop drawn again, earlier\n";
      EXPECT_TRUE(saved.Restore()) << "cannot put the lab back after a stop that stopped nothing: " << w.db;
      w.contents = contents;
      w.jobs = jobs;
      next.job = job;
    }
  }

  // The job run to its end on a copy of the lab, for its stop's moment.
  livestops::SReference ReferenceOf(const SWalk& w, const SNext& next) {
    const std::string copy = CopyOf(w.db);
    crashmatrix::SOutcome outcome;
    std::vector<std::string> argv;
    if (next.printed) {
      argv = PrintedArgv(Replaced(next.step.command, w.db, copy), livestops::SStop());
    } else {
      std::vector<std::string> args = next.args;
      args[2] = copy;
      argv = HostArgv(args, livestops::SStop());
    }
    return Measure(copy, argv, outcome);
  }

  // One run of next on the lab, stopped as stop says (mode: its mode, < 0
  // when run through), judged.
  livestops::SStopped Attempt(SWalk& w, SNext& next, const livestops::SStop& stop, int mode,
                              const std::string& before, std::string& output) {
    const std::string& group = w.group;
    const std::string how = stop.Text();
    const std::vector<std::string> argv =
        next.printed ? PrintedArgv(next.step.command, stop) : HostArgv(next.args, stop);
    const livestops::SStopped stopped = Stop(stop, w.db, argv);
    const bool crashed = stopped.signal == SIGKILL;
    const bool halted = mode >= 0 && stopped.effect.acted;
    // A suspended job's control kill tells where its machines stand and how
    // it goes on; the run told their verdicts.
    output = stopped.run.output + stopped.killOutput;
    std::string type;
    const long long job = next.job != 0 ? next.job : HeaderOf(stopped.run.output, type);
    next.job = job;
    const std::string command = next.printed ? next.step.command : "drjob " + killtable::Joined(next.args, " ");
    w.history += crashmatrix::RunText(command + " (" + how + ")", stopped.run.code, stopped.signal, stopped.run.output);
    if (job != 0 && stopped.run.output.find("a completed DR job is not run again") != std::string::npos) {
      // A crash after the job stored its end left its lines unprinted, and
      // its restart runs nothing: drjob jobs tells how it ended.
      int signal = 0;
      const drtest::SResult ended = RunHost({}, {"jobs", "--db", w.db, "--job", std::to_string(job)}, signal);
      output = ended.output;
      w.history += crashmatrix::RunText("drjob jobs --job " + std::to_string(job), ended.code, signal, ended.output);
    }
    if (job == 0) {
      // No job ran: a printed step that runs none took none of its machines.
      const std::vector<SFinding> told = typejudge::JudgeFollowed(next.step, before, PictureOf(w.db, group), output);
      if (!told.empty()) {
        w.broken.insert("told");
        ADD_FAILURE() << "type walk: " << group << ", " << command << " breaks:\n"
                      << typejudge::Text(told) << "the " << w.history;
      }
      return stopped;
    }
    if (w.jobs.count(job) == 0) {
      HeaderOf(stopped.run.output, type);
      w.jobs[job] = next.printed ? SJob{type, FlagsOf(next.step.command), before, {}}
                                 : SJob{next.type, next.options, before, {}};
    }
    SJob& info = w.jobs[job];
    typejudge::SJobAttempt a;
    a.group = group;
    a.type = info.type;
    a.options = info.options;
    a.output = output;
    a.stopped = halted;
    a.crashed = crashed;
    a.before = before;
    a.after = PictureOf(w.db, group);
    a.jobBefore = info.before;
    a.takenBefore = info.taken;
    std::vector<SFinding> findings = typejudge::Judge(a, w.contents, info.taken);
    if (next.printed && w.follow && !halted && !crashed) {
      const std::vector<SFinding> told = typejudge::JudgeFollowed(next.step, before, a.after, stopped.run.output);
      findings.insert(findings.end(), told.begin(), told.end());
    }
    if (!stopped.told.empty()) w.history += stopped.told;
    if (!stopped.killOutput.empty()) w.history += crashmatrix::RunText("its control kill", 0, 0, stopped.killOutput);
    printf("type walk: %s: [%s] (%s%s) -> %s\n", group.c_str(), command.c_str(), how.c_str(),
           mode < 0 ? "" : (": " + stopped.effect.text).c_str(),
           crashed ? "crashed" : ("exit " + std::to_string(stopped.run.code)).c_str());
    // A job fails on purpose only as an on-purpose named cell does.
    const std::vector<const typecells::SCell*> cells =
        typecells::OnPurposeOf(group, typeruns::EntryName(group, info.type, info.options));
    const auto standings = typejudge::Standings(group, info.before);
    std::vector<SFinding> left;
    for (const SFinding& f : findings) {
      const auto stood = standings.find(f.machine);
      if (stood == standings.end() || !Excused(f, cells, stood->second)) left.push_back(f);
    }
    if (!left.empty()) {
      for (const SFinding& f : left) w.broken.insert(f.rule);
      ADD_FAILURE() << "type walk: " << group << ", " << command << " (" << how << ") breaks:\n"
                    << typejudge::Text(left) << "the lab before (- ) and after (+ ):\n"
                    << crashmatrix::PictureDiff(before, a.after) << "the " << w.history;
    }
    return stopped;
  }

  // The test's stops, per mode.
  stoptally::CStopTally m_tally{std::vector<std::string>(std::begin(kModes), std::end(kModes))};
  std::map<std::string, std::vector<unsigned long>> m_walksBreaking;
};

TEST_P(DrJobTypeWalk, EveryJobOfARandomWalkHoldsTheTable) {
  const SPart& part = kParts[GetParam()];
  const unsigned long seed = crashmatrix::EnvNumber("DR_TYPE_WALK_SEED", std::random_device()());
  const unsigned long walks = crashmatrix::EnvNumber("DR_TYPE_WALKS", part.walks);
  const char* only = getenv("DR_TYPE_WALK");
  const bool alone = only != nullptr && *only != '\0';
  const unsigned long from = alone ? strtoul(only, nullptr, 10) : 0;
  const unsigned long to = alone ? from + 1 : walks;
  printf("type walk: %s part %zu, seed [%lu] (DR_TYPE_WALK_SEED=%lu replays it)\n", part.group, GetParam(), seed,
         seed);
  for (unsigned long k = from; k < to; ++k) Walk(part.group, seed, k);
  printf("type walk: %s part %zu, seed [%lu]: %lu walks\n", part.group, GetParam(), seed, to - from);
  for (const std::string& line : m_tally.Lines()) {
    printf("type walk: %s part %zu, seed [%lu]: %s\n", part.group, GetParam(), seed, line.c_str());
  }
  // A stop mode that never stops a job tests nothing; a walk replayed alone
  // is judged by its own lines.
  if (!alone) {
    for (const std::string& idle : m_tally.Idle()) {
      ADD_FAILURE() << "type walk: " << part.group << " part " << GetParam() << ", seed " << seed
                    << ": no stop of a mode stopped a job: " << idle;
    }
  }
  for (const auto& rule : m_walksBreaking) {
    std::string walksText;
    for (unsigned long k : rule.second) walksText += " " + std::to_string(k);
    printf("type walk: %s part %zu, seed [%lu]: %zu walks broke [%s]:%s\n", part.group, GetParam(), seed,
           rule.second.size(), rule.first.c_str(), walksText.c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Parts, DrJobTypeWalk, testing::Range<size_t>(0, std::size(kParts)),
                         [](const testing::TestParamInfo<size_t>& info) {
                           return std::string(kParts[info.param].group) + "_" + std::to_string(info.param);
                         });

}  // namespace
