// A named mutex whose lock file cannot be opened: Lock logs the file once and
// keeps trying on the scaled clock; it returns holding the mutex once the file
// opens, or without it (and without an owner) only when the thread is stopped.
#include <stdint.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "core/RunFolder.h"
#include "engine/FXNamedMutex.h"
#include "engine/PlatformCompat.h"
#include "log/LogSink.h"
#include "sync/ZnThread.h"

namespace {

// A lock folder below a regular file: no one, root included, can create it
// until the file makes way for a folder.
class FXNamedMutexConcurrency : public testing::Test {
 protected:
  void SetUp() override {
    CLogSink::Instance().ClearCapture();
    m_dir = drtest::MakeTempDir("mutexretry");
    m_blocker = m_dir + "/blocker";
    FILE* f = fopen(m_blocker.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fclose(f);
  }
  void TearDown() override { drtest::RemoveTree(m_dir); }

  // A mutex whose lock file lies below the blocker; the global lock folder
  // is only borrowed while the mutex is made.
  FXNamedMutex* Blocked(const std::string& name) {
    const std::string saved = CRunFolder::LockPath();
    CRunFolder::SetLockPath(m_blocker + "/locks");
    FXNamedMutex* m = new FXNamedMutex(name);
    CRunFolder::SetLockPath(saved);
    return m;
  }
  bool Reported() const { return CLogSink::Instance().Contains("Cannot open lock file [" + m_blocker + "/locks/"); }
  void Unblock() {
    ASSERT_EQ(0, unlink(m_blocker.c_str())) << strerror(errno);
    // The waiting Lock may create the folder itself the moment the file is
    // gone; either way the folder now exists.
    struct stat st;
    ASSERT_TRUE(mkdir(m_blocker.c_str(), 0755) == 0 ||
                (errno == EEXIST && stat(m_blocker.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
        << strerror(errno);
  }

  std::string m_dir;
  std::string m_blocker;
};

TEST_F(FXNamedMutexConcurrency, LockWaitsForAnUnopenableFileAndHoldsOnceItOpens) {
  std::unique_ptr<FXNamedMutex> m(Blocked("open-retry"));
  std::atomic<bool> returned{false};
  std::atomic<uint32_t> ownerSeen{0};
  std::atomic<int> countSeen{0};
  std::atomic<bool> release{false};
  uint32_t lockerId = 0;
  drtest::CTestThread locker(
      [&] {
        lockerId = static_cast<uint32_t>(GetCurrentThreadId());
        m->Lock();
        ownerSeen = m->GetLockOwner();
        countSeen = m->GetLockCount();
        returned = true;
        drtest::Eventually([&] { return release.load(); });
        m->Unlock();
      },
      "locker");
  // Its hold is a real-time poll, which no stop request reaches.
  locker.OnStop([&] { release = true; });
  ASSERT_TRUE(drtest::Eventually([&] { return Reported(); }));
  EXPECT_FALSE(returned.load()) << "Lock returned although the lock file cannot exist";
  EXPECT_EQ(0u, m->GetLockOwner());

  Unblock();
  ASSERT_TRUE(drtest::Eventually([&] { return returned.load(); }));
  EXPECT_EQ(1, countSeen.load());
  EXPECT_EQ(lockerId, ownerSeen.load());
  // Held for real: another thread cannot take it meanwhile.
  bool other = true;
  ASSERT_TRUE(drtest::CTestThread([&] { other = m->TryLock(); }, "second locker").Join());
  EXPECT_FALSE(other);
  // Said once, however often it tried.
  EXPECT_EQ(1u, CLogSink::Instance().Count("Cannot open lock file [" + m_blocker));
  release = true;
  ASSERT_TRUE(locker.Join());
  EXPECT_EQ(0u, m->GetLockOwner());
}

// The lock is taken on one thread and its stop checked on another, and a
// failed Lock leaves nothing to release: beyond what the lock checks follow.
DR_TEST_LOCK_RULES_OFF
TEST_F(FXNamedMutexConcurrency, StopRequestEndsTheWaitWithoutAnOwner) {
  std::unique_ptr<FXNamedMutex> m(Blocked("open-retry-stop"));
  struct SArgs {
    FXNamedMutex* mutex;
    std::atomic<bool> returned{false};
    std::atomic<int> count{-1};
  } args;
  args.mutex = m.get();
  ZnThread locker;
  ASSERT_TRUE(locker.createThread(
      [](void* p) -> void* {
        auto* a = static_cast<SArgs*>(p);
        a->mutex->Lock();
        a->count = a->mutex->GetLockCount();
        a->returned = true;
        return nullptr;
      },
      &args));
  drtest::CTestThread owner(locker, "locker");
  ASSERT_TRUE(drtest::Eventually([&] { return Reported(); }));
  EXPECT_FALSE(args.returned.load());
  locker.requestStop();
  ASSERT_TRUE(owner.Join());
  EXPECT_TRUE(args.returned.load());
  EXPECT_EQ(0, args.count.load());
  EXPECT_EQ(0u, m->GetLockOwner());

  // A bounded wait on the same file gives up at its deadline, without owner.
  EXPECT_FALSE(m->TryLock(CTimeInterval::FromSeconds(5)));
  EXPECT_EQ(0u, m->GetLockOwner());
  // Once the folder can be made, the same object works.
  Unblock();
  EXPECT_TRUE(m->TryLock(CTimeInterval::FromSeconds(5)));
  EXPECT_NE(0u, m->GetLockOwner());
  m->Unlock();
}

DR_TEST_LOCK_RULES_ON

}  // namespace
