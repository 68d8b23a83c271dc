#include <atomic>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"

#include "sync/ZnEvent.h"
#include "sync/ZnSemaphoreH.h"
#include "sync/ZnThread.h"
#include "time/PlatformClock.h"

namespace {

// Restores the test watchdog however the test ends.
class CWatchdogOverride {
 public:
  explicit CWatchdogOverride(uint64_t ms) : m_saved(CPlatformClock::Instance().WatchdogMs()) {
    CPlatformClock::Instance().SetWatchdogMs(ms);
  }
  ~CWatchdogOverride() {
    CPlatformClock::Instance().SetWatchdogMs(m_saved);
    CPlatformClock::Instance().ClearWatchdogFirings();
  }

 private:
  uint64_t m_saved;
};

void WaitTwoMinutes() { XOSLEEP(120000); }

}  // namespace

TEST(Clock, RecordsRequestedDurationsWithTheirReason) {
  CPlatformClock& clock = CPlatformClock::Instance();
  clock.ClearRecords();
  int64_t before = clock.NowMs();
  WaitTwoMinutes();
  EXPECT_EQ(1u, clock.CountWaits(120000, "WaitTwoMinutes"));
  EXPECT_EQ(1u, clock.Records().size());
  EXPECT_GE(clock.NowMs() - before, 120000) << "scaled time advances by what was asked";
}

TEST(Clock, TimedWaitsOfPrimitivesAreRecorded) {
  CPlatformClock& clock = CPlatformClock::Instance();
  clock.ClearRecords();
  ZnEvent ev(false);
  EXPECT_FALSE(ev.wait(30000));
  ZnSemaphoreH sem(0);
  EXPECT_FALSE(sem.wait(700));
  EXPECT_EQ(1u, clock.CountWaits(30000, "ZnEvent::wait"));
  EXPECT_EQ(1u, clock.CountWaits(700, "ZnSemaphoreH::wait"));
}

TEST(Clock, EpochTimeFollowsTheScaledClock) {
  CPlatformClock& clock = CPlatformClock::Instance();
  int64_t t0 = clock.NowEpochSeconds();
  XOSLEEP(600 * 1000);  // ten minutes, well under a second of real time
  EXPECT_GE(clock.NowEpochSeconds() - t0, 600);
  clock.ShiftEpochSeconds(86400);
  EXPECT_GE(clock.NowEpochSeconds() - t0, 600 + 86400);
  clock.ShiftEpochSeconds(-86400);
}

TEST(Clock, WatchdogFailsAWaitThatNeverEnds) {
  CWatchdogOverride watchdog(50);
  ZnEvent never(true);
  EXPECT_FALSE(never.wait());
  EXPECT_EQ(1u, CPlatformClock::Instance().WatchdogFirings());
  ASSERT_EQ(1u, CPlatformClock::Instance().WatchdogReasons().size());
  EXPECT_EQ("ZnEvent::wait", CPlatformClock::Instance().WatchdogReasons()[0]);
  EXPECT_EQ(EWaitResult::Watchdog, CPlatformClock::Instance().Sleep(kWaitForever, "forever"));
}

TEST(ClockConcurrency, StopRequestCutsASleepShort) {
  struct SArgs {
    std::atomic<bool> started{false};
    std::atomic<int> result{-1};
  } args;
  ZnThread t;
  drtest::CTestThread owner(t, "sleeper");
  ASSERT_TRUE(t.createThread(
      [](void* p) -> void* {
        auto* a = static_cast<SArgs*>(p);
        a->started = true;
        a->result = static_cast<int>(CPlatformClock::Instance().Sleep(kWaitForever, "sleeper"));
        return nullptr;
      },
      &args));
  ASSERT_TRUE(drtest::Eventually([&] { return args.started.load(); }));
  t.requestStop();
  ASSERT_TRUE(owner.Join());
  EXPECT_EQ(static_cast<int>(EWaitResult::Stopped), args.result.load());
}

TEST(ClockConcurrency, EventWakesItsWaiter) {
  ZnEvent ev(false);
  std::atomic<bool> woke{false};
  ZnThread t;
  drtest::CTestThread owner(t, "waiter");
  struct SArgs {
    ZnEvent* ev;
    std::atomic<bool>* woke;
  } args{&ev, &woke};
  ASSERT_TRUE(t.createThread(
      [](void* p) -> void* {
        auto* a = static_cast<SArgs*>(p);
        *a->woke = a->ev->wait();
        return nullptr;
      },
      &args));
  ev.set();
  ASSERT_TRUE(owner.Join());
  EXPECT_TRUE(woke.load());
  EXPECT_FALSE(ev.isSet()) << "an auto-reset event is consumed by its waiter";
}
