// The VM DR context over real machine records: batch operations as steps
// (scripts skipped or run per VM, operations without a step), dispatch by
// phase, eligibility, the clone-count check, bringing machines back after a
// failure, and the sync list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vsa/VSAContextTestSupport.h"

namespace {

using DependencyEntry = TMMsg::VMDependencyOrder;

// A VM-sequence entry whose pre- and post-scripts are complete as asked.
TMMsg::VMDependencyOrder ScriptedEntry(int replId, bool pre, bool post) {
  TMMsg::VMDependencyOrder e;
  e.SetInt64(DependencyEntry::kReplicationId, replId);
  e.MutableMsg(DependencyEntry::kVMEntity).SetString(ZnEntities::VirtualMachineEntity::kName, "vm" + std::to_string(replId));
  auto script = [&](const SMsgField& field, const std::string& text, int flag) {
    CNMessageBase& s = e.MutableMsg(field);
    s.SetString(TMMsg::ScriptFields::kScriptText, text);
    s.SetInt32(TMMsg::ScriptFields::kFlag, flag);
    s.TouchField(TMMsg::ScriptFields::kSubRecord4);
    s.TouchField(TMMsg::ScriptFields::kSubRecord7);
  };
  if (pre) script(DependencyEntry::kPreScript, "pre-" + std::to_string(replId), 0);
  if (post) script(DependencyEntry::kPostScript, "post-" + std::to_string(replId), replId == 1 ? 7 : 0);
  return e;
}

class VSAContext : public CVSAContextTestBase {
 protected:
  std::vector<int> Ids(const std::vector<CDRInfo*>& list) {
    std::vector<int> ids;
    for (CDRInfo* info : list) ids.push_back(info->GetReplId());
    return ids;
  }
  static void RecordPhase(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::DRSite site,
                          Api::VirtualAppPhaseState state) {
    SDRPhaseCtx p(kJob, phase, state, site, false);
    p.updatePhaseInfoTbl = false;
    p.raisePendingCause = false;
    info->UpdatePhase(p);
  }
};

// ---- Batch operations as steps -----------------------------------------------

TEST_F(VSAContext, ScriptsRunOnlyWhenEveryMachineHasThemEachWithItsOwn) {
  std::vector<CDRInfo*> m =
      Load({Lab(1), Lab(2)}, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,
           {ScriptedEntry(1, true, true), ScriptedEntry(2, false, true)});

  // Machine 2 has no pre-script: the step passes without running anything.
  SDROperationCtx pre = Ctx(m);
  pre.preScript = true;
  EXPECT_TRUE(m_ctx->__OP(pre, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY, true));
  EXPECT_TRUE(Logged("No [PRE]-scripts configured on [Source] vm(s)."));
  EXPECT_TRUE(m_hypervisor->Calls().empty());
  EXPECT_TRUE(PhaseRows().empty());

  // Both have post-scripts: each DR VM runs its own.
  SDROperationCtx post = Ctx(m);
  EXPECT_TRUE(m_ctx->__OP(post, ZNDR::BATCH_OP_RUN_POST_SCRIPTS_SECONDARY, false));
  ASSERT_EQ(2u, m_hypervisor->Count(TMMsg::VM_OPERATION_SCRIPT_EXECUTION));
  for (const SVMOpCall& call : m_hypervisor->Calls()) {
    const CNMessageBase& vm = call.request.GetMsg(Ida::VMOpReq::kVirtualMachine);
    const std::string name = vm.GetMsg(Ida::VirtualMachine::kEntity).GetString(ZnEntities::VirtualMachineEntity::kName);
    const CNMessageBase& settings =
        vm.GetMsg(Ida::VirtualMachine::kGuestOptions).GetMsg(Ida::VMGuestOptions::kScriptSettings);
    const bool first = name == "vm1-DR";
    EXPECT_EQ(first ? "post-1" : "post-2", settings.GetString(Ida::VMScriptSettings::kScriptText)) << name;
    EXPECT_EQ(first ? 1 : 0, settings.GetInt32(Ida::VMScriptSettings::kFlag)) << name;
    EXPECT_TRUE(settings.Has(Ida::VMScriptSettings::kSubRecord5));
    EXPECT_TRUE(settings.Has(Ida::VMScriptSettings::kSubRecord8));
  }
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowStatus(1, Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowStatus(2, Api::VIRTUAL_APP_PHASE_SCRIPT_EXECUTION));
}

TEST_F(VSAContext, PostScriptsAreSkippedWhenOneMachineHasNoneWhilePreScriptsRun) {
  std::vector<CDRInfo*> m =
      Load({Lab(1), Lab(2)}, TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,
           {ScriptedEntry(1, true, true), ScriptedEntry(2, true, false)});

  // Machine 2 has no post-script: the step passes without running anything.
  SDROperationCtx post = Ctx(m);
  EXPECT_TRUE(m_ctx->__OP(post, ZNDR::BATCH_OP_RUN_POST_SCRIPTS_SECONDARY, false));
  EXPECT_TRUE(Logged("No [POST]-scripts configured on [Destination] vm(s)."));
  EXPECT_TRUE(m_hypervisor->Calls().empty());
  EXPECT_TRUE(PhaseRows().empty());

  // The rule holds per kind: both have pre-scripts, which run.
  SDROperationCtx pre = Ctx(m);
  pre.preScript = true;
  EXPECT_TRUE(m_ctx->__OP(pre, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY, true));
  EXPECT_EQ(2u, m_hypervisor->Count(TMMsg::VM_OPERATION_SCRIPT_EXECUTION));
  EXPECT_FALSE(Logged("No [PRE]-scripts configured"));
}

TEST_F(VSAContext, OperationsWithoutAStepRunNothing) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  for (ZNDR::BatchOperation op : {ZNDR::BATCH_OP_FAILOVER, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_SECONDARY}) {
    SDROperationCtx ctx = Ctx(m);
    EXPECT_FALSE(m_ctx->__OP(ctx, op, false)) << op;
  }
  EXPECT_TRUE(m_hypervisor->Calls().empty());
  EXPECT_TRUE(m_ctx->Hooks().empty());
  EXPECT_TRUE(PhaseRows().empty());
}

TEST_F(VSAContext, PhasesReachSyncBackupOrNothing) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  SDROperationCtx ctx = Ctx(m);
  ctx.phase = Api::VIRTUAL_APP_PHASE_REPLICATION;
  EXPECT_TRUE(m_ctx->PerformOperation(ctx));
  ctx.phase = Api::VIRTUAL_APP_PHASE_BACKUP;
  EXPECT_TRUE(m_ctx->PerformOperation(ctx));
  ctx.phase = Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION;
  EXPECT_FALSE(m_ctx->PerformOperation(ctx));
  EXPECT_EQ((std::vector<std::string>{"Sync:1", "Backup:1"}), m_ctx->Hooks());
  EXPECT_TRUE(m_hypervisor->Calls().empty());
}

TEST_F(VSAContext, AMachinesBodyRunsItsVMOperationAndTakesTheAnswerIntoItsRecord) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  SDROperationCtx ctx = Ctx(m);
  ctx.batchOp = ZNDR::BATCH_OP_GET_VM_INFO_DESTINATION;
  DRInfoUtils::LoadBasicPhaseDetails(ctx, ctx.batchOp);
  EXPECT_TRUE(m_ctx->ProcessDROperationThread(ctx));
  EXPECT_EQ(1u, m_hypervisor->Count(TMMsg::VM_OPERATION_GET_VM_INFO));
  EXPECT_EQ("10.0.0.7", Rec(m[0])->GetVMInfo().GetString(Ida::VirtualMachine::kIpAddress));

  // Bodies of the operation classes are theirs; 19 has none.
  ctx.batchOp = ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_SECONDARY;
  EXPECT_FALSE(m_ctx->ProcessDROperationThread(ctx));
  EXPECT_EQ(1u, m_hypervisor->Calls().size());
}

// ---- Eligibility ---------------------------------------------------------------

TEST_F(VSAContext, IneligibleMachinesAreSkippedWithTheReasonAndOthersFailOver) {
  SContextVM done = Lab(2);
  done.failoverStatus = App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
  std::vector<CDRInfo*> m = Load({Lab(1), done, Lab(3)});
  m_ctx->refusedFailoverStatuses = {App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE};
  EXPECT_TRUE(m_ctx->ProcessPriority(m_priority));
  EXPECT_TRUE(m_ctx->Hooked("Failover:1"));
  EXPECT_TRUE(m_ctx->Hooked("Failover:3"));
  EXPECT_FALSE(m_ctx->Hooked("Failover:2"));
  EXPECT_TRUE(m[1]->IsSkipped());
  EXPECT_FALSE(m[0]->IsSkipped());
  EXPECT_TRUE(Logged("Skipping DR for [vm2] RId [2] - Machine ineligible as failover Status is [Failover Complete] "
                     "and sync status is [In Sync]"));
}

TEST_F(VSAContext, ATestFailoverToAnUnsupportedVendorIsSkipped) {
  std::vector<CDRInfo*> m = Load({Lab(1)}, TMMsg::DR_ORCHESTRATION_TEST_FAILOVER);
  SDROperationCtx ctx = Ctx(m);
  ctx.batchOp = ZNDR::BATCH_OP_FAILOVER;
  EXPECT_TRUE(m_ctx->ProcessDROperationThread(ctx));
  EXPECT_TRUE(m[0]->IsSkipped());
  EXPECT_TRUE(m_ctx->Hooks().empty());
  EXPECT_TRUE(Logged("Skipping replication [1]. [Test Failover] is not supported"));
}

TEST_F(VSAContext, FirstTimeSyncAdmitsAnySyncStatusOnceTheFailoverStatusIsPermitted) {
  SContextVM vm = Lab(1);
  vm.taskId = 11;
  vm.syncStatus = App::VSA_REPL_STATUS_SYNC_FAILED;
  std::vector<CDRInfo*> m = Load({vm});
  m_ctx->refusedSyncStatuses = {App::VSA_REPL_STATUS_SYNC_FAILED};
  EXPECT_FALSE(m_ctx->IsMachineEligible(m[0]));

  TMMsg::TaskInfo task;
  NewVMRestoreOptions(task).SetInt32(TMMsg::DiskLevelVMRestoreOption::kFirstSyncDuringFailover, 1);
  ASSERT_TRUE(CTaskStore::PutTask(11, Xml(task)));
  m_dr->GetDRAppMgr()->QueryFirstTimeSyncDuringFailover(11);
  EXPECT_TRUE(m_ctx->IsMachineEligible(m[0]));
  m_ctx->refusedFailoverStatuses = {0};
  EXPECT_FALSE(m_ctx->IsMachineEligible(m[0]));
}

TEST_F(VSAContext, AMachineWithoutAReplicationRecordIsIneligible) {
  Load({Lab(1)});
  EXPECT_FALSE(m_ctx->IsMachineEligible(nullptr));
  SDataSourceInfo info;
  info.replId = 9;
  SDRInfoCtx ctx(nullptr, info, m_priority);
  CDRInfo orphan(ctx);
  EXPECT_FALSE(m_ctx->IsMachineEligible(&orphan));
  SDROperationCtx op;
  op.drInfoList = {&orphan};
  EXPECT_FALSE(m_ctx->IsCloneOpValid(op));
  m_ctx->LoadSnapshotInfo(op, SNAPSHOT_NAME, "");
  std::string moref = "x";
  EXPECT_FALSE(m_ctx->SetSnapMoref(&orphan, op, moref, false));
  EXPECT_EQ(nullptr, m_ctx->GetVSADataManager(&orphan));
}

// ---- Clones --------------------------------------------------------------------

TEST_F(VSAContext, ThirtyTwoClonesAdmitOneMoreAndThirtyThreeDoNot) {
  SContextVM a = Lab(1), b = Lab(2);
  a.sourceClientId = 100;
  b.sourceClientId = 101;
  std::vector<CDRInfo*> m = Load({a, b});
  auto clones = [](int source, int count, int firstClient) {
    for (int i = 0; i < count; ++i) {
      const std::string client = std::to_string(firstClient + i);
      Sql("INSERT INTO APP_VM (clientId, name, removalTimeStamp) VALUES (" + client + ", 'clone', NULL)", "APP_VM");
      Sql("INSERT INTO APP_ClientProp (componentNameId, attrName, attrVal, modified) VALUES (" + client +
              ", 'Source VM Client Id', '" + std::to_string(source) + "', 0)",
          "APP_ClientProp");
    }
  };
  clones(100, 32, 1000);
  clones(101, 33, 2000);
  SDROperationCtx ctx = Ctx(m);
  EXPECT_TRUE(m_ctx->IsCloneOpValid(ctx));
  EXPECT_EQ(std::vector<int>{1}, Ids(ctx.drInfoList));
  EXPECT_TRUE(LoggedError("VM [vm2-DR] [dst-guid-2] has reached max clone count [32] "));

  // A count that cannot be read keeps the machines.
  Sql("DROP TABLE APP_ClientProp");
  ctx = Ctx(m);
  EXPECT_TRUE(m_ctx->IsCloneOpValid(ctx));
  EXPECT_EQ((std::vector<int>{1, 2}), Ids(ctx.drInfoList));
  EXPECT_TRUE(LoggedError("Failed to read the clone count of source VM client [101]. Counting [0]"));
}

// ---- After a failure -----------------------------------------------------------

TEST_F(VSAContext, OnlyMachinesThisJobPoweredOffOrShutDownArePoweredBackOn) {
  std::vector<CDRInfo*> m = Load({Lab(1), Lab(2), Lab(3), Lab(4), Lab(5)});
  m_hypervisor->FailVM("src-guid-2", 9);
  SDROperationCtx off = Ctx({m[0], m[1], m[4]});
  EXPECT_TRUE(m_ctx->__OP(off, ZNDR::BATCH_OP_POWER_OFF_PRIMARY, false));
  SDROperationCtx shut = Ctx({m[3]});
  EXPECT_TRUE(m_ctx->__OP(shut, ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, false));
  for (CDRInfo* info : {m[0], m[1], m[2], m[3]}) info->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  m[4]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  const size_t rowsBefore = PhaseRows().size();

  m_ctx->PerformVMOperationOnFailure(m, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_ON);
  std::vector<std::string> poweredOn;
  for (const SVMOpCall& call : m_hypervisor->Calls()) {
    if (call.opType != TMMsg::VM_OPERATION_POWER_ON) continue;
    poweredOn.push_back(call.request.GetMsg(Ida::VMOpReq::kVirtualMachine)
                            .GetMsg(Ida::VirtualMachine::kEntity)
                            .GetString(ZnEntities::VirtualMachineEntity::kGuid));
  }
  EXPECT_EQ((std::vector<std::string>{"src-guid-1", "src-guid-4"}), poweredOn);
  EXPECT_TRUE(Logged("BEGIN [CLEAN-UP] operation [Power On] on VM on site [SOURCE] for replication [1]"));
  EXPECT_TRUE(Logged("END   [CLEAN-UP] operation [Power On] on VM on site [SOURCE] for replication [4]"));
  // The clean-up writes no row and leaves the machine's last phase.
  EXPECT_EQ(rowsBefore, PhaseRows().size());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_POWER_OFF, m[0]->GetLastPhase().phase);

  // Nothing in the job's clean-up phase.
  m_jm->SetDRJobCleanupPhase(true);
  m_ctx->PerformVMOperationOnFailure(m, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_ON);
  EXPECT_EQ(2u, m_hypervisor->Count(TMMsg::VM_OPERATION_POWER_ON));
}

TEST_F(VSAContext, AFailedMachineIsCleanedUpUnlessTheStepIsACleanUp) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->FailVM("src-guid-1", 9);
  SDROperationCtx ctx = Ctx(m);
  ctx.phase = Api::VIRTUAL_APP_PHASE_POWER_OFF;
  EXPECT_FALSE(m_ctx->PerformGenVMOp(ctx, nullptr));
  EXPECT_EQ(std::vector<std::string>{"Cleanup:1"}, m_ctx->Hooks());
  ctx.ignoreQuit = true;
  EXPECT_FALSE(m_ctx->PerformGenVMOp(ctx, nullptr));
  EXPECT_EQ(1u, m_ctx->Hooks().size());
  ctx.drInfoList.clear();
  EXPECT_FALSE(m_ctx->PerformGenVMOp(ctx, m_ctx.get()));
  EXPECT_TRUE(LoggedError("Infolist is empty"));
}

// ---- Sync list -----------------------------------------------------------------

TEST_F(VSAContext, TheSyncListKeepsMachinesWhoseAuxCopyIsDoneOrNotNeeded) {
  std::vector<SContextVM> vms;
  for (int id = 1; id <= 6; ++id) {
    SContextVM vm = Lab(id);
    vm.copyPrecedence = id != 5;
    vms.push_back(vm);
  }
  std::vector<CDRInfo*> m = Load(vms);
  RecordPhase(m[0], Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  RecordPhase(m[1], Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_STATE_SKIPPED);
  RecordPhase(m[2], Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  // 4 has no aux copy recorded; 6 only at the other site.
  RecordPhase(m[5], Api::VIRTUAL_APP_PHASE_AUX_COPY, Api::DR_SITE_DESTINATION, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  SDROperationCtx ctx = Ctx(m);
  ctx.site = Api::DR_SITE_SOURCE;
  m_ctx->LoadSyncList(ctx);
  EXPECT_EQ((std::vector<int>{1, 2, 5}), Ids(ctx.drInfoList));
}

}  // namespace
