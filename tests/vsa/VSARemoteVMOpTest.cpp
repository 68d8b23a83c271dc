// Remote VM operations of the VM DR context against a scripted hypervisor:
// the phase rows around each call, skipped operations, the retries on a
// proxy that cannot be reached and the job's quit during them, answers
// under another name, and the worker thread of a primary's power-on.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "TestThread.h"
#include "vm/HypervisorLab.h"
#include "vsa/VSAContextTestSupport.h"

namespace {

using drtest::Eventually;

class VSARemoteVMOps : public CVSAContextTestBase {
 protected:
  // Power-off of the primary, the machines' first step.
  bool PowerOffPrimary(const std::vector<CDRInfo*>& machines, bool ignoreQuit = false) {
    SDROperationCtx ctx = Ctx(machines);
    ctx.ignoreQuit = ignoreQuit;
    return m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_OFF_PRIMARY, false);
  }
  static size_t MinuteWaits() { return CPlatformClock::Instance().CountWaits(60000); }
};

TEST_F(VSARemoteVMOps, EachMachinesRowIsInProgressDuringItsCallAndEndsWithItsOutcome) {
  std::vector<CDRInfo*> m = Load({Lab(1), Lab(2)});
  std::mutex mutex;
  std::map<std::string, int> statusDuringCall;
  m_hypervisor->onCall = [&](const SVMOpCall& call) {
    const std::string guid = call.request.GetMsg(Ida::VMOpReq::kVirtualMachine)
                                 .GetMsg(Ida::VirtualMachine::kEntity)
                                 .GetString(ZnEntities::VirtualMachineEntity::kGuid);
    const int id = guid == "dst-guid-1" ? 1 : 2;
    std::lock_guard<std::mutex> lock(mutex);
    statusDuringCall[guid] = RowStatus(id, Api::VIRTUAL_APP_PHASE_POWER_ON);
  };
  m_hypervisor->FailVM("dst-guid-2", 7);

  SDROperationCtx ctx = Ctx(m);
  // One of two machines powered on: the step succeeds for the survivor.
  EXPECT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, false));

  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, statusDuringCall["dst-guid-1"]);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS, statusDuringCall["dst-guid-2"]);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(2, Api::VIRTUAL_APP_PHASE_POWER_ON));
  EXPECT_TRUE(
      LoggedError("[Power On] on VM [vm2-DR] GUID [dst-guid-2] failed with retcode [7] and error [failed by the lab]"));
  for (const SPhaseRow& row : Rows(Api::VIRTUAL_APP_PHASE_POWER_ON)) {
    EXPECT_EQ(row.replicationId == 2, row.details.find("failed by the lab") != std::string::npos) << row.details;
  }
  // The failed machine's body is cleaned up; the other's is not.
  EXPECT_EQ(std::vector<std::string>{"Cleanup:2"}, m_ctx->Hooks());
  EXPECT_TRUE(m[1]->GetLastPhase().state == Api::VIRTUAL_APP_PHASE_STATE_FAILED);

  // What the proxy was asked: the DR VM at the destination instance, for
  // this DR job, with the full time and the retry switch.
  ASSERT_EQ(2u, m_hypervisor->Calls().size());
  for (const SVMOpCall& call : m_hypervisor->Calls()) {
    EXPECT_EQ(TMMsg::VM_OPERATION_POWER_ON, call.opType);
    EXPECT_EQ(kDestInstance,
              call.request.GetMsg(Ida::VMOpReq::kInstance).GetInt64(ZnEntities::PolicyInstanceFields::kInstanceId));
    EXPECT_EQ(kJob, call.request.GetInt64(Ida::VMOpReq::kJobId));
    EXPECT_FALSE(call.request.Has(Ida::VMOpReq::kFlags)) << "the VMs have tools";
    EXPECT_EQ("vcenter-dst", call.request.GetMsg(Ida::VMOpReq::kVirtualMachine)
                                 .GetMsg(Ida::VirtualMachine::kPlacement)
                                 .GetString(Ida::VMPlacement::kInstanceHostName));
    EXPECT_EQ(1800, call.timeSeconds);
    EXPECT_TRUE(call.retry);
  }
}

TEST_F(VSARemoteVMOps, ASkippedOperationSucceedsWithoutACallAndWithoutARow) {
  SContextVM vm = Lab(1);
  vm.destVendor = 4;  // takes no snapshots of its DR VMs
  std::vector<CDRInfo*> m = Load({vm});
  SDROperationCtx ctx = Ctx(m);
  EXPECT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_SECONDARY, false));
  EXPECT_TRUE(
      LoggedError("SKIPPING [Create Snapshot] on VM [vm1-DR] GUID [dst-guid-1] as "
                  "[Operation not required for VSVendor type]."));
  EXPECT_TRUE(m_hypervisor->Calls().empty());
  EXPECT_TRUE(PhaseRows().empty());
}

TEST_F(VSARemoteVMOps, AProxyUnreachableSixTimesTakesFiveWaitsOfAMinuteAndFails) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->Script(TMMsg::VM_OPERATION_POWER_OFF, std::vector<int>(7, -100), "no proxy answered");
  EXPECT_FALSE(PowerOffPrimary(m));
  EXPECT_EQ(6u, m_hypervisor->Count(TMMsg::VM_OPERATION_POWER_OFF));
  EXPECT_EQ(5u, MinuteWaits());
  EXPECT_TRUE(Logged("[Proxy connection failure. Wait before retry.]. Checking back in [60] seconds ..."));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_OFF));
  EXPECT_TRUE(LoggedError(
      "[Power Off] on VM [vm1] GUID [src-guid-1] failed with retcode [-100] and error [no proxy answered]"));
}

TEST_F(VSARemoteVMOps, AProxyReachedAtTheThirdCallTakesTwoWaits) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->Script(TMMsg::VM_OPERATION_POWER_OFF, {-100, -100});
  EXPECT_TRUE(PowerOffPrimary(m));
  EXPECT_EQ(3u, m_hypervisor->Count(TMMsg::VM_OPERATION_POWER_OFF));
  EXPECT_EQ(2u, MinuteWaits());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_OFF));
}

TEST_F(VSARemoteVMOps, AnotherFailureIsNotRetried) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->Script(TMMsg::VM_OPERATION_POWER_OFF, {13, -100});
  EXPECT_FALSE(PowerOffPrimary(m));
  EXPECT_EQ(1u, m_hypervisor->Count(TMMsg::VM_OPERATION_POWER_OFF));
  EXPECT_EQ(0u, MinuteWaits());
  EXPECT_TRUE(LoggedError("failed with retcode [13]"));
}

TEST_F(VSARemoteVMOps, AQuitStopsTheRetriesAndFailsTheMachine) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->Script(TMMsg::VM_OPERATION_POWER_OFF, std::vector<int>(6, -100));
  // The job is killed while the first call fails.
  m_hypervisor->onCall = [](const SVMOpCall&) { Kill(); };
  EXPECT_FALSE(PowerOffPrimary(m));
  EXPECT_EQ(1u, m_hypervisor->Count(TMMsg::VM_OPERATION_POWER_OFF));
  EXPECT_EQ(0u, MinuteWaits());
  EXPECT_TRUE(LoggedError("Quit retrying VMOperation as quit flag is set"));
  EXPECT_TRUE(LoggedError("[Power Off] on VM [vm1] GUID [src-guid-1] failed with retcode [-1]"));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_OFF));
}

TEST_F(VSARemoteVMOps, ACleanUpKeepsRetryingAfterAQuit) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  EXPECT_TRUE(PowerOffPrimary(m));
  m[0]->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_FAILED);
  Kill();
  m_hypervisor->Script(TMMsg::VM_OPERATION_POWER_ON, {-100, -100});
  m_ctx->PerformVMOperationOnFailure(m, Api::DR_SITE_SOURCE, Api::VIRTUAL_APP_PHASE_POWER_ON);
  EXPECT_EQ(3u, m_hypervisor->Count(TMMsg::VM_OPERATION_POWER_ON));
  EXPECT_EQ(2u, MinuteWaits());
}

TEST_F(VSARemoteVMOps, AVMAnsweredUnderAnotherNameIsRecordedUnderIt) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  SDROperationCtx ctx = Ctx(m);

  // Only the letter case differs: still the same VM.
  m_hypervisor->RenameTo("VM1-dr", "DST-GUID-1");
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, false));
  EXPECT_TRUE(Logged("[Power On] on VM [vm1-DR] GUID [dst-guid-1] successful with retcode [0]"));
  ASSERT_EQ(1u, Rows(Api::VIRTUAL_APP_PHASE_POWER_ON).size());
  EXPECT_EQ(std::string::npos, Rows(Api::VIRTUAL_APP_PHASE_POWER_ON)[0].details.find("VM1-dr"));

  m_hypervisor->RenameTo("vm1-renamed", "guid-new");
  ctx = Ctx(m);
  ASSERT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, false));
  EXPECT_TRUE(Logged("[Power On] on VM [vm1-renamed] GUID [guid-new] successful with retcode [0]"));
  const std::string details = Rows(Api::VIRTUAL_APP_PHASE_POWER_ON)[0].details;
  EXPECT_NE(std::string::npos, details.find("vm1-renamed")) << details;
  EXPECT_NE(std::string::npos, details.find("guid-new")) << details;
}

// ---- Retries through the instance's other proxies ----------------------------

class VSARemoteVMOpProxies : public VSARemoteVMOps {
 protected:
  static constexpr long long kInstance = 30;

  void SetUp() override {
    VSARemoteVMOps::SetUp();
    ASSERT_TRUE(CHypervisorLab::CreateTables());
    SLabInstance site;
    site.id = kInstance;
    site.name = "array-site";
    site.vendor = 1;
    ASSERT_TRUE(CHypervisorLab::AddInstance(site));
    // The first is the proxy an operation without one goes through.
    int position = 0;
    for (long long proxy : {static_cast<long long>(CFakeHypervisor::kDefaultProxy), 32LL, 33LL}) {
      SLabProxy p;
      p.clientId = proxy;
      p.name = "proxy-" + std::to_string(proxy);
      p.instances = {SLabProxyInstance{kInstance, ++position}};
      ASSERT_TRUE(CHypervisorLab::AddProxy(p));
    }
  }

  // A loaded power-on of the machine's DR VM at the instance.
  void Loaded(CDRInfo* info, SDROperationCtx& ctx, TMMsg::VMProvisioningOption& option, Ida::VMOpReq& request,
              long long instance = kInstance) {
    ctx = Ctx({info});
    ctx.site = Api::DR_SITE_DESTINATION;
    ctx.phase = Api::VIRTUAL_APP_PHASE_POWER_ON;
    ASSERT_TRUE(m_ctx->LoadVMOpReqOptions(ctx, info, request, option));
    request.MutableMsg(Ida::VMOpReq::kInstance).SetInt64(ZnEntities::PolicyInstanceFields::kInstanceId, instance);
    option.AppendMsg(TMMsg::VMProvisioningOption::kVMOpRequests, request);
  }

  static bool HeldElsewhere(SDROperationCtx&, Ida::VMOpResp& response) {
    return response.GetMsg(Ida::VMOpResp::kError).GetInt32(ZNGui::GenericResp::kErrorCode) ==
           VmOperation::kMountedThroughOtherProxy;
  }

  std::vector<long long> ProxiesCalled() {
    std::vector<long long> out;
    for (const SVMOpCall& call : m_hypervisor->Calls()) out.push_back(call.proxy);
    return out;
  }
};

TEST_F(VSARemoteVMOpProxies, AFailureTheCallerAcceptsMovesOnToEachProxyNotYetTriedThenStops) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  for (long long proxy : {31LL, 32LL, 33LL}) m_hypervisor->FailThrough(proxy, VmOperation::kMountedThroughOtherProxy);
  SDROperationCtx ctx;
  TMMsg::VMProvisioningOption option;
  Ida::VMOpReq request;
  Ida::VMOpResp response;
  Loaded(m[0], ctx, option, request);
  EXPECT_FALSE(m_ctx->PerformRemoteVMop(ctx, option, request, response, false, &HeldElsewhere));
  EXPECT_EQ((std::vector<long long>{31, 32, 33}), ProxiesCalled());
  EXPECT_EQ(0u, option.ListSize(TMMsg::VMProvisioningOption::kVMOpRequests)) << "emptied for the next proxy";
  for (const SVMOpCall& call : m_hypervisor->Calls()) EXPECT_FALSE(call.retry);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON));
}

TEST_F(VSARemoteVMOpProxies, TheNextProxyThatSucceedsEndsTheRound) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->FailThrough(31, VmOperation::kMountedThroughOtherProxy);
  SDROperationCtx ctx;
  TMMsg::VMProvisioningOption option;
  Ida::VMOpReq request;
  Ida::VMOpResp response;
  Loaded(m[0], ctx, option, request);
  EXPECT_TRUE(m_ctx->PerformRemoteVMop(ctx, option, request, response, true, &HeldElsewhere));
  EXPECT_EQ((std::vector<long long>{31, 32}), ProxiesCalled());
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON));
}

TEST_F(VSARemoteVMOpProxies, AFailureTheCallerRefusesOrAnInstanceWithoutProxiesEndsIt) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->FailThrough(31, 12);
  SDROperationCtx ctx;
  TMMsg::VMProvisioningOption option;
  Ida::VMOpReq request;
  Ida::VMOpResp response;
  Loaded(m[0], ctx, option, request);
  EXPECT_FALSE(m_ctx->PerformRemoteVMop(ctx, option, request, response, true, &HeldElsewhere));
  EXPECT_EQ(std::vector<long long>{31}, ProxiesCalled());

  m_hypervisor->FailThrough(31, VmOperation::kMountedThroughOtherProxy);
  option = TMMsg::VMProvisioningOption();
  request = Ida::VMOpReq();
  Loaded(m[0], ctx, option, request, 404);
  EXPECT_FALSE(m_ctx->PerformRemoteVMop(ctx, option, request, response, true, &HeldElsewhere));
  EXPECT_TRUE(LoggedError("Failed to get member servers for instance [404]"));
  EXPECT_EQ(2u, m_hypervisor->Calls().size());

  // An id beyond 32 bits whose low bits name the instance: its proxies are
  // not offered.
  const long long wide = (1LL << 32) + kInstance;
  option = TMMsg::VMProvisioningOption();
  request = Ida::VMOpReq();
  Loaded(m[0], ctx, option, request, wide);
  EXPECT_FALSE(m_ctx->PerformRemoteVMop(ctx, option, request, response, true, &HeldElsewhere));
  EXPECT_TRUE(LoggedError("Failed to get member servers for instance [" + std::to_string(wide) + "]"));
  EXPECT_EQ(3u, m_hypervisor->Calls().size());
}

// ---- The worker thread of a primary's power-on ------------------------------

class VSAVMOpWorkerConcurrency : public CVSAContextTestBase {
 protected:
  void SetUp() override {
    CVSAContextTestBase::SetUp();
    m_dir = drtest::MakeTempDir("meminfo");
    // Enough memory for the power-on of the primaries to take a thread each.
    std::ofstream(m_dir + "/meminfo") << "MemAvailable:   67108864 kB\n";
    CDRAppManager::SetMemInfoPath(m_dir + "/meminfo");
  }
  void TearDown() override {
    CVSAContextTestBase::TearDown();
    CDRAppManager::SetMemInfoPath("");
    drtest::RemoveTree(m_dir);
  }
  std::string m_dir;
};

TEST_F(VSAVMOpWorkerConcurrency, AQuitEndsTheWaitAtOnceAndTheWorkerFreesTheHandOffWhenReleased) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->HangOn(TMMsg::VM_OPERATION_POWER_ON);
  bool result = true;
  drtest::CTestThread caller(
      [&] {
        SDROperationCtx ctx = Ctx(m);
        result = m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false);
      },
      "power-on caller");
  // The caller waits on its worker, which only the hypervisor's answer frees.
  caller.OnStop([&] { m_hypervisor->Release(); });
  ASSERT_TRUE(Eventually([&] { return m_hypervisor->Hanging(); }));
  EXPECT_EQ(1, SDRVMTHread::Live());
  Kill();
  ASSERT_TRUE(caller.Join());
  // The caller came back while the operation still hangs at the proxy.
  EXPECT_TRUE(m_hypervisor->Hanging());
  EXPECT_FALSE(result);
  EXPECT_TRUE(LoggedError("Quit waiting on VMOperation as quit flag is set"));
  EXPECT_TRUE(LoggedError("[Power On] on VM [vm1] GUID [src-guid-1] failed with retcode [-1]"));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON));

  m_hypervisor->Release();
  EXPECT_TRUE(Eventually([&] { return m_hypervisor->Answered() == 1 && SDRVMTHread::Live() == 0; }));
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON))
      << "the late answer changes nothing";
}

TEST_F(VSAVMOpWorkerConcurrency, OnTheLabAHungPowerOnIsLeftToItsWorkerAfterAQuit) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor.reset();  // the lab answers
  ASSERT_TRUE(CHypervisorLab::CreateTables());
  SLabInstance site;
  site.id = kSourceInstance;
  site.name = "site-src";
  site.vendor = 1;
  site.host = "vcenter-src";
  ASSERT_TRUE(CHypervisorLab::AddInstance(site));
  SLabProxy proxy;
  proxy.clientId = 31;
  proxy.name = "proxy-31";
  proxy.instances = {SLabProxyInstance{kSourceInstance, 1}};
  ASSERT_TRUE(CHypervisorLab::AddProxy(proxy));
  SLabVM vm;
  vm.instanceId = kSourceInstance;
  vm.guid = "src-guid-1";
  vm.name = "vm1";
  ASSERT_TRUE(CHypervisorLab::AddVM(vm));
  SLabFault hang;
  hang.opType = TMMsg::VM_OPERATION_POWER_ON;
  hang.vm = "src-guid-1";
  hang.kind = ELabFault::kHang;
  ASSERT_TRUE(CHypervisorLab::AddFault(hang));

  bool result = true;
  drtest::CTestThread caller(
      [&] {
        SDROperationCtx ctx = Ctx(m);
        result = m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false);
      },
      "power-on caller");
  caller.OnStop([] { CHypervisorLab::ReleaseHangs(); });
  ASSERT_TRUE(Eventually([] { return CHypervisorLab::HungCalls() == 1; }));
  Kill();
  ASSERT_TRUE(caller.Join());
  EXPECT_FALSE(result);
  EXPECT_TRUE(LoggedError("Quit waiting on VMOperation as quit flag is set"));
  ASSERT_TRUE(CHypervisorLab::ReleaseHangs());
  EXPECT_TRUE(Eventually([] { return CHypervisorLab::HungCalls() == 0 && SDRVMTHread::Live() == 0; }));
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ(TMMsg::VM_OPERATION_POWER_ON, calls[0].opType);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_FAILED, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON));
}

TEST_F(VSAVMOpWorkerConcurrency, TheWorkersAnswerReachesTheCallerWhenItIsDone) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  std::atomic<bool> onOtherThread{false};
  const std::thread::id self = std::this_thread::get_id();
  m_hypervisor->onCall = [&](const SVMOpCall&) { onOtherThread = std::this_thread::get_id() != self; };
  m_hypervisor->RenameTo("vm1-as-worker-saw-it", "");
  SDROperationCtx ctx = Ctx(m);
  EXPECT_TRUE(m_ctx->__OP(ctx, ZNDR::BATCH_OP_POWER_ON_PRIMARY, false));
  EXPECT_TRUE(onOtherThread);
  ASSERT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, RowStatus(1, Api::VIRTUAL_APP_PHASE_POWER_ON));
  EXPECT_NE(std::string::npos, Rows(Api::VIRTUAL_APP_PHASE_POWER_ON)[0].details.find("vm1-as-worker-saw-it"));
  EXPECT_TRUE(Eventually([] { return SDRVMTHread::Live() == 0; }));
}

TEST_F(VSAVMOpWorkerConcurrency, ACleanUpWaitsForItsWorkerDespiteAQuit) {
  std::vector<CDRInfo*> m = Load({Lab(1)});
  m_hypervisor->HangOn(TMMsg::VM_OPERATION_POWER_ON);
  Kill();
  std::atomic<bool> done{false};
  bool result = false;
  drtest::CTestThread caller(
      [&] {
        SDROperationCtx ctx = Ctx(m);
        ctx.ignoreQuit = true;
        ctx.batchOp = ZNDR::BATCH_OP_POWER_ON_PRIMARY;
        ctx.site = Api::DR_SITE_SOURCE;
        ctx.phase = Api::VIRTUAL_APP_PHASE_POWER_ON;
        result = m_ctx->PerformVMOperation(ctx);
        done = true;
      },
      "clean-up caller");
  caller.OnStop([&] { m_hypervisor->Release(); });
  ASSERT_TRUE(Eventually([&] { return m_hypervisor->Hanging(); }));
  // It keeps polling its worker with the job's quit flag set. The hang ends
  // only at Release (its cap is the watchdog's limit), so done cannot turn
  // true here however slowly the polls come.
  const size_t polls = CPlatformClock::Instance().CountWaits(5000);
  EXPECT_TRUE(Eventually([&] { return CPlatformClock::Instance().CountWaits(5000) >= polls + 3; }));
  EXPECT_FALSE(done);
  m_hypervisor->Release();
  ASSERT_TRUE(caller.Join());
  EXPECT_TRUE(result);
}

}  // namespace
