#include "db/DBWriterQueue.h"

#include <algorithm>
#include <chrono>
#include <map>

namespace {

CMutex g_queuesMutex;
std::map<std::string, std::shared_ptr<CDBWriterQueue>> g_queues DR_GUARDED_BY(g_queuesMutex);

}  // namespace

std::shared_ptr<CDBWriterQueue> CDBWriterQueue::ForPath(const std::string& path) {
  CMutexLock lk(g_queuesMutex);
  std::shared_ptr<CDBWriterQueue>& q = g_queues[path];
  if (!q) q = std::make_shared<CDBWriterQueue>();
  return q;
}

std::map<std::string, std::shared_ptr<CDBWriterQueue>> CDBWriterQueue::All() {
  CMutexLock lk(g_queuesMutex);
  return g_queues;
}

void CDBWriterQueue::SkipAbandoned() {
  for (;;) {
    auto it = std::find(m_abandoned.begin(), m_abandoned.end(), m_serving);
    if (it == m_abandoned.end()) return;
    m_abandoned.erase(it);
    ++m_serving;
  }
}

bool CDBWriterQueue::Enter(int timeoutMs) {
  CMutexLock lk(m_mutex);
  const unsigned long long ticket = m_next++;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  while (m_busy || m_serving != ticket) {
    if (m_turn.wait_until(lk.Native(), deadline) == std::cv_status::timeout && (m_busy || m_serving != ticket)) {
      // A writer ahead is still on (our turn cannot have come: it would
      // have been taken above): the ticket is skipped when reached.
      m_abandoned.push_back(ticket);
      return false;
    }
  }
  m_busy = true;
  return true;
}

void CDBWriterQueue::Leave() {
  {
    CMutexLock lk(m_mutex);
    m_busy = false;
    ++m_serving;
    SkipAbandoned();
  }
  m_turn.notify_all();
}

int CDBWriterQueue::Waiting() {
  CMutexLock lk(m_mutex);
  const unsigned long long queued = m_next - m_serving - (m_busy ? 1 : 0);
  return static_cast<int>(queued - m_abandoned.size());
}
