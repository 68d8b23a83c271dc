#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "core/RunFolder.h"
#include "log/LogSink.h"
#include "sync/ZnEvent.h"
#include "sync/ZnNamedMutex.h"
#include "sync/ZnThread.h"

namespace {

// Starts the helper holding `name`; returns once it reports the lock.
bool StartHolder(drtest::CChildProcess& child, const std::string& name) {
  if (!child.Start({DR_MUTEX_HELPER, CRunFolder::LockPath(), name, "hold"})) return false;
  std::string line;
  return child.ReadLine(line) && line == "LOCKED";
}

std::string HelperTry(const std::string& name) {
  drtest::CChildProcess child;
  if (!child.Start({DR_MUTEX_HELPER, CRunFolder::LockPath(), name, "try", "0"})) return "not started";
  std::string line;
  if (!child.ReadLine(line)) line = "no answer";
  child.Wait();
  return line;
}

}  // namespace

DR_TEST_LOCK_RULES_OFF

TEST(NamedMutexConcurrency, ExcludesThreadsOfOneProcess) {
  // Each thread uses its own object of the same name, as the lock tables do.
  const int kThreads = 8, kRounds = 200;
  long counter = 0;  // guarded by the named mutex only
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ZnNamedMutex m("shared-counter");
      for (int i = 0; i < kRounds; ++i) {
        ASSERT_TRUE(m.lock());
        long v = counter;
        std::this_thread::yield();
        counter = v + 1;
        ASSERT_TRUE(m.unlock());
      }
    });
  }
  for (auto& t : threads) ASSERT_TRUE(t.Join());
  EXPECT_EQ(kThreads * kRounds, counter);
}

TEST(NamedMutexConcurrency, UnlockByNonHolderDoesNothing) {
  ZnNamedMutex holder("held-by-one");
  ASSERT_TRUE(holder.lock());
  bool unlocked = true, took = true;
  int countSeenByOther = -1;
  drtest::CTestThread t([&] {
    ZnNamedMutex other("held-by-one");
    unlocked = other.unlock();
    countSeenByOther = other.getLockCnt();
    took = other.lock(10);
  });
  ASSERT_TRUE(t.Join());
  EXPECT_FALSE(unlocked);
  EXPECT_EQ(0, countSeenByOther);
  EXPECT_FALSE(took) << "a stray unlock must not free the holder's mutex";
  EXPECT_EQ(1, holder.getLockCnt());
  EXPECT_TRUE(holder.unlock());
  EXPECT_FALSE(holder.unlock());
}

TEST(NamedMutexConcurrency, StopRequestEndsAnUnboundedLock) {
  ZnNamedMutex holder("stop-while-waiting");
  ASSERT_TRUE(holder.lock());
  struct SArgs {
    std::atomic<bool> started{false};
    std::atomic<int> result{-1};
  } args;
  ZnThread waiter;
  drtest::CTestThread owner(waiter, "waiter");
  ASSERT_TRUE(waiter.createThread(
      [](void* p) -> void* {
        auto* a = static_cast<SArgs*>(p);
        ZnNamedMutex m("stop-while-waiting");
        a->started = true;
        a->result = m.lock() ? 1 : 0;
        return nullptr;
      },
      &args));
  ASSERT_TRUE(drtest::Eventually([&] { return args.started.load(); }));
  waiter.requestStop();
  ASSERT_TRUE(owner.Join());
  EXPECT_EQ(0, args.result.load());
  holder.unlock();
}

TEST(NamedMutex, RecursionCountIsPerHolder) {
  ZnNamedMutex m("recursive");
  ASSERT_TRUE(m.lock());
  ASSERT_TRUE(m.lock(0));
  EXPECT_EQ(2, m.getLockCnt());
  ZnNamedMutex sameName("RECURSIVE");
  EXPECT_EQ(2, sameName.getLockCnt()) << "one mutex per name, whatever the object";
  EXPECT_TRUE(m.unlock());
  EXPECT_EQ(1, m.getLockCnt());
  EXPECT_TRUE(sameName.unlock());
  EXPECT_EQ(0, m.getLockCnt());
}

TEST(NamedMutex, ExcludesAnotherProcess) {
  drtest::CChildProcess holder;
  ASSERT_TRUE(StartHolder(holder, "cross-process"));
  ZnNamedMutex m("cross-process");
  EXPECT_FALSE(m.lock(50));
  holder.CloseInput();
  std::string line;
  ASSERT_TRUE(holder.ReadLine(line));
  EXPECT_EQ("RELEASED", line);
  EXPECT_TRUE(m.lock(10000));
  EXPECT_EQ("BUSY", HelperTry("cross-process")) << "and the other way round";
  m.unlock();
  EXPECT_EQ("LOCKED", HelperTry("cross-process"));
  EXPECT_EQ(0, holder.Wait());
}

TEST(NamedMutex, ReleasedWhenTheHolderDies) {
  drtest::CChildProcess holder;
  ASSERT_TRUE(StartHolder(holder, "holder-dies"));
  ZnNamedMutex m("holder-dies");
  EXPECT_FALSE(m.lock(20));
  holder.Kill();
  int status = holder.Wait();
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(m.lock(10000));
  m.unlock();
}

TEST(NamedMutex, NamesAreDistinctButIgnoreCase) {
  drtest::CChildProcess holder;
  ASSERT_TRUE(StartHolder(holder, "DS/Volume1"));
  ZnNamedMutex slash("ds/volume1");
  ZnNamedMutex underscore("DS_Volume1");
  EXPECT_FALSE(slash.lock(20)) << "names differing only in case are one mutex";
  EXPECT_TRUE(underscore.lock(20)) << "'/' and '_' must stay different locks";
  underscore.unlock();
  holder.CloseInput();
  holder.Wait();
}

TEST(NamedMutex, EncodingStaysInsideTheLockFolder) {
  for (const std::string& name : std::vector<std::string>{"../x", "..", "/etc/passwd", "a/../../b", std::string(1000, '.')}) {
    std::string enc = ZnNamedMutex::EncodeName(name);
    EXPECT_EQ(std::string::npos, enc.find("..")) << name;
    EXPECT_NE('/', enc.front()) << name;
  }
  EXPECT_NE(ZnNamedMutex::EncodeName("a/b"), ZnNamedMutex::EncodeName("a_b"));
  EXPECT_NE(ZnNamedMutex::EncodeName("a%2Fb"), ZnNamedMutex::EncodeName("a/b"));
  EXPECT_EQ(ZnNamedMutex::EncodeName("Store"), ZnNamedMutex::EncodeName("sTORE"));
  // A very long name still works as a lock.
  ZnNamedMutex longName(std::string(700, 'x') + "/tail");
  EXPECT_TRUE(longName.lock(100));
  EXPECT_TRUE(longName.unlock());
}

// The lock folder is a real folder of this user that nobody else can write,
// made 0700, and a lock file a regular file reached without a link, made
// 0600: whatever was planted instead is refused, and nothing is made through
// a link.
TEST(NamedMutex, OnlyAPrivateFolderAndARegularFileReachedWithoutALinkServe) {
  const std::string dir = drtest::MakeTempDir("lockfolder");
  const std::string saved = CRunFolder::LockPath();
  const std::string target = dir + "/target";
  ASSERT_EQ(0, mkdir(target.c_str(), 0700));
  const std::string good = dir + "/good";
  CRunFolder::SetLockPath(good);
  {
    ZnNamedMutex plain("plain");
    EXPECT_TRUE(plain.lock(0));
    plain.unlock();
  }
  struct stat st;
  ASSERT_EQ(0, lstat(good.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  ASSERT_EQ(0, lstat((good + "/" + ZnNamedMutex::EncodeName("plain")).c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0600u, st.st_mode & 07777);

  const std::string link = dir + "/link";
  ASSERT_EQ(0, symlink(target.c_str(), link.c_str()));
  ASSERT_EQ(0, symlink((target + "/victim").c_str(), (good + "/" + ZnNamedMutex::EncodeName("planted")).c_str()));
  ASSERT_EQ(0, mkfifo((good + "/" + ZnNamedMutex::EncodeName("fifo")).c_str(), 0600));
  ASSERT_EQ(0, mkdir((good + "/" + ZnNamedMutex::EncodeName("folder")).c_str(), 0700));
  const struct {
    std::string folder;
    std::string name;
    std::string reason;
  } cases[] = {
      {link, "any", "the lock folder [" + link + "] is a link; only a real folder is used"},
      {good, "planted", "cannot open [" + good + "/planted.lock]: " + strerror(ELOOP)},
      {good, "fifo", "[" + good + "/fifo.lock] is not a regular file"},
      {good, "folder", "cannot open [" + good + "/folder.lock]: " + strerror(EISDIR)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CLogSink::Instance().ClearCapture();
    CRunFolder::SetLockPath(c.folder);
    ZnNamedMutex m(c.name);
    EXPECT_FALSE(m.lock(0));
    EXPECT_TRUE(CLogSink::Instance().Contains("Cannot open lock file [" + c.folder + "/" +
                                              ZnNamedMutex::EncodeName(c.name) + "] for [" + c.name + "]: [" +
                                              c.reason + "]. Retrying"));
    std::string why;
    EXPECT_FALSE(ZnNamedMutex::CanOpen(c.name, why));
    EXPECT_EQ(c.reason, why);
  }
  CRunFolder::SetLockPath(saved);
  EXPECT_EQ(0, rmdir(target.c_str())) << "something was made through a link";
  drtest::RemoveTree(dir);
}

DR_TEST_LOCK_RULES_ON
