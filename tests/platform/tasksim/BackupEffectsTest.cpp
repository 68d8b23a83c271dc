// What a backup leaves when it ends, read back the way the DR job reads it:
// the VM status entries through the management database's VM-status query,
// and the clients' last backup through their properties; with the faults
// that fail chosen VMs or leave them out, and the guarantee that whoever
// sees the backup ended finds them.
#include <atomic>

#include "TaskSimTestSupport.h"
#include "TestThread.h"
#include "appmgr/ClientProperties.h"
#include "db/App_ExecuteSP.h"
#include "jobs/StandIns.h"
#include "tasksim/BackupEffects.h"
#include "tasksim/VMStatusStore.h"
#include "time/PlatformClock.h"

namespace {

constexpr int kClientOf101 = 1101;
constexpr int kClientOf103 = 1103;

class BackupEffects : public CTaskSimTestBase {
 protected:
  void SetUp() override {
    CTaskSimTestBase::SetUp();
    AddPolicy();
    AddSourcedVM(101, kSubclient, kTask, kClientOf101);
    AddSourcedVM(102);  // no known source client
    AddSourcedVM(103, kSubclient, kTask, kClientOf103);
  }
  static long long StartBackup(const std::vector<int>& selected) { return OnlyJob(Create(BackupRequest(kSubclient, selected))).jobId; }

  struct SStatus {
    std::string guid;
    int status;
    std::string reason;
    bool operator==(const SStatus& o) const { return guid == o.guid && status == o.status && reason == o.reason; }
  };
  // The VM-status query as the DR job sends it; false when it fails.
  static bool VMStatus(long long jobId, std::vector<SStatus>& out, bool& listSet) {
    Api::GetVMStatusReq req;
    req.SetInt64(Api::GetVMStatusReq::kJobId, jobId);
    std::string request, response;
    EXPECT_TRUE(req.serializeUTF8(request));
    App_ExecuteSP sp;
    if (sp.executeGetStoredProcedure(Api::GetVMStatusReq::kTypeId, request, response, nullptr) != 0) return false;
    Api::GetVMStatusResp resp;
    if (!resp.Unserialize(response)) return false;
    listSet = resp.Has(Api::GetVMStatusResp::kVMStatusInfos);
    out.clear();
    for (size_t i = 0; i < resp.ListSize(Api::GetVMStatusResp::kVMStatusInfos); ++i) {
      const CNMessageBase& info = resp.GetListMsg(Api::GetVMStatusResp::kVMStatusInfos, i);
      out.push_back(SStatus{info.GetString(App::VMStatusInfo::kVMGuid), info.GetInt32(App::VMStatusInfo::kStatus),
                            info.GetString(App::VMStatusInfo::kFailureReason)});
    }
    return true;
  }
  static std::vector<SStatus> VMStatus(long long jobId) {
    std::vector<SStatus> out;
    bool listSet = false;
    EXPECT_TRUE(VMStatus(jobId, out, listSet));
    return out;
  }
  // The client's last backup end time; -1 when it has none.
  static long long LastBackupEnd(int clientId) {
    App::LastBackupJobInfo info;
    if (ClientProperties(clientId).getLastVMBackupJobInfo(info) != 0) return -1;
    EXPECT_EQ(1, info.GetInt32(App::LastBackupJobInfo::kStatus));
    return info.GetMsg(App::LastBackupJobInfo::kEndTime).GetInt32(ZnEntities::TimeEntityFields::kTime);
  }
};

TEST_F(BackupEffects, ACompletedBackupReportsEachVMAndTheLastBackupOfKnownClients) {
  const long long before = CPlatformClock::Instance().NowEpochSeconds();
  const long long job = StartBackup({});
  EXPECT_TRUE(VMStatus(job).empty());
  ASSERT_TRUE(CJobSimulator::Complete(job));
  EXPECT_EQ((std::vector<SStatus>{{Guid(101), 0, ""}, {Guid(102), 0, ""}, {Guid(103), 0, ""}}), VMStatus(job));
  const long long after = CPlatformClock::Instance().NowEpochSeconds();
  const long long end = LastBackupEnd(kClientOf101);
  EXPECT_GE(end, before);
  EXPECT_LE(end, after);
  EXPECT_GE(LastBackupEnd(kClientOf103), before);
}

TEST_F(BackupEffects, CompletedWithErrorsCountsAsSuccessWithStatus3) {
  const long long job = StartBackup({101});
  ASSERT_TRUE(CJobSimulator::CompleteWithErrors(job));
  EXPECT_EQ((std::vector<SStatus>{{Guid(101), 3, ""}}), VMStatus(job));
  EXPECT_GT(LastBackupEnd(kClientOf101), -1);
  EXPECT_EQ(-1, LastBackupEnd(kClientOf103));  // not in this backup
}

TEST_F(BackupEffects, AFailedOrKilledBackupFailsEveryVMAndKeepsTheirLastBackup) {
  const long long good = StartBackup({101});
  ASSERT_TRUE(CJobSimulator::Complete(good));
  const long long kept = LastBackupEnd(kClientOf101);
  const long long failed = StartBackup({101, 102});
  ASSERT_TRUE(CJobSimulator::Fail(failed, "media full"));
  EXPECT_EQ((std::vector<SStatus>{{Guid(101), CVMStatusStore::kStatusFailed, "media full"},
                                  {Guid(102), CVMStatusStore::kStatusFailed, "media full"}}),
            VMStatus(failed));
  const long long killed = StartBackup({103});
  ASSERT_TRUE(CJobSimulator::Kill(killed));
  const std::vector<SStatus> statuses = VMStatus(killed);
  ASSERT_EQ(1u, statuses.size());
  EXPECT_EQ(CVMStatusStore::kStatusFailed, statuses[0].status);
  EXPECT_NE(std::string::npos, statuses[0].reason.find("Killed")) << statuses[0].reason;
  EXPECT_EQ(kept, LastBackupEnd(kClientOf101));
  EXPECT_EQ(-1, LastBackupEnd(kClientOf103));
  // The earlier backup's entries stay its own.
  EXPECT_EQ((std::vector<SStatus>{{Guid(101), 0, ""}}), VMStatus(good));
}

TEST_F(BackupEffects, FaultsFailChosenVMsWithTheirReasonAndLeaveOthersOut) {
  ASSERT_TRUE(CVMStatusStore::SetVMFails(101, "snapshot locked"));
  ASSERT_TRUE(CVMStatusStore::SetVMLeftOut(102));
  const long long job = StartBackup({});
  ASSERT_TRUE(CJobSimulator::Complete(job));
  EXPECT_EQ((std::vector<SStatus>{{Guid(101), CVMStatusStore::kStatusFailed, "snapshot locked"}, {Guid(103), 0, ""}}),
            VMStatus(job));
  EXPECT_EQ(-1, LastBackupEnd(kClientOf101));
  EXPECT_GT(LastBackupEnd(kClientOf103), -1);

  ASSERT_TRUE(CVMStatusStore::ClearFaults());
  const long long next = StartBackup({101, 102});
  ASSERT_TRUE(CJobSimulator::Complete(next));
  EXPECT_EQ((std::vector<SStatus>{{Guid(101), 0, ""}, {Guid(102), 0, ""}}), VMStatus(next));
}

TEST_F(BackupEffects, AJobWithoutEntriesAnswersWithoutTheList) {
  ASSERT_TRUE(CVMStatusStore::SetVMLeftOut(101));
  const long long job = StartBackup({101});
  ASSERT_TRUE(CJobSimulator::Complete(job));
  std::vector<SStatus> statuses;
  bool listSet = true;
  ASSERT_TRUE(VMStatus(job, statuses, listSet));
  EXPECT_FALSE(listSet);
  ASSERT_TRUE(VMStatus(987654, statuses, listSet));
  EXPECT_FALSE(listSet);
}

TEST_F(BackupEffects, QueryFaults) {
  const long long job = StartBackup({101});
  ASSERT_TRUE(CJobSimulator::Complete(job));
  Api::GetVMStatusReq req;
  req.SetInt64(Api::GetVMStatusReq::kJobId, job);
  std::string request, response;
  ASSERT_TRUE(req.serializeUTF8(request));
  App_ExecuteSP sp;
  ASSERT_TRUE(CStandIns::SetFault("AppGetVMStatus", EStandInFault::kFails));
  EXPECT_NE(0, sp.executeGetStoredProcedure(Api::GetVMStatusReq::kTypeId, request, response, nullptr));
  ASSERT_TRUE(CStandIns::SetFault("AppGetVMStatus", EStandInFault::kErrorCode));
  EXPECT_EQ(kStandInFaultCode, sp.executeGetStoredProcedure(Api::GetVMStatusReq::kTypeId, request, response, nullptr));
  ASSERT_TRUE(CStandIns::SetFault("AppGetVMStatus", EStandInFault::kEmptyAnswer));
  response = "before";
  EXPECT_EQ(0, sp.executeGetStoredProcedure(Api::GetVMStatusReq::kTypeId, request, response, nullptr));
  EXPECT_TRUE(response.empty());
  ASSERT_TRUE(CStandIns::SetFault("AppGetVMStatus", EStandInFault::kNone));
  EXPECT_EQ(1u, VMStatus(job).size());
}

TEST_F(BackupEffects, AWriterThatCannotStoreItsPartKeepsTheJobRunning) {
  const long long job = StartBackup({101});
  {
    CJobSimulator::SEndWriter failing;
    failing.type = EChildJobType::kBackup;
    failing.write = [](const SChildJobRecord&) { return false; };
    CScopedHandler<std::string, CJobSimulator::SEndWriter> scoped(CJobSimulator::EndWriters(), CBackupEffects::kWriterName,
                                                                 failing);
    EXPECT_FALSE(CJobSimulator::Complete(job));
    EXPECT_FALSE(drtest::ChildJob(job).ended);
  }
  ASSERT_TRUE(CJobSimulator::Complete(job));
  EXPECT_EQ(1u, VMStatus(job).size());
}

// A waiter that sees the backup ended reads its VM statuses at once: they
// are stored in the ending's own transaction.
class BackupEffectsConcurrency : public BackupEffects {};

TEST_F(BackupEffectsConcurrency, WhoeverSeesTheEndingSeesTheEntries) {
  for (int round = 0; round < 5; ++round) {
    const long long job = StartBackup({101, 102, 103});
    std::atomic<bool> sawEnded{false};
    std::atomic<bool> giveUp{false};
    std::atomic<size_t> entries{0};
    drtest::CTestThread waiter(
        [&] {
          if (drtest::Eventually([&] { return giveUp.load() || drtest::HasEnded(job); }) && !giveUp.load()) {
            sawEnded = true;
            std::vector<SVMStatusEntry> found;
            if (CVMStatusStore::OfJob(job, found) == EStoreResult::kOk) entries = found.size();
          }
          CDBConnection::CloseThreadConnections();
        },
        "backup end waiter");
    // A job that never ends must not keep the waiter polling past the test.
    waiter.OnStop([&] { giveUp = true; });
    ASSERT_TRUE(CJobSimulator::Complete(job));
    ASSERT_TRUE(waiter.Join());
    ASSERT_TRUE(sawEnded);
    EXPECT_EQ(3u, entries.load());
  }
}

}  // namespace
