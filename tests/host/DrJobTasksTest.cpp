// "drjob tasks" end to end: the seeded lab's schedules, a one-shot task a
// create-task request left, a deleted schedule gone from the list, and the
// seeded DR backup schedule, which backs up the sample VMs when it runs.
#include <stdio.h>

#include "JobSimTestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedReplications.h"
#include "jobs/TaskStore.h"
#include "tasksim/TaskManagerSim.h"
#include "xmlreq/XMLHandler.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobTasks : public drtest::CDrJobLabTest {
 protected:
  static std::string Line(int id, const char* kind, const char* operation, const char* subclient) {
    char line[128];
    snprintf(line, sizeof(line), "%-10d %-9s %-10s %s\n", id, kind, operation, subclient);
    return line;
  }
  static int Send(const CNMessageBase& request, unsigned long type, std::string& reply) {
    std::string error;
    EXPECT_TRUE(request.serializeUTF8(reply));
    const int rc = XMLHandler::handleXMLReq(1, type, reply, error, std::string(), 0);
    EXPECT_EQ(0, rc) << error;
    return rc;
  }
};

TEST_F(E2EDrJobTasks, ListsTheLabsTasksAsTheTaskManagerChangesThem) {
  SResult r = Host("tasks --db " + m_db);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "id         kind      operation  subclient\n")) << r.output;
  EXPECT_TRUE(Has(r, Line(kSampleTaskId, "schedule", "-", "-"))) << r.output;
  EXPECT_TRUE(Has(r, Line(kSampleDRBackupTaskId, "schedule", "2", "21"))) << r.output;

  // The seeded DR backup schedule, sent as a create-task request, backs up
  // every sample VM of the subclient.
  STaskRecord schedule;
  ASSERT_EQ(EStoreResult::kOk, CTaskStore::ReadTask(kSampleDRBackupTaskId, schedule));
  TMMsg::TaskInfo info;
  ASSERT_TRUE(info.Unserialize(schedule.xml));
  TMMsg::CreateTaskReq create;
  create.SetMsg(TMMsg::CreateTaskReq::kTaskInfo, info);
  std::string reply;
  ASSERT_EQ(0, Send(create, TMMsg::CreateTaskReq::kTypeId, reply));
  TMMsg::CreateTaskResp resp;
  ASSERT_TRUE(resp.Unserialize(reply));
  ASSERT_EQ(1u, resp.ListSize(TMMsg::CreateTaskResp::kJobIds));
  const SChildJobRecord backup = drtest::ChildJob(atoll(resp.GetListString(TMMsg::CreateTaskResp::kJobIds, 0).c_str()));
  EXPECT_EQ((std::vector<int>{101, 102, 201}), backup.replicationIds);
  EXPECT_EQ(kSampleSubclientId, backup.applicationId);

  // The schedule deleted: the one-shot task stays.
  TMMsg::TaskOperationReq remove;
  remove.SetInt32(TMMsg::TaskOperationReq::kOperation, CTaskManagerSim::kTaskOpDelete);
  remove.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, kSampleDRBackupTaskId);
  ASSERT_EQ(0, Send(remove, TMMsg::TaskOperationReq::kTypeId, reply));
  r = Host("tasks --db " + m_db);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_FALSE(Has(r, Line(kSampleDRBackupTaskId, "schedule", "2", "21"))) << r.output;
  EXPECT_TRUE(Has(r, Line(CTaskStore::kFirstCreatedTaskId, "one-shot", "2", "21"))) << r.output;
  EXPECT_TRUE(Has(r, Line(kSampleTaskId, "schedule", "-", "-"))) << r.output;
}

TEST_F(E2EDrJobTasks, RefusesWhatIsNoLabAndBadArguments) {
  const std::string other = m_dir + "/other.db";
  FILE* f = fopen(other.c_str(), "w");
  ASSERT_NE(nullptr, f);
  fputs("not a database", f);
  fclose(f);
  SResult r = Host("tasks --db " + other);
  EXPECT_EQ(4, r.code) << r.output;
  r = Host("tasks");
  EXPECT_EQ(2, r.code) << r.output;
  EXPECT_TRUE(Has(r, "tasks needs --db PATH")) << r.output;
  r = Host("tasks --db " + m_db + " --job 5");
  EXPECT_EQ(2, r.code) << r.output;
  r = Host("");
  EXPECT_TRUE(Has(r, "exit codes of tasks: 0 listed, 4 unreadable database, 2 bad arguments")) << r.output;
}

}  // namespace
