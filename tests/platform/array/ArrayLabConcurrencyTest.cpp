// Several threads drive the array lab at once, each with its own array
// objects and connection, as DR workers and other processes would: every
// queued status is taken by exactly one read, a fault count fails exactly
// that many calls, and snapshots, mounts, reads and unmaps that overlap
// lose nothing.
#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "ArrayLabTestSupport.h"
#include "TestThread.h"
#include "core/StopState.h"

namespace {

using Info = Api::SnapDRReplicationInfo;

class ArrayLabConcurrency : public CArrayLabTestBase {
 protected:
  // Starts n threads at once on body(thread index) and joins them.
  template <class Body>
  static void RunTogether(int n, Body body) {
    std::atomic<int> ready(0);
    std::vector<drtest::CTestThread> threads;
    for (int t = 0; t < n; ++t) {
      threads.emplace_back(
          [&, t] {
            ++ready;
            // A thread that could not be started leaves the others a stop
            // request, not a count that never fills.
            while (ready.load() < n && !CStopState::CurrentStopRequested()) std::this_thread::yield();
            body(t);
            CDBConnection::CloseThreadConnections();
          },
          "array lab caller " + std::to_string(t));
    }
    for (drtest::CTestThread& th : threads) EXPECT_TRUE(th.Join());
  }
};

TEST_F(ArrayLabConcurrency, EveryQueuedStatusIsTakenByExactlyOneRead) {
  constexpr int kThreads = 8;
  constexpr int kReads = 6;
  std::vector<std::string> queue;
  for (int i = 0; i < kThreads * kReads; ++i) queue.push_back("s" + std::to_string(i));
  queue.push_back("idle");
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::QueueStatuses(kArray, kPath1, queue));
  ASSERT_TRUE(CArrayCallJournal::Clear());

  CMutex mutex;
  std::map<std::string, int> taken;
  RunTogether(kThreads, [&](int) {
    ManageONTAP array;
    ASSERT_TRUE(Connect(kArray, array));
    for (int i = 0; i < kReads; ++i) {
      _SVSMRelationshipProgressInfo info;
      ASSERT_TRUE(array.GetSnapMirrorInfoCMode(info, kPath1));
      CMutexLock lock(mutex);
      ++taken[info.relationshipStatus];
    }
  });
  CMutexLock lock(mutex);
  EXPECT_EQ(static_cast<size_t>(kThreads * kReads), taken.size());
  for (const auto& t : taken) EXPECT_EQ(1, t.second) << t.first;
  EXPECT_EQ(0u, taken.count("idle"));
  EXPECT_EQ((std::vector<std::string>{"idle"}), Relationship(kPath1).queue);
  const std::vector<SArrayCall> calls = Calls();
  EXPECT_EQ(static_cast<long>(kThreads * kReads),
            std::count_if(calls.begin(), calls.end(),
                          [](const SArrayCall& c) { return c.call == "GetSnapMirrorInfoCMode"; }));
  EXPECT_EQ(static_cast<size_t>(kThreads * (kReads + 2)), calls.size());
}

TEST_F(ArrayLabConcurrency, AFaultCountFailsExactlyThatManyOfTheRacingBreaks) {
  constexpr int kThreads = 8;
  SRelationshipFaults faults;
  faults.breakFails = 5;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::SetFaults(kArray, kPath2, faults));
  std::atomic<int> accepted(0);
  RunTogether(kThreads, [&](int) {
    ManageONTAP array;
    ASSERT_TRUE(Connect(kArray, array));
    if (array.SMBreakRelationshipCMode("vol_ds2", "vs_dr")) ++accepted;
  });
  EXPECT_EQ(kThreads - 5, accepted.load());
  const SLabRelationship r = Relationship(kPath2);
  EXPECT_EQ("broken-off", r.mirrorState);
  EXPECT_EQ(0, r.faults.breakFails);
  EXPECT_EQ("snapmirrored", Relationship(kPath1).mirrorState);
}

TEST_F(ArrayLabConcurrency, OverlappingSnapshotsMountsReadsAndUnmapsLoseNothing) {
  constexpr int kThreads = 6;
  AddReplication(11);
  AddReplication(12);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_TRUE(CArrayLunStore::Add(SLabLun{kArray, "vol_many", "vol_many/lun" + std::to_string(t), true, false}));
  }
  std::atomic<int> failures(0);
  RunTogether(kThreads, [&](int t) {
    const long long job = 6000 + t;
    if (!CArrayLab::SnapshotCopied(kCopy, job)) ++failures;
    SSnapAfile mine;
    if (CAfileStore::Latest(job, Guid(11), kCopy, mine) != EStoreResult::kOk ||
        !CArrayLab::RecordMount(SArrayMount{mine.afileId, 60 + t, false, "", ""})) {
      ++failures;
    }
    Info answered;
    if (CArrayLab::AnsweredReplication(11, answered) != EStoreResult::kOk ||
        answered.GetInt64(Info::kLastSyncedBackupJobId) < 6000) {
      ++failures;
    }
    ManageONTAP array;
    if (!Connect(kArray, array) || !array.UnAssignLunFromAllInitiators("vol_many/lun" + std::to_string(t))) {
      ++failures;
    }
  });
  EXPECT_EQ(0, failures.load());
  std::vector<SSnapAfile> afiles;
  ASSERT_EQ(EStoreResult::kOk, CAfileStore::All(afiles));
  ASSERT_EQ(static_cast<size_t>(2 * kThreads), afiles.size());
  int mounted = 0;
  for (const SSnapAfile& a : afiles) {
    if (a.vmGuid == Guid(11)) {
      EXPECT_EQ(SSnapAfile::kMountedByDR, a.mountStatus);
      EXPECT_EQ(60 + (a.masterJobId - 6000), a.mountHostId);
      ++mounted;
    } else {
      EXPECT_EQ(SSnapAfile::kUnmounted, a.mountStatus);
    }
  }
  EXPECT_EQ(kThreads, mounted);
  ManageONTAP array;
  ASSERT_TRUE(Connect(kArray, array));
  std::vector<std::string> luns;
  ASSERT_TRUE(array.GetAllMappedLUNs("vol_many", luns));
  EXPECT_TRUE(luns.empty());
}

}  // namespace
