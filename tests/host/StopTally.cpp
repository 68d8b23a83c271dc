#include "host/StopTally.h"

#include <unistd.h>

#include <utility>

#include "host/DrJobTestSupport.h"

namespace stoptally {

namespace {

// drjob's line for a kill or suspend that stood as the job stored its final
// state and halted nothing.
const char kNotActedOn[] = " was not acted on, because ";

}  // namespace

SStopEffect EffectOf(bool reached, const std::string& notReached, const std::string& output) {
  SStopEffect effect;
  effect.reached = reached;
  if (!reached) {
    effect.text = "stopped nothing: " + notReached;
    return effect;
  }
  const size_t at = output.find(kNotActedOn);
  if (at != std::string::npos) {
    const size_t end = output.find('\n', at);
    effect.text = "stopped nothing: the request" +
                  output.substr(at, end == std::string::npos ? std::string::npos : end - at);
    return effect;
  }
  effect.acted = true;
  effect.text = "stopped the job";
  return effect;
}

CStopTally::CStopTally(std::vector<std::string> modes) : m_modes(std::move(modes)), m_counts(m_modes.size()) {}

void CStopTally::Count(size_t mode, bool nextStep, const SStopEffect& effect) {
  if (mode >= m_counts.size()) return;
  SCount& count = m_counts[mode];
  (nextStep ? count.nextTried : count.firstTried) += 1;
  if (effect.acted) (nextStep ? count.nextStopped : count.firstStopped) += 1;
}

std::string CStopTally::Line(size_t mode) const {
  const SCount& c = m_counts[mode];
  return m_modes[mode] + ": " + std::to_string(c.firstTried + c.nextTried) + " stop(s) tried, " +
         std::to_string(c.firstStopped + c.nextStopped) + " stopped a job (first runs " +
         std::to_string(c.firstStopped) + " of " + std::to_string(c.firstTried) + ", next steps " +
         std::to_string(c.nextStopped) + " of " + std::to_string(c.nextTried) + ")";
}

std::vector<std::string> CStopTally::Lines() const {
  std::vector<std::string> lines;
  for (size_t mode = 0; mode < m_counts.size(); ++mode) {
    if (m_counts[mode].firstTried + m_counts[mode].nextTried > 0) lines.push_back(Line(mode));
  }
  return lines;
}

std::vector<std::string> CStopTally::Idle() const {
  std::vector<std::string> idle;
  for (size_t mode = 0; mode < m_counts.size(); ++mode) {
    const SCount& c = m_counts[mode];
    if (c.firstTried + c.nextTried > 0 && c.firstStopped + c.nextStopped == 0) idle.push_back(Line(mode));
  }
  return idle;
}

CSavedLab::CSavedLab(std::string db) : m_db(std::move(db)) {
  m_bytes = drtest::ReadFile(m_db);
  m_hasWal = drtest::PathExists(m_db + "-wal");
  if (m_hasWal) m_wal = drtest::ReadFile(m_db + "-wal");
}

bool CSavedLab::Restore() const {
  if (m_bytes.empty() || !drtest::WriteFile(m_db, m_bytes)) return false;
  if (m_hasWal && !drtest::WriteFile(m_db + "-wal", m_wal)) return false;
  if (!m_hasWal && drtest::PathExists(m_db + "-wal") && unlink((m_db + "-wal").c_str()) != 0) return false;
  return !drtest::PathExists(m_db + "-shm") || unlink((m_db + "-shm").c_str()) == 0;
}

}  // namespace stoptally
