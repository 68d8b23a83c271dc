// A lab for the VM DR context tests: stored VM replications loaded through a
// real VM data source into machine records that an orchestrator adopted, a
// DR job with its job manager, virtualization instances with host names, a
// context whose operation-class hooks record their calls, and a small
// scripted hypervisor behind the VM operation library's entry.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "TestSupport.h"
#include "core/JobContext.h"
#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "engine/TestStepContext.h"
#include "jobs/JobStore.h"
#include "jobs/TaskStore.h"
#include "vm/VmOperation.h"
#include "vsa/SDRVMThread.h"
#include "vsa/VSADRBase.h"
#include "vsa/VSARepInfo.h"
#include "appmgr/InstancePropStore.h"

// One call the hypervisor received.
struct SVMOpCall {
  int opType = 0;
  TMMsg::VMProvisioningOption option;
  Ida::VMOpReq request;
  int64_t proxy = 0;
  bool retry = false;
  int timeSeconds = 0;
};

// Answers every VM operation type while it lives. By default an operation
// succeeds through proxy kDefaultProxy and answers with the VM it was asked
// about; a test scripts failures, renames, snapshot references, created VMs
// and hangs.
class CFakeHypervisor {
 public:
  static constexpr int64_t kDefaultProxy = 31;

  CFakeHypervisor() {
    auto handler = [this](TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request, Ida::VMOpResp& response,
                          int seconds, bool retry) { return Answer(option, request, response, seconds, retry); };
    const int types[] = {VmOperation::kAnyOperation, 0, 2, 3, 4, 5, 6, 10, 15, 16, 20, 29, 46, 47, 50, 52, 55, 56, 57,
                         58, 62};
    for (int type : types) m_scopes.emplace_back(new CScopedHandler<int, VmOperationHandler>(
                               VmOperation::Handlers(), type, handler));
  }
  ~CFakeHypervisor() {
    Release();
    m_scopes.clear();
  }

  // The next answers of an operation type, in order; then success.
  void Script(int opType, const std::vector<int>& codes, const std::string& text = "failed by the lab") {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int code : codes) m_script[opType].push_back(code);
    m_errorText = text;
  }
  // Every call about the VM (by GUID) fails with the code.
  void FailVM(const std::string& guid, int code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_vmFailures[guid] = code;
  }
  // Every call through the proxy fails with the code.
  void FailThrough(int64_t proxy, int code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_proxyFailures[proxy] = code;
  }
  // Successful answers name the VM so (empty: as asked).
  void RenameTo(const std::string& name, const std::string& guid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_renameName = name;
    m_renameGuid = guid;
  }
  void SnapshotRef(const std::string& moref) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_snapRef = moref;
  }
  void CreatedVM(const std::string& name, const std::string& guid) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_createdName = name;
    m_createdGuid = guid;
  }
  // Calls of the operation type block until Release.
  void HangOn(int opType) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hangOp = opType;
    m_released = false;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_cv.notify_all();
  }
  bool Hanging() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hanging > 0;
  }
  // Calls that have returned their answer.
  int Answered() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_answered;
  }
  // Runs on the calling thread as each call arrives, before it is answered.
  std::function<void(const SVMOpCall&)> onCall;

  std::vector<SVMOpCall> Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  size_t Count(int opType) {
    size_t n = 0;
    for (const SVMOpCall& c : Calls()) n += c.opType == opType ? 1 : 0;
    return n;
  }

 private:
  int Answer(TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request, Ida::VMOpResp& response, int seconds,
             bool retry) {
    SVMOpCall call;
    call.opType = option.GetInt32(TMMsg::VMProvisioningOption::kOperationType);
    call.option = option;
    call.request = request;
    call.proxy = request.Has(Ida::VMOpReq::kProxyClientId) ? request.GetInt64(Ida::VMOpReq::kProxyClientId)
                                                           : kDefaultProxy;
    call.retry = retry;
    call.timeSeconds = seconds;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_calls.push_back(call);
    }
    if (onCall) onCall(call);
    int rc = 0;
    std::string text;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (call.opType == m_hangOp && !m_released) {
        ++m_hanging;
        // Real time: the operation hangs at the proxy, not on the job's clock.
        // Only a forgotten Release meets the cap: a test asserts that the
        // hang outlasts whatever it waits for meanwhile.
        m_cv.wait_for(lock, std::chrono::milliseconds(drtest::kWatchdogMs), [this] { return m_released; });
        --m_hanging;
      }
      auto failing = m_proxyFailures.find(call.proxy);
      auto failingVM = m_vmFailures.find(GuidOf(request));
      std::deque<int>& queue = m_script[call.opType];
      if (failing != m_proxyFailures.end()) {
        rc = failing->second;
      } else if (failingVM != m_vmFailures.end()) {
        rc = failingVM->second;
      } else if (!queue.empty()) {
        rc = queue.front();
        queue.pop_front();
      }
      if (rc != 0) text = m_errorText;
      response = Ida::VMOpResp();
      CNMessageBase& error = response.MutableMsg(Ida::VMOpResp::kError);
      error.SetInt32(ZNGui::GenericResp::kErrorCode, rc);
      error.SetString(ZNGui::GenericResp::kErrorText, text);
      response.SetInt64(Ida::VMOpResp::kProxyClientId, call.proxy);
      if (rc == 0) Fill(call, request, response);
      ++m_answered;
    }
    return rc;
  }

  static const std::string& GuidOf(const Ida::VMOpReq& request) {
    return request.GetMsg(Ida::VMOpReq::kVirtualMachine)
        .GetMsg(Ida::VirtualMachine::kEntity)
        .GetString(ZnEntities::VirtualMachineEntity::kGuid);
  }

  void Fill(const SVMOpCall& call, const Ida::VMOpReq& request, Ida::VMOpResp& response) {
    using Entity = ZnEntities::VirtualMachineEntity;
    const CNMessageBase& asked =
        request.GetMsg(Ida::VMOpReq::kVirtualMachine).GetMsg(Ida::VirtualMachine::kEntity);
    CNMessageBase& vm = response.AddMsg(Ida::VMOpResp::kVirtualMachines);
    CNMessageBase& entity = vm.MutableMsg(Ida::VirtualMachine::kEntity);
    entity.SetString(Entity::kName, m_renameName.empty() ? asked.GetString(Entity::kName) : m_renameName);
    entity.SetString(Entity::kGuid, m_renameGuid.empty() ? asked.GetString(Entity::kGuid) : m_renameGuid);
    vm.SetString(Ida::VirtualMachine::kIpAddress, "10.0.0.7");
    if (call.opType == TMMsg::VM_OPERATION_CREATE_SNAPSHOT) {
      response.AddMsg(Ida::VMOpResp::kSnapshots)
          .MutableMsg(Ida::VMSnapshot::kReference)
          .SetString(Ida::SnapshotReference::kMoref, m_snapRef);
    }
    if (!m_createdName.empty() && (call.opType == 0 || call.opType == 6 || call.opType == 50)) {
      CNMessageBase& created = response.MutableMsg(Ida::VMOpResp::kCreatedVM);
      created.SetString(Entity::kName, m_createdName);
      created.SetString(Entity::kGuid, m_createdGuid);
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_cv;
  std::vector<std::unique_ptr<CScopedHandler<int, VmOperationHandler>>> m_scopes;
  std::vector<SVMOpCall> m_calls;
  std::map<int, std::deque<int>> m_script;
  std::map<int64_t, int> m_proxyFailures;
  std::map<std::string, int> m_vmFailures;
  std::string m_errorText = "failed by the lab";
  std::string m_renameName, m_renameGuid;
  std::string m_snapRef = "snap-1";
  std::string m_createdName, m_createdGuid;
  int m_hangOp = -1000;
  bool m_released = true;
  int m_hanging = 0;
  int m_answered = 0;
};

// The context as an operation class sees it, with the class hooks recorded
// (from any thread).
class CRecordingVSAContext : public CVSADRBase {
 public:
  explicit CRecordingVSAContext(IDROrchestrator& orchestrator) : CVSADRBase(orchestrator) {}

  std::set<int> refusedFailoverStatuses;
  std::set<int> refusedSyncStatuses;

  std::vector<std::string> Hooks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_hooks;
  }
  bool Hooked(const std::string& hook) {
    std::vector<std::string> all = Hooks();
    return std::find(all.begin(), all.end(), hook) != all.end();
  }

  bool Sync(SDROperationCtx& ctx) override {
    Hook("Sync:" + DRInfoUtils::GetReplStr(ctx.drInfoList));
    return true;
  }
  bool Backup(SDROperationCtx& ctx) override {
    Hook("Backup:" + DRInfoUtils::GetReplStr(ctx.drInfoList));
    return true;
  }
  bool Failover(SDROperationCtx& ctx) override {
    Hook("Failover:" + DRInfoUtils::GetReplStr(ctx.drInfoList));
    return true;
  }
  bool CleanupDROperationThread(SDROperationCtx& ctx) override {
    Hook("Cleanup:" + DRInfoUtils::GetReplStr(ctx.drInfoList));
    return true;
  }
  bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) override {
    Hook("Persist:" + std::to_string(info->GetReplId()) + ":" + std::to_string(site) + ":" + moref);
    return true;
  }
  bool IsPermisableFailoverStateForJob(App::VSAFailoverStatus status) override {
    return refusedFailoverStatuses.count(status) == 0;
  }
  bool IsPermisableSyncStateForJob(App::VSAReplicationStatus status) override {
    return refusedSyncStatuses.count(status) == 0;
  }

 private:
  void Hook(const std::string& hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hooks.push_back(hook);
  }
  std::mutex m_mutex;
  std::vector<std::string> m_hooks;
};

// One VM replication of the lab.
struct SContextVM {
  int id = 1;
  int sourceVendor = 1;
  int destVendor = 1;
  bool tools = true;
  int taskId = 0;
  int failoverStatus = 0;
  int syncStatus = 1;
  int sourceClientId = 0;       // property 2221 when set
  bool copyPrecedence = false;  // reads from a storage copy
  int trackingIds = 0;          // replicated disks
  std::string destSnapMoref;    // property 2213 when set
  bool destIdentity = true;     // the DR VM's name and GUID are known
};

class CVSAContextTestBase : public CDRRecordsTestBase {
 protected:
  static constexpr int kSourceInstance = 10;
  static constexpr int kDestInstance = 20;

  void SetUp() override {
    CDRRecordsTestBase::SetUp();
    CJobContext::SetCurrentJobId(kJob);
    CPlatformClock::Instance().SetRecording(true);
    HostOf(kSourceInstance, "vcenter-src");
    HostOf(kDestInstance, "vcenter-dst");
  }
  void TearDown() override {
    // A worker a quit left behind must be done with the hypervisor first.
    if (m_hypervisor) m_hypervisor->Release();
    EXPECT_TRUE(drtest::Eventually([] { return SDRVMTHread::Live() == 0; }));
    m_ctx.reset();
    m_dr.reset();
    m_source.reset();
    m_hypervisor.reset();
    m_jm.reset();
    CJobContext::SetCurrentJobId(0);
    CDRRecordsTestBase::TearDown();
  }

  static void HostOf(int instanceId, const std::string& host) {
    ASSERT_TRUE(CInstancePropStore::SetAttribute(instanceId, "Virtual Server Host", host));
  }

  static SContextVM Lab(int id) {
    SContextVM vm;
    vm.id = id;
    return vm;
  }

  static App::VSAReplicationInfo Vm(const SContextVM& vm) {
    using Info = App::VSAReplicationInfo;
    Info info = Repl(vm.id, vm.destVendor, "", vm.taskId);
    info.SetInt32(Info::kSourceVendor, vm.sourceVendor);
    info.SetInt32(Info::kToolsInstalled, vm.tools ? 1 : 0);
    info.SetInt32(Info::kFailoverStatus, vm.failoverStatus);
    info.SetInt32(Info::kSyncStatus, vm.syncStatus);
    info.SetInt32(Info::kCopyPrecedence, 2);
    info.SetInt32(Info::kCopyPrecedenceApplicable, vm.copyPrecedence ? 1 : 0);
    CNMessageBase& sub = info.MutableMsg(Info::kSubclient);
    sub.SetInt32(ZnEntities::SubClientEntity::kSubclientId, 100 + vm.id);
    sub.SetInt32(ZnEntities::SubClientEntity::kInstanceId, kSourceInstance);
    info.MutableMsg(Info::kDestinationInstance).SetInt32(ZnEntities::InstanceEntity::kInstanceId, kDestInstance);
    info.MutableMsg(Info::kReplicationTarget).SetInt32(ZnEntities::ReplicationTargetEntity::kTargetId, 77);
    Property(info, VSARepInfo::kPropHostName, "esx-of-dr-vm");
    if (vm.sourceClientId != 0) Property(info, VSARepInfo::kPropSourceVMClientId, std::to_string(vm.sourceClientId));
    if (!vm.destSnapMoref.empty()) Property(info, VSARepInfo::kPropDestSnapMoref, vm.destSnapMoref);
    for (int disk = 1; disk <= vm.trackingIds; ++disk) {
      CNMessageBase& t = info.AddMsg(Info::kTrackingIds);
      t.SetString(App::VSAReplicationTrakingIdInfo::kTrackingId, "disk-" + std::to_string(disk));
      t.SetString(App::VSAReplicationTrakingIdInfo::kIntegritySnapshot, "snap-of-disk-" + std::to_string(disk));
    }
    if (!vm.destIdentity) {
      info.ClearField(Info::kDestinationVMName);
      info.ClearField(Info::kDestinationVMGuid);
    }
    return info;
  }

  static void Property(App::VSAReplicationInfo& info, int id, const std::string& value) {
    CNMessageBase& p = info.AddMsg(App::VSAReplicationInfo::kProperties);
    p.SetInt32(App::VSAReplicationProperties::kPropertyId, id);
    p.SetString(App::VSAReplicationProperties::kValue, value);
  }

  // The DR job over the VMs: one priority whose VM sequence holds entries
  // (one per VM when none are given), its machine records adopted by the
  // orchestrator, and the context.
  std::vector<CDRInfo*> Load(const std::vector<SContextVM>& vms,
                             TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,
                             std::vector<TMMsg::VMDependencyOrder> entries = {}) {
    SDataSourceInfo info;
    info.jobId = kJob;
    info.drGroupId = kGroup;
    info.drType = type;
    const bool ownEntries = entries.empty();
    for (const SContextVM& vm : vms) {
      StoreRepl(Vm(vm), vm.taskId);
      info.replIds.push_back(vm.id);
      if (ownEntries) entries.push_back(Entry(vm.id));
    }
    PutGroup({Group(1, entries)});
    StartJob(JobOptions(false));
    m_source.reset(new CDRDataSource(info));
    EXPECT_TRUE(m_source->IsDataLoaded());
    m_priority = SDRPriority();
    m_priority.order = 1;
    m_priority.drGroupId = kGroup;
    m_priority.infoSource = TMMsg::DR_OP_SOURCE_VSA_REPLICATION;
    m_priority.vmGroup = Group(1, entries);
    m_dr.reset(new CStepTestDR(type));
    EXPECT_TRUE(CDRBaseTestPeer::StartUp(*m_dr, m_jm.get()));
    std::vector<CDRInfo*> machines;
    for (int id : info.replIds) {
      info.replId = id;
      SDRInfoCtx ctx(m_source.get(), info, m_priority);
      ctx.drType = type;
      ctx.jobManager = m_jm.get();
      ctx.appManager = m_dr->GetDRAppMgr();
      CDRInfo* record = new CDRInfo(ctx);
      CDRBaseTestPeer::AddInfo(*m_dr, record);
      m_priority.replIds.push_back(id);
      machines.push_back(record);
    }
    m_ctx.reset(new CRecordingVSAContext(*m_dr));
    if (!m_hypervisor) m_hypervisor.reset(new CFakeHypervisor());
    return machines;
  }

  // A context over the machines, as the operation classes make them.
  SDROperationCtx Ctx(const std::vector<CDRInfo*>& machines) {
    SDROperationCtx ctx;
    ctx.drInfoList = machines;
    ctx.priority = &m_priority;
    return ctx;
  }

  static VSARepInfo* Rec(CDRInfo* info) { return DRInfoUtils::GetVSARepInfo(info); }

  // The stored phase rows of a phase.
  static std::vector<SPhaseRow> Rows(int phase) {
    std::vector<SPhaseRow> out;
    for (const SPhaseRow& row : PhaseRows())
      if (row.phase == phase) out.push_back(row);
    return out;
  }
  // The status of the one row of a replication's phase; -1 when none.
  static int RowStatus(int replId, int phase) {
    for (const SPhaseRow& row : PhaseRows())
      if (row.replicationId == replId && row.phase == phase) return row.status;
    return -1;
  }

  static bool LoggedError(const std::string& fragment) {
    for (const SLogLine& line : CLogSink::Instance().Captured()) {
      if (line.level == 0 && line.text.find(fragment) != std::string::npos) return true;
    }
    return false;
  }

  // The DR job's quit flag, as the job controller sets it for a kill.
  static void Kill() { ASSERT_EQ(EStoreResult::kOk, CJobStore::SetControlOperation(kJob, 1)); }

  // A replication task whose restore options place the named VMs; with
  // deployAtFailover the DR VM is created at failover.
  static void PutPlacementTask(int taskId, const std::string& vmName, bool deployAtFailover,
                               const std::string& newVMName = "") {
    TMMsg::TaskInfo task;
    CNMessageBase& options = NewVMRestoreOptions(task);
    if (deployAtFailover) options.SetInt32(TMMsg::DiskLevelVMRestoreOption::kDeployVMAtFailover, 1);
    CNMessageBase& vm = options.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions);
    vm.SetString(TMMsg::VMWAdvancedRestoreOptions::kVMName, vmName);
    vm.SetString(TMMsg::VMWAdvancedRestoreOptions::kEsxHost, "esx-7");
    vm.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatastore, "ds-7");
    vm.SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, "dc-7");
    vm.SetString(TMMsg::VMWAdvancedRestoreOptions::kCluster, "cluster-7");
    if (!newVMName.empty()) vm.SetString(TMMsg::VMWAdvancedRestoreOptions::kNewVMName, newVMName);
    ASSERT_TRUE(CTaskStore::PutTask(taskId, Xml(task)));
  }

  SDRPriority m_priority;
  std::unique_ptr<CDRDataSource> m_source;
  std::unique_ptr<CStepTestDR> m_dr;
  std::unique_ptr<CRecordingVSAContext> m_ctx;
  std::unique_ptr<CFakeHypervisor> m_hypervisor;
};
