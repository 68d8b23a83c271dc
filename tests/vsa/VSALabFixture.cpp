#include "VSALabFixture.h"

#include "platform/vm/LabTestSupport.h"

#include <algorithm>
#include <set>
#include <utility>

#include "core/JobContext.h"
#include "core/RequestTap.h"
#include "drorch/DRChildJobDone.h"
#include "drorch/DRInitParams.h"
#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDRInfoCtx.h"
#include "engine/TestDRContext.h"
#include "jobs/JobStore.h"
#include "jobs/TaskStore.h"
#include "sim/Simulators.h"
#include "vm/HypervisorStore.h"
#include "vsa/VSARepInfo.h"
#include "vsa/VSAReplDataMgr.h"

// ---- steps ---------------------------------------------------------------

namespace vsasteps {

SVSAStep Backup() {
  return Do("backup", [](CVSAStepTestContext& c, SDROperationCtx& ctx) {
    return c.__OP(ctx, ZNDR::BATCH_OP_BACKUP_PRIMARY, true);
  });
}

SVSAStep Replicate() {
  return Do("replicate", [](CVSAStepTestContext& c, SDROperationCtx& ctx) {
    return c.ReplicateVMs(ctx, Api::DR_SITE_SOURCE, true);
  });
}

SVSAStep KeepSucceeded() {
  return Do("keep succeeded", [](CVSAStepTestContext& c, SDROperationCtx& ctx) {
    c.Orchestrator().FilterSuccessList(ctx);
    return !ctx.drInfoList.empty();
  });
}

SVSAStep TakeOutputList() {
  return Do("output", [](CVSAStepTestContext&, SDROperationCtx& ctx) {
    if (ctx.subclient == nullptr) return false;
    ctx.drInfoList = ctx.subclient->GetOutputList();
    return !ctx.drInfoList.empty();
  });
}

SVSAStep CreateFailoverSnapshots(bool succeededOnly) {
  return Do("failover snapshots", [succeededOnly](CVSAStepTestContext& c, SDROperationCtx& ctx) {
    return c.CreateFailoverSnapshots(ctx, succeededOnly);
  });
}

SVSAStep Do(const std::string& name, std::function<bool(CVSAStepTestContext&, SDROperationCtx&)> run) {
  SVSAStep step;
  step.name = name;
  step.run = std::move(run);
  return step;
}

}  // namespace vsasteps

// ---- the step context -----------------------------------------------------

bool CVSALabDR::RunPriority(const SDRPriority& priority) {
  CVSAStepTestContext* context = new CVSAStepTestContext(*this);
  context->steps = steps;
  return _ExecPriority(context, priority);
}

bool CVSAStepTestContext::ProcessPriority(const SDRPriority& priority) {
  m_groups.clear();
  return m_orchestrator->ProcessSubclientsInPriority(priority, m_groups, this);
}

bool CVSAStepTestContext::_PreReplication(SDROperationCtx& ctx) {
  if (preReplication) preReplication(ctx);
  return true;
}

bool CVSAStepTestContext::ProcessDRSubclientThread(SDROperationCtx& ctx) {
  m_orchestrator->InitDRSubclient(ctx);
  const int subclientId = ctx.subclient != nullptr ? ctx.subclient->GetAppId() : 0;
  for (const SVSAStep& step : steps) {
    const bool ok = step.run(*this, ctx);
    CMutexLock lock(m_mutex);
    m_stepLog.push_back(step.name + ":" + std::to_string(subclientId) + (ok ? ":ok" : ":failed"));
    if (!ok) return false;
  }
  return true;
}

bool CVSAStepTestContext::PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) {
  int property = VSARepInfo::kPropSourceSnapMoref;
  if (site == Api::DR_SITE_SOURCE) {
    m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for source VM on repl [%d]", moref.c_str(),
                  info->GetReplId());
  } else if (site == Api::DR_SITE_DESTINATION) {
    m_event.Debug("PersistSnapMoref", "Persisting snap moref [%s] for DR VM on repl [%d]", moref.c_str(),
                  info->GetReplId());
    property = VSARepInfo::kPropDestSnapMoref;
  }
  CVSAReplDataMgr* manager = GetVSADataManager(info);
  if (manager == nullptr) return false;
  {
    CMutexLock lock(m_mutex);
    m_persisted.push_back(std::to_string(info->GetReplId()) + ":" + std::to_string(site) + ":" + moref);
  }
  return manager->UpdateReplPropTbl(info->GetReplId(), property, moref, true);
}

void CVSAStepTestContext::LoadOperationConfig(SDROperationCtx& ctx) {
  if (operationConfig) operationConfig(ctx);
}

bool CVSAStepTestContext::HandleSyncFailure(SDROperationCtx& ctx, CDRInfo* info) {
  {
    CMutexLock lock(m_mutex);
    m_syncFailures.push_back(info != nullptr ? info->GetReplId() : 0);
  }
  return CVSADRBase::HandleSyncFailure(ctx, info);
}

const SDROSubclient* CVSAStepTestContext::Group(int subclientId) const {
  for (const SDROSubclient& group : m_groups) {
    if (group.appId == subclientId) return &group;
  }
  return nullptr;
}

std::vector<std::string> CVSAStepTestContext::StepLog() const {
  CMutexLock lock(m_mutex);
  return m_stepLog;
}

std::vector<int> CVSAStepTestContext::SyncFailures() const {
  CMutexLock lock(m_mutex);
  return m_syncFailures;
}

std::vector<std::string> CVSAStepTestContext::Persisted() const {
  CMutexLock lock(m_mutex);
  return m_persisted;
}

// ---- the fixture ------------------------------------------------------------

void CVSALabFixture::SetUp() {
  CDRRecordsTestBase::SetUp();
  std::string error;
  ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
  CJobContext::SetCurrentJobId(kJob);
  // Every phase-row write is kept, so a test sees the states a row went
  // through.
  CRequestTap::Clear();
  CRequestTap::SetEnabled(true);
  m_simulator.reset(new drtest::CScopedJobSimulator());
  // The notices reach the completion entry in this process; in production
  // the notifier program calls it.
  CJobSimulator::SetInProcessDelivery(DRChildJobDone);
}

void CVSALabFixture::TearDown() {
  m_context.reset();
  m_dr.reset();
  m_jm.reset();
  m_simulator.reset();
  CHypervisorLab::ClearFaults();
  CRequestTap::SetEnabled(false);
  CRequestTap::Clear();
  CJobContext::SetCurrentJobId(0);
  CDRRecordsTestBase::TearDown();
}

SSeedVMLab CVSALabFixture::LabOf(const SVSALabSpec& spec, std::vector<std::vector<TMMsg::VMDependencyOrder>>& entries) {
  SSeedVMLab lab;
  lab.sites = {CHypervisorLabSeed::SampleSourceSite(spec.sourceVendor),
               CHypervisorLabSeed::SampleDestinationSite(spec.destVendor)};
  const SSeedVMLab sample = CHypervisorLabSeed::Sample();
  lab.pointsInTime = sample.pointsInTime;
  entries.clear();
  if (spec.sample) {
    // The group "Sample" as drjob seed stores it, in its priorities.
    for (const SSampleVM& vm : CHypervisorLabSeed::kSampleVMs) {
      for (const SSeedVMReplication& r : sample.replications) {
        if (r.replicationId == vm.replicationId) lab.replications.push_back(r);
      }
      if (static_cast<int>(entries.size()) < vm.priority) entries.resize(vm.priority);
      entries[vm.priority - 1].push_back(Entry(vm.replicationId, -1, vm.source));
    }
    for (const SSeedVMTask& task : sample.tasks) {
      if (task.taskId == CHypervisorLabSeed::kSampleTaskId) lab.tasks.push_back(task);
    }
    lab.storagePolicies = sample.storagePolicies;
  } else {
    // N replications in G subclient groups, each group's spread over its
    // tasks in turn, the groups in P blocks of priorities.
    const int groups = std::max(1, spec.subclientGroups);
    const int tasks = std::max(1, spec.tasksPerGroup);
    const int priorities = std::max(1, std::min(spec.priorities, groups));
    entries.resize(priorities);
    for (int i = 0; i < spec.replications; ++i) {
      const int group = i * groups / spec.replications;
      const int first = (group * spec.replications + groups - 1) / groups;
      const int id = kFirstReplication + i;
      SSeedVMReplication r;
      r.replicationId = id;
      r.subclientId = kFirstSubclient + group;
      r.taskId = kFirstTask + group * 10 + (i - first) % tasks;
      r.sourceInstanceId = kSourceInstance;
      r.destinationInstanceId = kDestInstance;
      r.targetId = CHypervisorLabSeed::kSampleTargetId;
      r.sourceName = "vm-" + std::to_string(id);
      r.destinationName = r.sourceName + "-DR";
      r.sourceClientId = kSourceClientBase + id;
      lab.replications.push_back(r);
      entries[group * priorities / groups].push_back(Entry(id, -1, r.sourceName));
      // Each subclient its storage policy (the first one the sample's).
      const int policyId = CHypervisorLabSeed::kSampleStoragePolicyId + group;
      if (lab.storagePolicies.empty() || lab.storagePolicies.back().policyId != policyId) {
        lab.storagePolicies.push_back(SSeedVMStoragePolicy{policyId, {r.subclientId}});
      }
      SSeedVMTask* task = nullptr;
      for (SSeedVMTask& t : lab.tasks) {
        if (t.taskId == r.taskId) task = &t;
      }
      if (task == nullptr) {
        lab.tasks.push_back(SSeedVMTask());
        task = &lab.tasks.back();
        task->taskId = r.taskId;
      }
      task->placedReplicationIds.push_back(id);
    }
  }
  for (SSeedVMReplication& r : lab.replications) {
    r.drVM = spec.drVMs;
    r.syncStatus = spec.syncStatus;
    r.failoverStatus = spec.failoverStatus;
    r.indexingV2 = spec.indexingV2;
  }
  for (SSeedVMTask& t : lab.tasks) {
    t.deployAtFailover = spec.deployAtFailover;
    t.firstSyncDuringFailover = spec.firstTimeSyncDuringFailover;
    t.jobBucketing = spec.jobBucketing;
    t.replicaSyncDirect =
        std::count(spec.replicaSyncDirectTasks.begin(), spec.replicaSyncDirectTasks.end(), t.taskId) > 0;
  }
  return lab;
}

void CVSALabFixture::Seed(const SVSALabSpec& spec) {
  m_spec = spec;
  m_vms.clear();
  std::vector<std::vector<TMMsg::VMDependencyOrder>> entries;
  const SSeedVMLab lab = LabOf(spec, entries);
  std::string error;
  ASSERT_TRUE(CHypervisorLabSeed::AddLab(lab, error)) << error;
  for (const SSeedVMReplication& r : lab.replications) {
    SVSALabVM vm;
    vm.replicationId = r.replicationId;
    vm.subclientId = r.subclientId;
    vm.taskId = r.taskId;
    vm.sourceClientId = r.sourceClientId;
    vm.sourceGuid = "src-" + std::to_string(r.replicationId);
    vm.sourceName = r.sourceName;
    vm.destGuid = r.drVM ? "dst-" + std::to_string(r.replicationId) : std::string();
    vm.destName = r.destinationName;
    m_vms.push_back(vm);
  }

  const int priorities = static_cast<int>(entries.size());
  std::vector<TMMsg::VMGroup> vmGroups;
  for (int p = 0; p < priorities; ++p) vmGroups.push_back(Group(p + 1, entries[p], priorities > 1 ? 1 : 0));
  PutGroup(vmGroups);
  TMMsg::JobOption options = JobOptions(false);
  if (spec.drOptions) {
    spec.drOptions(options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                       .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption));
  }
  StartJob(options);
  m_dr.reset(NewOrchestrator());
  DRInitParams params{m_jm.get()};
  ASSERT_TRUE(m_dr->Initialize(params));
}

void CVSALabFixture::Restart() {
  m_context.reset();
  m_dr.reset();
  RestartJob(kJob);
  m_dr.reset(NewOrchestrator());
  DRInitParams params{m_jm.get()};
  ASSERT_TRUE(m_dr->Initialize(params));
}

int32_t CVSALabFixture::RunJob(const std::vector<SVSAStep>& steps) {
  m_context.reset();
  CVSALabDR* dr = dynamic_cast<CVSALabDR*>(m_dr.get());
  if (dr == nullptr) {
    ADD_FAILURE() << "no orchestrator";
    return -1;
  }
  dr->steps = steps;
  return m_dr->Run();
}

int32_t CVSALabFixture::RunDR() {
  m_context.reset();
  return m_dr->Run();
}

CDRBase* CVSALabFixture::NewOrchestrator() {
  if (m_spec.operationClasses) return new CGenericDR(m_spec.drType);
  return new CVSALabDR(m_spec.drType);
}

CVSAStepTestContext& CVSALabFixture::NewContext(const std::vector<SVSAStep>& steps) {
  m_context.reset(new CVSAStepTestContext(*m_dr));
  m_context->steps = steps;
  return *m_context;
}

bool CVSALabFixture::RunSteps(const std::vector<SVSAStep>& steps, int order) {
  CVSAStepTestContext& context = NewContext(steps);
  SDRPriority* priority = Priority(order);
  if (priority == nullptr) {
    ADD_FAILURE() << "no priority " << order;
    return false;
  }
  return context.ProcessPriority(*priority);
}

drtest::CTestThread CVSALabFixture::RunStepsLater(const std::vector<SVSAStep>& steps, bool& result, int order) {
  CVSAStepTestContext& context = NewContext(steps);
  SDRPriority* priority = Priority(order);
  EXPECT_NE(nullptr, priority) << "no priority " << order;
  drtest::CTestThread runner(
      [&context, priority, &result] { result = priority != nullptr && context.ProcessPriority(*priority); }, "steps");
  runner.OnStop([] { CJobStore::SetControlOperation(kJob, 1); });
  return runner;
}

SDRPriority* CVSALabFixture::Priority(int order) {
  for (SDRPriority* p : CDRBaseTestPeer::Priorities(*m_dr)) {
    if (p->order == order) return p;
  }
  return nullptr;
}

std::vector<CDRInfo*> CVSALabFixture::Machines() {
  std::vector<CDRInfo*> out;
  for (IDRBaseInfo* base : CDRBaseTestPeer::Infos(*m_dr)) {
    if (CDRInfo* info = dynamic_cast<CDRInfo*>(base)) out.push_back(info);
  }
  std::sort(out.begin(), out.end(), [](CDRInfo* a, CDRInfo* b) { return a->GetReplId() < b->GetReplId(); });
  return out;
}

CDRInfo* CVSALabFixture::Machine(int replicationId) {
  for (CDRInfo* info : Machines()) {
    if (info->GetReplId() == replicationId) return info;
  }
  ADD_FAILURE() << "no machine " << replicationId;
  return nullptr;
}

SDROperationCtx CVSALabFixture::Ctx(const std::vector<int>& replicationIds) {
  SDROperationCtx ctx;
  for (CDRInfo* info : Machines()) {
    if (replicationIds.empty() ||
        std::find(replicationIds.begin(), replicationIds.end(), info->GetReplId()) != replicationIds.end()) {
      ctx.drInfoList.push_back(info);
    }
  }
  ctx.priority = ctx.drInfoList.empty() ? nullptr : ctx.drInfoList.front()->GetPriority();
  return ctx;
}

void CVSALabFixture::Reload() {
  std::vector<CDRInfo*> machines = Machines();
  if (machines.empty() || machines.front()->getDataSource() == nullptr) return;
  SDataSourceInfo info;
  DRInfoUtils::GetReplIds(machines, info.replIds);
  ASSERT_TRUE(machines.front()->getDataSource()->ReloadData(info));
}

void CVSALabFixture::Kill() { ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1)); }

void CVSALabFixture::Suspend() { ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 2)); }

long long CVSALabFixture::StartScheduledSync(int taskId, bool hang) {
  SChildJobSpec spec;
  spec.type = EChildJobType::kSync;
  spec.taskId = taskId;
  spec.hang = hang;
  const long long id = CJobSimulator::StartJob(spec);
  EXPECT_NE(0, id);
  return id;
}

long long CVSALabFixture::StartScheduledBackup(int subclientId, bool hang) {
  SChildJobSpec spec;
  spec.type = EChildJobType::kBackup;
  spec.applicationId = subclientId;
  spec.hang = hang;
  const long long id = CJobSimulator::StartJob(spec);
  EXPECT_NE(0, id);
  return id;
}

void CVSALabFixture::PlantFault(int opType, const std::string& vm, ELabFault kind, int fromCall, int toCall, int code,
                                const std::string& text) {
  drtest::AddLabFault(kind, opType, vm, fromCall, toCall, code, text);
}

const SVSALabVM& CVSALabFixture::VM(int replicationId) const {
  for (const SVSALabVM& vm : m_vms) {
    if (vm.replicationId == replicationId) return vm;
  }
  ADD_FAILURE() << "no replication " << replicationId;
  return m_vms.front();
}

std::vector<int> CVSALabFixture::ReplicationIdsOfGroup(int subclientId) const {
  std::vector<int> out;
  for (const SVSALabVM& vm : m_vms) {
    if (vm.subclientId == subclientId) out.push_back(vm.replicationId);
  }
  return out;
}

std::vector<int> CVSALabFixture::TaskIdsOfGroup(int subclientId) const {
  std::set<int> out;
  for (const SVSALabVM& vm : m_vms) {
    if (vm.subclientId == subclientId) out.insert(vm.taskId);
  }
  return std::vector<int>(out.begin(), out.end());
}

std::vector<SPhaseRowRecord> CVSALabFixture::JobRows() {
  std::vector<SPhaseRowRecord> rows;
  EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(kJob, rows));
  return rows;
}

SPhaseRowRecord CVSALabFixture::RowOf(int replicationId, int phase) {
  for (const SPhaseRowRecord& row : JobRows()) {
    if (row.replicationId == replicationId && row.phase == phase) return row;
  }
  SPhaseRowRecord none;
  none.replicationId = replicationId;
  none.phase = -1;
  none.status = -1;
  return none;
}

std::vector<SPhaseRowRecord> CVSALabFixture::RowsOfPhase(int phase) {
  std::vector<SPhaseRowRecord> out;
  for (const SPhaseRowRecord& row : JobRows()) {
    if (row.phase == phase) out.push_back(row);
  }
  return out;
}

namespace {

// A row RowOf did not find has nothing to read: the check fails.
bool Missing(const SPhaseRowRecord& row) {
  if (row.phase != -1) return false;
  ADD_FAILURE() << "replication " << row.replicationId << " has no such phase row";
  return true;
}

}  // namespace

long long CVSALabFixture::JobOf(const SPhaseRowRecord& row) {
  if (Missing(row)) return -1;
  Api::VirtualAppPhaseInfo info;
  if (row.details.empty() || !info.Unserialize(row.details)) return 0;
  if (info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0) return 0;
  return info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0).GetInt64(Api::VirtualAppJobInfo::kJobId);
}

std::string CVSALabFixture::MessageOf(const SPhaseRowRecord& row) {
  if (Missing(row)) return "<no row>";
  Api::VirtualAppPhaseInfo info;
  if (row.details.empty() || !info.Unserialize(row.details)) return std::string();
  if (info.ListSize(Api::VirtualAppPhaseInfo::kJobInfos) == 0) return std::string();
  return info.GetListMsg(Api::VirtualAppPhaseInfo::kJobInfos, 0)
      .GetMsg(Api::VirtualAppJobInfo::kMessage)
      .GetString(Api::GenericResp::kText);
}

std::vector<int> CVSALabFixture::PhaseUpdates(int replicationId, int phase) {
  std::vector<int> states;
  for (const STappedRequest& tapped : CRequestTap::Taken()) {
    if (tapped.entry != "sp" || tapped.messageType != Api::VirtualAppJobUpdateReq::kTypeId) continue;
    Api::VirtualAppJobUpdateReq request;
    if (!request.Unserialize(tapped.request)) continue;
    for (size_t j = 0; j < request.ListSize(Api::VirtualAppJobUpdateReq::kJobs); ++j) {
      const CNMessageBase& job = request.GetListMsg(Api::VirtualAppJobUpdateReq::kJobs, j);
      if (job.GetInt32(Api::VirtualAppJob::kReplicationId) != replicationId) continue;
      for (size_t p = 0; p < job.ListSize(Api::VirtualAppJob::kPhases); ++p) {
        const CNMessageBase& entry = job.GetListMsg(Api::VirtualAppJob::kPhases, p);
        if (entry.GetInt32(Api::VirtualAppJobPhase::kPhaseType) == phase) {
          states.push_back(entry.GetInt32(Api::VirtualAppJobPhase::kPhaseState));
        }
      }
    }
  }
  return states;
}

App::VSAReplicationInfo CVSALabFixture::Stored(int replicationId) {
  App::VSAReplicationInfo info;
  EXPECT_TRUE(CReplicationStore::Get(replicationId, info)) << "replication " << replicationId;
  return info;
}

std::string CVSALabFixture::StoredProperty(int replicationId, int propertyId, bool* found) {
  const App::VSAReplicationInfo info = Stored(replicationId);
  if (found != nullptr) *found = false;
  for (size_t i = 0; i < info.ListSize(App::VSAReplicationInfo::kProperties); ++i) {
    const CNMessageBase& p = info.GetListMsg(App::VSAReplicationInfo::kProperties, i);
    if (p.GetInt32(App::VSAReplicationProperties::kPropertyId) != propertyId) continue;
    if (found != nullptr) *found = true;
    return p.GetString(App::VSAReplicationProperties::kValue);
  }
  // A caller that does not ask whether it is there expects it.
  if (found == nullptr) ADD_FAILURE() << "replication " << replicationId << " has no property " << propertyId;
  return std::string();
}

void CVSALabFixture::Change(int replicationId, const std::function<void(App::VSAReplicationInfo&)>& fields) {
  App::VSAReplicationInfo partial;
  partial.SetInt32(App::VSAReplicationInfo::kReplicationId, replicationId);
  fields(partial);
  std::string error;
  ASSERT_EQ(0, CReplicationStore::Merge(partial, error)) << error;
}

int CVSALabFixture::StoredSyncStatus(int replicationId) {
  return Stored(replicationId).GetInt32(App::VSAReplicationInfo::kSyncStatus);
}

int CVSALabFixture::StoredFailoverStatus(int replicationId) {
  return Stored(replicationId).GetInt32(App::VSAReplicationInfo::kFailoverStatus);
}

SLabVM CVSALabFixture::SourceVM(int replicationId) const {
  SLabVM vm;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kSourceInstance, VM(replicationId).sourceGuid, vm));
  return vm;
}

SLabVM CVSALabFixture::DRVM(int replicationId) const {
  SLabVM vm;
  SLabReplica replica;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetReplica(replicationId, replica));
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kDestInstance, replica.destGuid, vm));
  return vm;
}

std::vector<SLabSnapshot> CVSALabFixture::Snapshots(int replicationId, int site) const {
  std::vector<SLabSnapshot> snaps;
  const SVSALabVM& vm = VM(replicationId);
  EXPECT_EQ(EStoreResult::kOk, site == 0 ? CHypervisorLab::Snapshots(kSourceInstance, vm.sourceGuid, snaps)
                                         : CHypervisorLab::Snapshots(kDestInstance, vm.destGuid, snaps));
  return snaps;
}

std::string CVSALabFixture::AddSnapshot(int replicationId, int site, const std::string& name, long long content) {
  const SVSALabVM& vm = VM(replicationId);
  SLabSnapshot snap;
  snap.instanceId = site == 0 ? kSourceInstance : kDestInstance;
  snap.vmGuid = site == 0 ? vm.sourceGuid : vm.destGuid;
  snap.name = name;
  snap.content = content;
  EXPECT_TRUE(CHypervisorLab::AddSnapshot(snap));
  return snap.ref;
}

std::vector<std::string> CVSALabFixture::SnapshotNames(int replicationId, int site) const {
  std::vector<std::string> names;
  for (const SLabSnapshot& snap : Snapshots(replicationId, site)) names.push_back(snap.name);
  return names;
}

std::vector<std::string> CVSALabFixture::SnapshotRequests(int opType) {
  std::vector<std::string> out;
  for (const STappedRequest& tapped : CRequestTap::Taken()) {
    if (tapped.entry != "vm" || static_cast<int>(tapped.messageType) != opType) continue;
    TMMsg::VMProvisioningOption option;
    if (!option.Unserialize(tapped.request)) continue;
    for (size_t i = 0; i < option.ListSize(TMMsg::VMProvisioningOption::kSnapOpRequests); ++i) {
      const CNMessageBase& snapshot =
          option.GetListMsg(TMMsg::VMProvisioningOption::kSnapOpRequests, i).GetMsg(Ida::VMSnapOpReq::kSnapshot);
      out.push_back(snapshot.GetMsg(Ida::VMSnapshot::kVMEntity).GetString(ZnEntities::VirtualMachineEntity::kGuid) +
                    " " + snapshot.GetString(Ida::VMSnapshot::kName) + " " +
                    snapshot.GetMsg(Ida::VMSnapshot::kReference).GetString(Ida::SnapshotReference::kMoref));
    }
  }
  return out;
}

std::unique_ptr<CDRInfo> CVSALabFixture::Orphan(int replicationId) {
  SDataSourceInfo info;
  info.replId = replicationId;
  SDRInfoCtx ctx(nullptr, info, *Priority());
  ctx.jobManager = m_jm.get();
  ctx.appManager = m_dr->GetDRAppMgr();
  return std::unique_ptr<CDRInfo>(new CDRInfo(ctx));
}

std::vector<SLabCall> CVSALabFixture::LabCalls(int opType) {
  std::vector<SLabCall> all, out;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(all));
  for (const SLabCall& call : all) {
    if (opType < 0 || call.opType == opType) out.push_back(call);
  }
  return out;
}

SVSALabSpec CVSALabFixture::FailedOverSpec(TMMsg::DROrchestrationType type, int n, SVSALabSpec spec) {
  spec.replications = n;
  spec.drType = type;
  spec.operationClasses = true;
  spec.failoverStatus = App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE;
  spec.syncStatus = App::VSA_REPL_STATUS_SYNC_DISABLED;
  return spec;
}

void CVSALabFixture::LeaveFailedOver() {
  for (const SVSALabVM& vm : VMs()) {
    SetPower(kSourceInstance, vm.sourceGuid, false);
    SetPower(kDestInstance, vm.destGuid, true);
    // The failover's post-DR step deleted the DR VM's backup snapshot.
    for (const SLabSnapshot& snap : Snapshots(vm.replicationId, 1)) {
      ASSERT_EQ(EStoreResult::kOk, CHypervisorStore::RemoveSnapshot(snap.ref));
    }
  }
}

void CVSALabFixture::SeedFailedOver(TMMsg::DROrchestrationType type, int n, SVSALabSpec spec) {
  Seed(FailedOverSpec(type, n, std::move(spec)));
  LeaveFailedOver();
}

void CVSALabFixture::SetPower(long long instance, const std::string& guid, bool on) {
  SLabVM vm;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorStore::GetVM(instance, guid, vm));
  vm.poweredOn = on;
  ASSERT_TRUE(CHypervisorStore::PutVM(vm));
}

void CVSALabFixture::AddProperty(int replicationId, int propertyId, const std::string& value) {
  Change(replicationId, [&](App::VSAReplicationInfo& info) {
    CNMessageBase& p = info.AddMsg(App::VSAReplicationInfo::kProperties);
    p.SetInt32(App::VSAReplicationProperties::kPropertyId, propertyId);
    p.SetString(App::VSAReplicationProperties::kValue, value);
  });
}

void CVSALabFixture::StoreFailbackSchedule(int taskId, const std::vector<int32_t>& replicationIds) {
  TMMsg::TaskInfo task;
  task.MutableMsg(TMMsg::TaskInfo::kTask).SetInt32(TMMsg::TaskObjectFields::kTaskId, taskId);
  task.AddMsg(TMMsg::TaskInfo::kSubTasks)
      .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
      .MutableMsg(TMMsg::JobOption::kBackupOptions)
      .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption)
      .MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
      .SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, replicationIds);
  ASSERT_TRUE(CTaskStore::PutTask(taskId, ETaskKind::kSchedule, task));
}
