// The job simulator in tests: its runner started for a test and stopped
// (joined) before the test's database goes, completion notices delivered in
// the test process and recorded, and the lab the child jobs work on (VMs of
// a subclient, a storage policy) with readers of the rows they leave.
//
// A test of another area that needs child jobs adds a CScopedJobSimulator
// to its own fixture (after the database is set up); a test of child jobs
// themselves derives from CJobSimTestBase.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "Db/DbTestSupport.h"
#include "TestSupport.h"
#include "core/Mutex.h"
#include "jobs/JobStore.h"
#include "jobsim/JobSimulator.h"
#include "jobsim/StoragePolicyStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"

namespace drtest {

// Completion notices delivered in this process, in order.
class CNoticeRecorder {
 public:
  void Add(unsigned long long jobId, const std::string& token) {
    CMutexLock lock(m_mutex);
    m_notices.emplace_back(jobId, token);
  }
  std::vector<std::pair<unsigned long long, std::string>> Notices() const {
    CMutexLock lock(m_mutex);
    return m_notices;
  }
  size_t CountFor(unsigned long long jobId) const {
    size_t n = 0;
    for (const auto& notice : Notices()) n += notice.first == jobId ? 1 : 0;
    return n;
  }

 private:
  mutable CMutex m_mutex;
  std::vector<std::pair<unsigned long long, std::string>> m_notices DR_GUARDED_BY(m_mutex);
};

// The runner for the life of the object; notices go to the recorder (or,
// without one, to the notifier program as in production).
class CScopedJobSimulator {
 public:
  explicit CScopedJobSimulator(CNoticeRecorder* recorder = nullptr) {
    if (recorder != nullptr) {
      CJobSimulator::SetInProcessDelivery(
          [recorder](unsigned long long jobId, std::string& token) { recorder->Add(jobId, token); });
    }
    CJobSimulator::Start();
  }
  ~CScopedJobSimulator() {
    CJobSimulator::Stop();
    CJobSimulator::SetInProcessDelivery(nullptr);
  }
  CScopedJobSimulator(const CScopedJobSimulator&) = delete;
  CScopedJobSimulator& operator=(const CScopedJobSimulator&) = delete;
};

inline SChildJobRecord ChildJob(long long jobId) {
  SChildJobRecord job;
  EXPECT_EQ(EStoreResult::kOk, CJobSimulator::GetJob(jobId, job)) << "child job " << jobId;
  return job;
}

// The simulator's jobs of a type (VM children left out), by id.
inline std::vector<SChildJobRecord> ChildJobsOf(EChildJobType type) {
  std::vector<SChildJobRecord> all, out;
  EXPECT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(all));
  for (const SChildJobRecord& job : all)
    if (job.type == type && !job.vmChild) out.push_back(job);
  return out;
}

inline bool HasEnded(long long jobId) {
  SChildJobRecord job;
  return CJobSimulator::GetJob(jobId, job) == EStoreResult::kOk && job.ended;
}

}  // namespace drtest

class CJobSimTestBase : public CDbTestBase {
 protected:
  static constexpr long long kDRJob = (1LL << 32) + 7;  // wider than the child ids' columns
  static constexpr int kSubclient = 21;
  static constexpr int kTask = 11;
  static constexpr int kPolicy = 5;
  static constexpr int kPrimary = 51;
  static constexpr int kAux = 52;

  void SetUp() override {
    CDbTestBase::SetUp();
    // Rows are read back straight from the tables, also where nothing wrote.
    ASSERT_TRUE(CJobSimulator::CreateTables());
    // The DR job the child jobs belong to runs: notices to it are sent
    // until taken (to a DR job that has ended, they are given up).
    SJobRecord drJob;
    drJob.jobId = kDRJob;
    drJob.jobType = CJobStore::kTypeDR;
    ASSERT_EQ(kDRJob, CJobStore::CreateJob(drJob));
    m_simulator.reset(new drtest::CScopedJobSimulator(&m_notices));
  }
  void TearDown() override {
    m_simulator.reset();
    CDbTestBase::TearDown();
  }

  // A VM replication of a subclient and a replication task.
  static void AddVM(int replicationId, int subclientId = kSubclient, int taskId = kTask) {
    using Repl = App::VSAReplicationInfo;
    Repl info;
    info.SetInt32(Repl::kReplicationId, replicationId);
    info.SetString(Repl::kSourceVMName, "vm" + std::to_string(replicationId));
    info.SetInt32(Repl::kSyncStatus, App::VSA_REPL_STATUS_NEED_SYNC);
    info.MutableMsg(Repl::kSubclient).SetInt32(ZnEntities::SubClientEntity::kSubclientId, subclientId);
    ASSERT_TRUE(CReplicationStore::Put(info, taskId));
  }

  // The policy kPolicy (primary kPrimary, secondary kAux) for a subclient.
  static void AddPolicy(int subclientId = kSubclient, bool snap = false) {
    SStoragePolicy policy;
    policy.policyId = kPolicy;
    policy.copies = {SStorageCopy{kPrimary, 1, true, true}, SStorageCopy{kAux, 2, false, false}};
    ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
    ASSERT_TRUE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{subclientId, kPolicy, snap}));
  }

  // A job that runs only when the test says so (started hung).
  static long long StartHeld(SChildJobSpec spec) {
    if (spec.parentJobId == 0) spec.parentJobId = kDRJob;
    spec.hang = true;
    const long long id = CJobSimulator::StartJob(spec);
    EXPECT_NE(0, id);
    return id;
  }
  static SChildJobSpec Backup(bool vmChildren = true, bool snap = false) {
    SChildJobSpec spec;
    spec.type = EChildJobType::kBackup;
    spec.applicationId = kSubclient;
    spec.vmChildren = vmChildren;
    spec.snap = snap;
    return spec;
  }
  static SChildJobSpec Of(EChildJobType type) {
    SChildJobSpec spec;
    spec.type = type;
    spec.taskId = kTask;
    spec.storagePolicyId = kPolicy;
    spec.copyId = kAux;
    return spec;
  }

  // A job that only runs, so a test can see the runner's time pass.
  static long long StartPacer() {
    SChildJobSpec spec;
    spec.type = EChildJobType::kRestore;
    spec.parentJobId = kDRJob;
    spec.durationMs = 1000000000LL;
    const long long id = CJobSimulator::StartJob(spec);
    EXPECT_NE(0, id);
    return id;
  }
  // Returns once the runner has advanced running jobs by at least ms.
  static void LetTimePass(long long pacer, long long ms) {
    const long long from = drtest::ChildJob(pacer).elapsedMs;
    ASSERT_TRUE(drtest::Eventually([&] { return drtest::ChildJob(pacer).elapsedMs >= from + ms; }));
  }

  // Integer rows of a query, column by column.
  static std::vector<std::vector<long long>> Rows(const std::string& sql) {
    std::vector<std::vector<long long>> rows;
    CDBConnection* c = CDBConnection::ForThread();
    sqlite3_stmt* s = c != nullptr ? c->Prepare(sql, false) : nullptr;
    EXPECT_NE(nullptr, s) << sql << ": " << (c ? c->LastErrorText() : "");
    if (s == nullptr) return rows;
    while (sqlite3_step(s) == SQLITE_ROW) {
      rows.emplace_back();
      for (int col = 0; col < sqlite3_column_count(s); ++col) rows.back().push_back(sqlite3_column_int64(s, col));
    }
    c->Release(s);
    return rows;
  }

  drtest::CNoticeRecorder m_notices;
  std::unique_ptr<drtest::CScopedJobSimulator> m_simulator;
};
