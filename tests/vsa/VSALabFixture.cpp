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
#include "jobsim/StoragePolicyStore.h"
#include "sim/Simulators.h"
#include "vm/HypervisorStore.h"
#include "vsa/VSARepInfo.h"
#include "vsa/VSAReplDataMgr.h"

namespace {

SLabInstance Site(long long id, const std::string& name, int vendor, char letter) {
  SLabInstance site;
  site.id = id;
  site.name = name;
  site.vendor = vendor;
  site.host = "hv-" + name + ".lab";
  site.user = "lab-admin";
  site.clientId = static_cast<int>(id);
  SLabRegion region;
  region.name = std::string("dc-") + letter;
  region.datastores = {std::string("ds-") + letter + "1"};
  region.networks = {SLabNetwork{std::string("net-") + letter, {"10.0.0.0/24"}}};
  region.sizes = {SLabVMSize{"Standard_B1s", 1, 1024, 2}};
  site.regions = {region};
  return site;
}

}  // namespace

SLabVM vsalab::LabVM(long long instanceId, const std::string& guid, const std::string& name, char letter) {
  SLabVM vm;
  vm.instanceId = instanceId;
  vm.guid = guid;
  vm.name = name;
  vm.host = std::string("esx-") + letter + "1";
  vm.datastores = {std::string("ds-") + letter + "1"};
  vm.nics = {SLabNic{std::string("net-") + letter, true}};
  vm.size = "Standard_B1s";
  vm.diskSizeMB = 10240;
  return vm;
}

void vsalab::SeedSites(long long sourceInstance, long long destInstance, int sourceVendor, int destVendor) {
  ASSERT_TRUE(CHypervisorLab::AddInstance(Site(sourceInstance, "site-a", sourceVendor, 'a')));
  ASSERT_TRUE(CHypervisorLab::AddInstance(Site(destInstance, "site-b", destVendor, 'b')));
  const struct {
    long long clientId;
    long long instanceId;
    const char* name;
    int position;
  } proxies[] = {{31, sourceInstance, "proxy-a1", 1},
                 {32, sourceInstance, "proxy-a2", 2},
                 {41, destInstance, "proxy-b1", 1},
                 {42, destInstance, "proxy-b2", 2}};
  for (const auto& p : proxies) {
    SLabProxy proxy;
    proxy.clientId = p.clientId;
    proxy.name = p.name;
    proxy.installDirectory = "/opt/drlab";
    proxy.instances = {SLabProxyInstance{p.instanceId, p.position}};
    ASSERT_TRUE(CHypervisorLab::AddProxy(proxy));
  }
}

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

void CVSALabFixture::Seed(const SVSALabSpec& spec) {
  m_spec = spec;
  m_vms.clear();
  vsalab::SeedSites(kSourceInstance, kDestInstance, spec.sourceVendor, spec.destVendor);

  // The replications, group by group, and their tasks.
  const int groups = std::max(1, spec.subclientGroups);
  const int tasks = std::max(1, spec.tasksPerGroup);
  const int priorities = std::max(1, std::min(spec.priorities, groups));
  std::vector<std::vector<TMMsg::VMDependencyOrder>> entries(priorities);
  for (int i = 0; i < spec.replications; ++i) {
    const int group = i * groups / spec.replications;
    const int first = (group * spec.replications + groups - 1) / groups;
    SVSALabVM vm;
    vm.replicationId = kFirstReplication + i;
    vm.subclientId = kFirstSubclient + group;
    vm.taskId = kFirstTask + group * 10 + (i - first) % tasks;
    vm.sourceClientId = kSourceClientBase + vm.replicationId;
    const std::string id = std::to_string(vm.replicationId);
    vm.sourceGuid = "src-" + id;
    vm.sourceName = "vm-" + id;
    vm.destGuid = spec.drVMs ? "dst-" + id : std::string();
    vm.destName = "vm-" + id + "-DR";
    m_vms.push_back(vm);
    entries[group * priorities / groups].push_back(Entry(vm.replicationId, -1, vm.sourceName));
  }

  std::set<int> subclients, taskIds;
  for (const SVSALabVM& vm : m_vms) {
    subclients.insert(vm.subclientId);
    taskIds.insert(vm.taskId);
  }
  for (int subclient : subclients) {
    SStoragePolicy policy;
    policy.policyId = 50 + subclient;
    policy.copies = {SStorageCopy{policy.policyId * 10 + 1, 1, true, true},
                     SStorageCopy{policy.policyId * 10 + 2, 2, false, false}};
    ASSERT_TRUE(CStoragePolicyStore::PutPolicy(policy));
    ASSERT_TRUE(CStoragePolicyStore::AssignSubclient(SSubclientPolicy{subclient, policy.policyId, false}));
  }
  for (int taskId : taskIds) {
    TMMsg::TaskInfo task;
    CNMessageBase& options = NewVMRestoreOptions(task);
    options.SetInt32(TMMsg::DiskLevelVMRestoreOption::kDeployVMAtFailover, spec.deployAtFailover ? 1 : 0);
    options.SetInt32(TMMsg::DiskLevelVMRestoreOption::kFirstSyncDuringFailover, spec.firstTimeSyncDuringFailover ? 1 : 0);
    if (spec.jobBucketing > 0) options.SetInt32(TMMsg::DiskLevelVMRestoreOption::kJobBucketingInSync, spec.jobBucketing);
    if (std::count(spec.replicaSyncDirectTasks.begin(), spec.replicaSyncDirectTasks.end(), taskId) > 0) {
      task.MutableListMsg(TMMsg::TaskInfo::kSubTasks, 0)
          .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
          .MutableMsg(TMMsg::JobOption::kRestoreOptions)
          .SetInt32(TMMsg::RestoreOptionFields::kReplicaSyncDirect, 1);
    }
    for (const SVSALabVM& vm : m_vms) {
      if (vm.taskId != taskId) continue;
      CNMessageBase& placement = options.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
      placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kVMName, vm.sourceName);
      placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kNewVMName, vm.destName);
      placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, "esx-b1");
      placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatastore, "ds-b1");
      placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, "dc-b");
      placement.SetString(TMMsg::VMWAdvancedRestoreOptions::kCluster, "cluster-b");
    }
    ASSERT_TRUE(CTaskStore::PutTask(taskId, ETaskKind::kSchedule, task));
  }

  using Info = App::VSAReplicationInfo;
  for (const SVSALabVM& vm : m_vms) {
    const std::string id = std::to_string(vm.replicationId);
    SLabVM source = vsalab::LabVM(kSourceInstance, vm.sourceGuid, vm.sourceName, 'a');
    source.poweredOn = true;
    source.content = vm.replicationId;
    source.clientId = vm.sourceClientId;
    source.ip = "10.1.0." + std::to_string(vm.replicationId % 200);
    ASSERT_TRUE(CHypervisorLab::AddVM(source));
    SLabReplica replica;
    replica.replicationId = vm.replicationId;
    replica.sourceInstanceId = kSourceInstance;
    replica.sourceGuid = vm.sourceGuid;
    replica.destInstanceId = kDestInstance;
    replica.destName = vm.destName;
    if (spec.drVMs) {
      SLabVM dr = vsalab::LabVM(kDestInstance, vm.destGuid, vm.destName, 'b');
      dr.content = source.content;
      dr.ip = "10.2.0." + std::to_string(vm.replicationId % 200);
      ASSERT_TRUE(CHypervisorLab::AddVM(dr));
      SLabSnapshot backup;
      backup.instanceId = kDestInstance;
      backup.vmGuid = dr.guid;
      backup.name = CHypervisorLab::kBackupSnapshotName;
      backup.content = dr.content;
      ASSERT_TRUE(CHypervisorLab::AddSnapshot(backup));
      replica.destGuid = dr.guid;
      replica.backedUpContent = replica.syncedContent = source.content;
    }
    ASSERT_TRUE(CHypervisorLab::AddReplica(replica));

    Info info;
    info.SetInt32(Info::kReplicationId, vm.replicationId);
    info.SetString(Info::kReplicationGuid, "repl-" + id);
    info.SetString(Info::kSourceVMGuid, vm.sourceGuid);
    info.SetString(Info::kSourceVMName, vm.sourceName);
    if (spec.drVMs) info.SetString(Info::kDestinationVMGuid, vm.destGuid);
    info.SetString(Info::kDestinationVMName, vm.destName);
    CNMessageBase& subtask = info.MutableMsg(Info::kSubtask);
    subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, vm.taskId * 10);
    subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, vm.taskId);
    CNMessageBase& subclient = info.MutableMsg(Info::kSubclient);
    subclient.SetInt32(ZnEntities::SubClientEntity::kSubclientId, vm.subclientId);
    subclient.SetInt32(ZnEntities::SubClientEntity::kClientId, kClientId);
    subclient.SetInt32(ZnEntities::SubClientEntity::kInstanceId, static_cast<int32_t>(kSourceInstance));
    CNMessageBase& destination = info.MutableMsg(Info::kDestinationInstance);
    destination.SetInt32(ZnEntities::InstanceEntity::kInstanceId, static_cast<int32_t>(kDestInstance));
    destination.SetInt32(ZnEntities::InstanceEntity::kClientId, static_cast<int32_t>(kDestInstance));
    CNMessageBase& proxy = info.MutableMsg(Info::kDestinationProxy);
    proxy.SetInt64(ZnEntities::ClientEntity::kClientId, 41);
    proxy.SetString(ZnEntities::ClientEntity::kClientName, "proxy-b1");
    info.MutableMsg(Info::kReplicationTarget).SetInt32(ZnEntities::ReplicationTargetEntity::kTargetId, 301);
    CNMessageBase& tracking = info.AddMsg(Info::kTrackingIds);
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kDiskName, vm.sourceName + "-disk-0");
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, "trk-" + id);
    tracking.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot, "isnap-" + id);
    CNMessageBase& client = info.AddMsg(Info::kProperties);
    client.SetInt32(App::VSAReplicationProperties::kPropertyId, VSARepInfo::kPropSourceVMClientId);
    client.SetString(App::VSAReplicationProperties::kValue, std::to_string(vm.sourceClientId));
    info.SetInt32(Info::kSyncStatus, spec.syncStatus);
    info.SetInt32(Info::kFailoverStatus, spec.failoverStatus);
    info.SetInt32(Info::kDestinationVendor, spec.destVendor);
    info.SetInt32(Info::kSourceVendor, spec.sourceVendor);
    info.SetInt32(Info::kToolsInstalled, 1);
    if (spec.indexingV2) info.SetInt32(Info::kIndexingV2, 1);
    StoreRepl(info, vm.taskId);
  }

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
