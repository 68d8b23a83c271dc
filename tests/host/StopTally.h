// What an instrument that stops running DR jobs as an operator does (the
// live-kill sampler) counts of its stops. A stop drawn at random may come
// too late (the job has stored its final state, or no step of it looks for
// a kill any more) or never (its line did not come): the run then ends as
// if nobody had asked, and a trial built on it is a plain run. So each stop
// is judged by what drjob said, counted per stop mode, and a mode that
// stopped no job fails.
//
// A stop stopped the job when its request reached the job (a control
// command answered 0, drjob printed that a SIGINT is its kill, a kill
// point's line came) and the job did not say it was "not acted on" (drjob's
// line after the final state when a kill or suspend stood that halted
// nothing: docs/host.md).
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

namespace stoptally {

// What one stop did to its run.
struct SStopEffect {
  bool reached = false;
  bool acted = false;
  // "stopped the job", or "stopped nothing: " and why.
  std::string text;
};

// The effect of a stop whose request reached the job or not (notReached
// says how it fell short), from the run's lines (drjob's output).
SStopEffect EffectOf(bool reached, const std::string& notReached, const std::string& output);

// The stops of one test, per mode: those of a first run, and those of a
// printed next step.
class CStopTally {
 public:
  explicit CStopTally(std::vector<std::string> modes);

  void Count(size_t mode, bool nextStep, const SStopEffect& effect);
  // One line per mode that tried a stop: "MODE: N stop(s) tried, K
  // stopped a job (first runs A of B, next steps C of D)".
  std::vector<std::string> Lines() const;
  // The modes that tried stops and stopped no job, each with its line.
  std::vector<std::string> Idle() const;

 private:
  struct SCount {
    unsigned long firstTried = 0;
    unsigned long firstStopped = 0;
    unsigned long nextTried = 0;
    unsigned long nextStopped = 0;
  };
  std::string Line(size_t mode) const;

  std::vector<std::string> m_modes;
  std::vector<SCount> m_counts;
};

// A lab's files as they stand, read while no connection of this process
// holds the lab, so that a run made on it only to be measured (the
// uninterrupted run a stop is drawn from) can be undone: Restore writes
// them back, the lab's WAL as it was (none when there was none), and drops
// the shared-memory index SQLite rebuilds from them.
class CSavedLab {
 public:
  explicit CSavedLab(std::string db);
  bool Restore() const;

 private:
  std::string m_db;
  std::string m_bytes;
  bool m_hasWal = false;
  std::string m_wal;
};

}  // namespace stoptally
