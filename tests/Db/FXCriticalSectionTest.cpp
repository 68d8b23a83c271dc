#include <stdint.h>
#include <stdio.h>

#include <atomic>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "Db/FXCriticalSection.h"
#include "Db/Tbl/APP_Client.h"
#include "Db/Tbl/JMJobDataLink.h"
#include "db/DBtran.h"
#include "log/LogSink.h"

DR_TEST_LOCK_RULES_OFF

TEST(FXCriticalSection, NestedHoldKeepsTheOwnerUntilTheOutermostRelease) {
  FXCriticalSection cs;
  cs.Lock();
  cs.Lock();  // the owner may lock again without blocking
  EXPECT_EQ(cs.GetLockCount(), 2);
  uint32_t owner = cs.GetLockOwner();
  EXPECT_NE(owner, 0u);
  cs.Unlock();
  EXPECT_TRUE(cs.IsHeldByCurrentThread());
  EXPECT_EQ(cs.GetLockOwner(), owner);
  std::atomic<bool> got{true};
  ASSERT_TRUE(drtest::CTestThread([&] { got = cs.TryLock(); }, "try-lock").Join());
  EXPECT_FALSE(got.load());  // still held by the outer hold
  cs.Unlock();
  EXPECT_FALSE(cs.IsHeldByCurrentThread());
  EXPECT_EQ(cs.GetLockOwner(), 0u);
  drtest::CTestThread again(
      [&] {
        got = cs.TryLock();
        if (got) cs.Unlock();
      },
      "try-lock again");
  ASSERT_TRUE(again.Join());
  EXPECT_TRUE(got.load());
}

TEST(FXCriticalSection, UnlockByANonHolderChangesNothing) {
  FXCriticalSection cs;
  cs.Lock();
  ASSERT_TRUE(drtest::CTestThread([&] { cs.Unlock(); }, "unlock by a non-holder").Join());
  EXPECT_TRUE(cs.IsHeldByCurrentThread());
  EXPECT_EQ(cs.GetLockCount(), 1);
  cs.Unlock();
  cs.Unlock();  // not held: ignored
  EXPECT_EQ(cs.GetLockCount(), 0);
}

TEST(FXCriticalSection, FailedLockIsSwallowedAndNotRecorded) {
  FXCriticalSection cs;
  cs.InjectLockFailures(1);
  cs.Lock();
  EXPECT_FALSE(cs.IsHeldByCurrentThread());
  EXPECT_EQ(cs.GetLockOwner(), 0u);
  cs.Lock();
  EXPECT_TRUE(cs.IsHeldByCurrentThread());
  cs.Unlock();
}

DR_TEST_LOCK_RULES_ON

TEST(BindingEnlisting, AConstructorThatCannotTakeTheSectionNeitherEnlistsNorUnlocks) {
  DBtran tran;
  // The test holds the section once; the binding's failed lock must not
  // release that hold.
  DBtable::DBCriticalSection.Lock();
  DBtable::DBCriticalSection.InjectLockFailures(1);
  {
    APP_Client client(&tran);
    EXPECT_FALSE(tran.Contains(&client));
  }
  EXPECT_TRUE(DBtable::DBCriticalSection.IsHeldByCurrentThread());
  EXPECT_EQ(DBtable::DBCriticalSection.GetLockCount(), 1);
  EXPECT_TRUE(CLogSink::Instance().Contains("could not lock the transaction section"));
  // Nested: a binding built while the section is held enlists and leaves the
  // outer hold in place.
  {
    APP_Client client(&tran);
    EXPECT_TRUE(tran.Contains(&client));
  }
  EXPECT_TRUE(DBtable::DBCriticalSection.IsHeldByCurrentThread());
  DBtable::DBCriticalSection.Unlock();
  EXPECT_FALSE(DBtable::DBCriticalSection.IsHeldByCurrentThread());
}

TEST(BindingEnlisting, RefusedEnlistingIsLoggedOnceAndTheObjectStaysUsable) {
  DBtran tran;
  DBtran::SetRefuseEnlisting(true);
  size_t before = CLogSink::Instance().Count("APP_Client Constructor [0x");
  APP_Client client(&tran);
  DBtran::SetRefuseEnlisting(false);
  EXPECT_EQ(CLogSink::Instance().Count("APP_Client Constructor [0x") - before, 1u);
  EXPECT_TRUE(CLogSink::Instance().Contains("], caught an exception"));
  EXPECT_FALSE(tran.Contains(&client));
  EXPECT_FALSE(DBtable::DBCriticalSection.IsHeldByCurrentThread());
  APP_Client plain(nullptr);
  EXPECT_EQ(tran.ObjectCount(), 0u);
}

TEST(BindingEnlisting, RefusedEnlistingNamesTheBindingAndItsWholeAddress) {
  DBtran tran;
  DBtran::SetRefuseEnlisting(true);
  JMJobDataLink link(&tran);
  DBtran::SetRefuseEnlisting(false);
  char expected[96];
  snprintf(expected, sizeof(expected), "JMJobDataLink Constructor [0x%08lx], caught an exception",
           static_cast<unsigned long>(reinterpret_cast<uintptr_t>(&link)));
  EXPECT_EQ(CLogSink::Instance().Count(expected), 1u) << expected;
  EXPECT_FALSE(tran.Contains(&link));
}
