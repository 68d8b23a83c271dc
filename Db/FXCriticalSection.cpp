#include "FXCriticalSection.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/interprocess/exceptions.hpp>

#include "db/DBtable.h"
#include "time/PlatformClock.h"

// The section every binding constructor holds around enlisting.
FXCriticalSection DBtable::DBCriticalSection;

FXCriticalSection::FXCriticalSection() : m_holder(std::thread::id()), m_depth(0), m_failures(0) {}

FXCriticalSection::~FXCriticalSection() = default;

void FXCriticalSection::Taken() {
  m_depth.fetch_add(1, std::memory_order_relaxed);
  m_holder.store(std::this_thread::get_id(), std::memory_order_relaxed);
  SetLockOwner();
}

// The lock operations work on the interprocess mutex underneath, which the
// analysis does not know to be this section.
void FXCriticalSection::Lock() DR_NO_THREAD_SAFETY_ANALYSIS { (void)LockChecked(); }

bool FXCriticalSection::LockChecked() DR_NO_THREAD_SAFETY_ANALYSIS {
  try {
    if (m_failures.load() > 0 && m_failures.fetch_sub(1) > 0) {
      throw boost::interprocess::interprocess_exception(boost::interprocess::lock_error);
    }
    m_mutex.lock();
  } catch (const boost::interprocess::interprocess_exception&) {
    return false;
  }
  Taken();
  return true;
}

bool FXCriticalSection::TryLock() DR_NO_THREAD_SAFETY_ANALYSIS {
  try {
    if (!m_mutex.try_lock()) return false;
  } catch (const boost::interprocess::interprocess_exception&) {
    return false;
  }
  Taken();
  return true;
}

bool FXCriticalSection::TryLock(CTimeInterval timeout) DR_NO_THREAD_SAFETY_ANALYSIS {
  long long ms = timeout.AsMilliseconds();
  if (ms < 0) ms = 0;
  try {
    // The interval is a platform wait, so it is scaled like every other one.
    long long realUs = static_cast<long long>(CPlatformClock::Instance().ToReal(static_cast<uint64_t>(ms)).count());
    boost::posix_time::ptime deadline =
        boost::posix_time::microsec_clock::universal_time() + boost::posix_time::microseconds(realUs);
    if (!m_mutex.timed_lock(deadline)) return false;
  } catch (const boost::interprocess::interprocess_exception&) {
    return false;
  }
  Taken();
  return true;
}

void FXCriticalSection::Unlock() DR_NO_THREAD_SAFETY_ANALYSIS {
  if (!IsHeldByCurrentThread()) return;
  if (m_depth.fetch_sub(1, std::memory_order_relaxed) == 1) {
    m_holder.store(std::thread::id(), std::memory_order_relaxed);
    ClearLockOwner();
  }
  m_mutex.unlock();
}

bool FXCriticalSection::IsHeldByCurrentThread() const {
  return m_depth.load(std::memory_order_relaxed) > 0 &&
         m_holder.load(std::memory_order_relaxed) == std::this_thread::get_id();
}
