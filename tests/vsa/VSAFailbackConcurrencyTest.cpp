// A failback of eight machines whose threads edit one DR backup task and
// one failback schedule at once: every machine leaves both, the tasks keep
// the replications outside the job, and each task is written back once.
#include <algorithm>
#include <string>
#include <vector>

#include "VSALabFixture.h"
#include "jobs/TaskStore.h"
#include "log/LogSink.h"
#include "vsa/VSARepInfo.h"

namespace {

constexpr int kBackupTask = 61;
constexpr int kFailbackTask = 62;
const std::vector<int32_t> kOutside = {901, 902};

class VSAFailbackConcurrency : public CVSALabFixture {
 protected:
  // The DR backup task selects the VMs; the failback schedule lists the
  // replications in its DR options.
  static void StoreTasks(const std::vector<int32_t>& ids) {
    TMMsg::TaskInfo backup;
    backup.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskId, kBackupTask);
    CNMessageBase& vsa = backup.AddMsg(TMMsg::TaskInfo::kSubTasks)
                             .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
                             .MutableMsg(TMMsg::JobOption::kBackupOptions)
                             .MutableMsg(TMMsg::BackupOptionFields::kVSABackupOption);
    for (int32_t id : ids) {
      vsa.AddMsg(TMMsg::VSABkpOption::kSelectedVMs).SetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId, id);
    }
    ASSERT_TRUE(CTaskStore::PutTask(kBackupTask, ETaskKind::kSchedule, backup));
    StoreFailbackSchedule(kFailbackTask, ids);
  }

  static CNMessageBase& Options(TMMsg::TaskInfo& task) {
    return task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
        .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
        .MutableMsg(TMMsg::JobOption::kBackupOptions);
  }
  static TMMsg::TaskInfo Read(int taskId) {
    STaskRecord record;
    EXPECT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(taskId, record));
    TMMsg::TaskInfo task;
    EXPECT_TRUE(task.Unserialize(record.xml));
    return task;
  }
  static std::vector<int32_t> SelectedVMs(int taskId) {
    TMMsg::TaskInfo task = Read(taskId);
    const CNMessageBase& vsa = Options(task).GetMsg(TMMsg::BackupOptionFields::kVSABackupOption);
    std::vector<int32_t> ids;
    for (size_t i = 0; i < vsa.ListSize(TMMsg::VSABkpOption::kSelectedVMs); ++i) {
      ids.push_back(static_cast<int32_t>(
          vsa.GetListMsg(TMMsg::VSABkpOption::kSelectedVMs, i).GetInt64(TMMsg::VSASelectiveVMInfo::kReplicationId)));
    }
    return ids;
  }
  static std::vector<int32_t> ListedReplications(int taskId) {
    TMMsg::TaskInfo task = Read(taskId);
    std::vector<int32_t> ids;
    Options(task)
        .GetMsg(TMMsg::BackupOptionFields::kDROrchestrationOption)
        .GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
        .GetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
    return ids;
  }
  static size_t Commits(int taskId) {
    const std::string line = "Commiting modified task [" + std::to_string(taskId) + "]";
    size_t n = 0;
    for (const SLogLine& l : CLogSink::Instance().Captured()) n += l.text == line ? 1 : 0;
    return n;
  }
};

TEST_F(VSAFailbackConcurrency, EightMachinesLeaveBothTasksWhichKeepTheOthersAndAreWrittenOnce) {
  SeedFailedOver(TMMsg::DR_ORCHESTRATION_FAILBACK, 8);
  std::vector<int32_t> all = kOutside;
  for (const SVSALabVM& vm : VMs()) {
    all.push_back(vm.replicationId);
    AddProperty(vm.replicationId, VSARepInfo::kPropDestBackupTaskId, std::to_string(kBackupTask));
    AddProperty(vm.replicationId, VSARepInfo::kPropReverseReplicationTaskId, std::to_string(kFailbackTask));
  }
  StoreTasks(all);
  Restart();
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RunDR());
  // The job's edits reach the task manager when the job ends.
  m_dr.reset();
  EXPECT_EQ(kOutside, SelectedVMs(kBackupTask));
  EXPECT_EQ(kOutside, ListedReplications(kFailbackTask));
  EXPECT_EQ(1u, Commits(kBackupTask));
  EXPECT_EQ(1u, Commits(kFailbackTask));
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE, StoredFailoverStatus(vm.replicationId));
    EXPECT_TRUE(SourceVM(vm.replicationId).poweredOn);
  }
}

}  // namespace
