#include <stdint.h>
#include <string.h>

#include <atomic>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "engine/AutoLock.h"
#include "engine/DRConstants.h"
#include "engine/FXNamedMutex.h"
#include "engine/FXString.h"
#include "engine/LessNoCaseCmp.h"
#include "engine/PlatformCompat.h"
#include "engine/TimeInterval.h"
#include "drorch/ZnCriticalSection.h"
#include "engine/ZnCriticalSectionLock.h"
#include "time/PlatformClock.h"

namespace {

// Counts what auto_lock asks of its resource.
class CCountingResource : public FXLockableResource {
 public:
  bool TryLock() override { return true; }
  bool TryLock(CTimeInterval) override { return true; }
  void Lock() override { ++locks; }
  void Unlock() override { ++unlocks; }
  int locks = 0;
  int unlocks = 0;
};

bool TryEnterFromOtherThread(ZnCriticalSection& cs) {
  bool entered = false;
  drtest::CTestThread t(
      [&] {
        if (cs.enter(false)) {
          entered = true;
          cs.leave();
        }
      },
      "other thread");
  EXPECT_TRUE(t.Join());
  return entered;
}

}  // namespace

DR_TEST_LOCK_RULES_OFF

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
  ZnCriticalSection cs;
  ASSERT_TRUE(cs.enter(true));
  ASSERT_TRUE(cs.enter(true));
  EXPECT_FALSE(TryEnterFromOtherThread(cs));
  EXPECT_EQ(0, cs.leave());
  EXPECT_FALSE(TryEnterFromOtherThread(cs)) << "one leave of two must keep the section";
  EXPECT_EQ(0, cs.leave());
  EXPECT_TRUE(TryEnterFromOtherThread(cs));
}

TEST(CriticalSection, LeaveByNonHolderChangesNothing) {
  ZnCriticalSection cs;
  ASSERT_TRUE(cs.enter(true));
  int rc = 0;
  ASSERT_TRUE(drtest::CTestThread([&] { rc = cs.leave(); }, "non-holder").Join());
  EXPECT_NE(0, rc);
  EXPECT_FALSE(TryEnterFromOtherThread(cs));
  EXPECT_EQ(0, cs.leave());
}

TEST(CriticalSection, ScopedLockOverNullDoesNothing) {
  { ZnCriticalSectionLock lock(nullptr); }
  ZnCriticalSection cs;
  {
    ZnCriticalSectionLock lock(&cs);
    EXPECT_FALSE(TryEnterFromOtherThread(cs));
  }
  EXPECT_TRUE(TryEnterFromOtherThread(cs));
}

TEST(AutoLock, ReleasesAtMostOnceAndOnlyWhatItTook) {
  CCountingResource r;
  { auto_lock notTaken(&r, false); }
  EXPECT_EQ(0, r.locks);
  EXPECT_EQ(0, r.unlocks);

  {
    auto_lock lock(&r, true);
    lock.Lock();
    EXPECT_EQ(1, r.locks);
    lock.Unlock();
    lock.Unlock();
    EXPECT_EQ(1, r.unlocks);
  }
  EXPECT_EQ(1, r.unlocks) << "the destructor must not release again";

  { auto_lock lock(&r, true); }
  EXPECT_EQ(2, r.locks);
  EXPECT_EQ(2, r.unlocks);

  auto_lock nullLock(nullptr, true);
  nullLock.Unlock();
  EXPECT_FALSE(nullLock.IsHeld());
}

TEST(FXNamedMutex, OwnerKeptUntilOutermostUnlock) {
  FXNamedMutex m("owner-test");
  const uint32_t me = static_cast<uint32_t>(GetCurrentThreadId());
  m.Lock();
  ASSERT_TRUE(m.TryLock());
  EXPECT_EQ(2, m.GetLockCount());
  m.Unlock();
  EXPECT_EQ(me, m.GetLockOwner()) << "unlock at count 2 keeps the owner";
  EXPECT_EQ(1, m.GetLockCount());
  m.Unlock();
  EXPECT_EQ(0u, m.GetLockOwner());
  EXPECT_EQ(0, m.GetLockCount());
}

TEST(FXNamedMutex, UnlockByNonHolderKeepsTheOwner) {
  FXNamedMutex m("nonholder-test");
  m.Lock();
  const uint32_t owner = m.GetLockOwner();
  ASSERT_TRUE(drtest::CTestThread([&] { m.Unlock(); }, "non-holder").Join());
  EXPECT_EQ(owner, m.GetLockOwner());
  EXPECT_EQ(1, m.GetLockCount());
  m.Unlock();
}

TEST(FXNamedMutex, TryLockClampsTheInterval) {
  CPlatformClock& clock = CPlatformClock::Instance();
  FXNamedMutex m("clamp-test");
  clock.ClearRecords();
  ASSERT_TRUE(m.TryLock(CTimeInterval(9999)));  // under 1 ms: waits 0 ms
  m.Unlock();
  ASSERT_TRUE(m.TryLock(CTimeInterval(-50000000)));
  m.Unlock();
  ASSERT_TRUE(m.TryLock(CTimeInterval(INT64_MAX)));
  m.Unlock();
  ASSERT_TRUE(m.TryLock());
  m.Unlock();
  EXPECT_EQ(2u, clock.CountWaits(0, "ZnNamedMutex::lock"));
  EXPECT_EQ(1u, clock.CountWaits(INT32_MAX, "ZnNamedMutex::lock"));
  EXPECT_EQ(1u, clock.CountWaits(1, "ZnNamedMutex::lock"));
}

TEST(FXNamedMutex, TryLockFailsWhileAnotherThreadHoldsIt) {
  FXNamedMutex m("busy-test");
  m.Lock();
  bool took = true;
  drtest::CTestThread t(
      [&] {
        FXNamedMutex other("BUSY-TEST");  // same mutex: names ignore case
        took = other.TryLock(CTimeInterval::FromSeconds(2));
      },
      "second locker");
  ASSERT_TRUE(t.Join());
  EXPECT_FALSE(took);
  m.Unlock();
}

DR_TEST_LOCK_RULES_ON

TEST(TimeInterval, ConvertsTicksToMilliseconds) {
  EXPECT_EQ(1000, CTimeInterval::FromSeconds(1).AsMilliseconds());
  EXPECT_EQ(0, CTimeInterval(9999).AsMilliseconds());
  EXPECT_EQ(1, CTimeInterval(10000).AsMilliseconds());
  EXPECT_EQ(-1, CTimeInterval(-19999).AsMilliseconds()) << "truncates toward zero";
  EXPECT_GT(CTimeInterval::FromSeconds(INT64_MAX).Ticks(), 0) << "saturates instead of wrapping";
}

TEST(Strings, CaseInsensitiveHelpers) {
  std::map<std::string, int, __less_nocase_cmp> m;
  m["Datastore1"] = 1;
  m["DATASTORE1"] = 2;
  m["datastore2"] = 3;
  EXPECT_EQ(2u, m.size());
  EXPECT_EQ(2, m["datastore1"]);
  __less_nocase_cmp less;
  EXPECT_FALSE(less("abc", "ABC"));
  EXPECT_FALSE(less("ABC", "abc"));
  EXPECT_TRUE(less("abc", "abd"));

  EXPECT_EQ(0, FXString::CompareNoCase("Session", "SESSION"));
  EXPECT_LT(FXString::CompareNoCase("a", "B"), 0);
  EXPECT_EQ(0, _stricmp("x", "X"));
}

TEST(Strings, EtSnprintfTruncatesAndReportsFullLength) {
  char buf[8];
  EXPECT_EQ(11, ET_snprintf(buf, sizeof buf, "%s-%d", "abcdef", 1234));
  EXPECT_STREQ("abcdef-", buf);
}

TEST(Constants, SnapshotNamesAndBackupTypes) {
  // A search by one snapshot name must never match another.
  EXPECT_EQ(std::string::npos, FAILOVER_SNAPSHOT_NAME.find(SNAPSHOT_NAME));
  EXPECT_EQ(std::string::npos, TESTBOOT_SNAPSHOT_NAME.find(SNAPSHOT_NAME));
  EXPECT_NE(FAILOVER_SNAPSHOT_NAME, TESTBOOT_SNAPSHOT_NAME);
  EXPECT_EQ("__OB_BACKUP__", SNAPSHOT_NAME);

  const std::string& list = JMBackupOptypeListForBLR;
  EXPECT_NE(' ', list.front());
  EXPECT_NE(' ', list.back());
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == ',') {
      ASSERT_LT(i + 2, list.size());
      EXPECT_EQ(' ', list[i + 1]);
      EXPECT_NE(' ', list[i + 2]);
    }
  }
  EXPECT_EQ("**FatalError**", vmFatalError);
}
