// A fresh management database with a small lab for the service tests: the
// local client, a job owner with an address, and builders of DR jobs, DR
// groups and phase rows.
#pragma once

#include <sqlite3.h>

#include <string>

#include "Db/DbTestSupport.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "log/JobJournal.h"
#include "log/LogSink.h"
#include "msg/MsgClasses.h"
#include "settings/ZNPlatformInfo.h"
#include "time/PlatformClock.h"
#include "appmgr/ClientStore.h"

class CServicesTestBase : public CDbTestBase {
 protected:
  static constexpr int kOwner = 7;
  static constexpr int kClientId = 1;

  void SetUp() override {
    CDbTestBase::SetUp();
    ZNPlatformInfo::setString("Machine", "PhysicalMachine", "drhost");
    ASSERT_TRUE(CClientStore::PutClient(SClientRecord{kClientId, "drhost", "", ""}));
    CLabStore::AddUser(kOwner, "owner", "owner@example.com");
    CLogSink::Instance().ClearCapture();
    CPlatformClock::Instance().ClearRecords();
    CJobJournal::Instance().Clear();
  }
  void TearDown() override {
    // The settings file outlives the test; the next test of this process
    // must find this machine under its own name again.
    ZNPlatformInfo::setString("Machine", "PhysicalMachine", "");
    CDbTestBase::TearDown();
  }

  static void Sql(const std::string& sql, const char* table = nullptr) {
    CDBConnection* c = CDBConnection::ForThread();
    ASSERT_NE(c, nullptr);
    if (table) {
      ASSERT_EQ(c->EnsureTable(table), DB_OK);
    }
    ASSERT_EQ(c->Exec(sql), DB_OK) << c->LastErrorText();
  }

  // Job options with the DR orchestration option; monitor < 0 leaves its
  // monitor flag out, groupId 0 leaves the DR group entity out.
  static TMMsg::JobOption MakeOptions(int monitor = 0, int groupId = 0) {
    TMMsg::JobOption options;
    TMMsg::DROrchestrationOption& dr =
        options.MutableMsg(TMMsg::JobOption::kBackupOptions)
            .MutableMsgAs<TMMsg::DROrchestrationOption>(TMMsg::BackupOptionFields::kDROrchestrationOption);
    if (monitor >= 0) dr.SetInt32(TMMsg::DROrchestrationOption::kInitiatedFromMonitor, monitor);
    if (groupId > 0)
      dr.MutableMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity)
          .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, groupId);
    return options;
  }

  // The VM restore options of a new subtask of the task, made on the way.
  static CNMessageBase& NewVMRestoreOptions(TMMsg::TaskInfo& task) {
    return task.AddMsg(TMMsg::TaskInfo::kSubTasks)
        .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
        .MutableMsg(TMMsg::JobOption::kRestoreOptions)
        .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
        .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  }

  static std::string Xml(const CNMessageBase& msg) {
    std::string xml;
    EXPECT_TRUE(msg.serializeUTF8(xml));
    return xml;
  }

  static long long CreateJob(long long jobId, const std::string& optionsXml, const std::string& restart = "",
                             const std::string& status = "Running", double percent = 0.0) {
    SJobRecord job;
    job.jobId = jobId;
    job.jobType = CJobStore::kTypeDR;
    job.ownerId = kOwner;
    job.optionsXml = optionsXml;
    job.restartString = restart;
    job.status = status;
    job.percent = percent;
    return CJobStore::CreateJob(job);
  }

  static long long CreateChild(long long jobId, const std::string& status, double percent = 50.0) {
    SJobRecord job;
    job.jobId = jobId;
    job.jobType = CJobStore::kTypeChild;
    job.status = status;
    job.percent = percent;
    return CJobStore::CreateJob(job);
  }

  // A phase row; childJobId > 0 names the phase's child job in its details.
  static void AddPhaseRow(long long jobId, int replicationId, int phase, int status, long long childJobId) {
    std::string details = "NULL";
    if (childJobId > 0) {
      Api::VirtualAppPhaseInfo info;
      info.AddMsg(Api::VirtualAppPhaseInfo::kJobInfos).SetInt64(Api::VirtualAppJobInfo::kJobId, childJobId);
      details = "'" + Xml(info) + "'";
    }
    Sql("INSERT INTO App_VirtualAppJobStats (jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, "
        "status, startTime, endTime, details, failureReason, appTypeId) VALUES (" +
            std::to_string(jobId) + ", 2, 1, 1, " + std::to_string(replicationId) + ", " + std::to_string(phase) +
            ", 'p', " + std::to_string(status) + ", 0, 0, " + details + ", '', 0)",
        "App_VirtualAppJobStats");
  }

  static bool Logged(const std::string& text) { return CLogSink::Instance().Contains(text); }
};
