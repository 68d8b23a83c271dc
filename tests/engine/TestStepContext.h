// A DR context and an orchestrator for the step-runner and pool tests. The
// context is driven through the same IDRContext slots the real contexts use:
// it records every step and body it receives, fails the machines a test
// names, takes a set time per machine on the scaled clock and, like the real
// per-machine bodies, can run its own inner steps through RunOperation.
#pragma once

#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "drorch/DRJobManager.h"
#include "engine/IDRContext.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "TestDRContext.h"
#include "TestSupport.h"
#include "core/StopState.h"
#include "time/PlatformClock.h"

class CStepTestDR : public CDRBase {
 public:
  explicit CStepTestDR(TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER)
      : CDRBase(type) {}
  bool RunPriority(const SDRPriority&) override { return true; }
  std::atomic<int> refreshes{0};
  // Runs before every progress refresh, on the refreshing thread.
  std::function<void()> onRefresh;
  void Refresh() override {
    refreshes.fetch_add(1);
    if (onRefresh) onRefresh();
    CDRBase::Refresh();
  }
};

class CStepTestContext : public IDRContext {
 public:
  explicit CStepTestContext(CDRBase& dr) : m_dr(dr) {}

  // ---- steering ----
  std::set<int> failIds;           // machines whose steps and bodies fail
  uint64_t perMachineMs = 0;       // requested (scaled) time of each body
  bool innerStep = false;          // bodies run an inner step, as the VM contexts do
  ZNDR::BatchOperation innerOp = ZNDR::BATCH_OP_POWER_ON_PRIMARY;
  bool innerIgnoreQuit = false;
  bool performResult = true;       // PerformOperation's answer when no machine fails
  // Bodies hold at their start until this many have run at once (0: none
  // holds), so a test sees the pool's full width however slowly the machine
  // starts its workers.
  int holdUntilRunning = 0;
  // Runs as a body starts, on its thread, with the number of bodies running
  // then (itself included): to steer the job once the pool is full.
  std::function<void(int)> onEnter;

  // ---- what happened ----
  std::vector<std::string> Steps() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_steps;
  }
  std::vector<int> Bodies() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bodies;
  }
  std::vector<int> Cleanups() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cleanups;
  }
  std::vector<SDROperationCtx> BodyContexts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bodyCtx;
  }
  int MaxRunning() const { return m_maxRunning.load(); }
  int Finished() const { return m_finished.load(); }

  // ---- IDRContext ----
  bool PerformOperation(SDROperationCtx& ctx) override {
    std::string ids = DRInfoUtils::GetReplStr(ctx.drInfoList);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_steps.push_back(std::to_string(static_cast<int>(ctx.phase)) + "/" + std::to_string(ctx.site) + "/" +
                        std::to_string(static_cast<int>(ctx.batchOp)) + ":" + ids);
    }
    bool ok = performResult;
    for (CDRInfo* info : ctx.drInfoList) {
      bool failed = failIds.count(info->GetReplId()) != 0;
      SDRPhaseCtx phase(0, ctx.phase,
                        failed ? Api::VIRTUAL_APP_PHASE_STATE_FAILED : Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, ctx.site,
                        true);
      phase.raisePendingCause = false;
      info->UpdatePhase(phase);
      if (failed) ok = false;
    }
    return ok;
  }
  bool ProcessPriority(const SDRPriority&) override { return true; }
  bool PostProcessPriority(const SDRPriority&) override { return true; }
  bool ProcessDROperationThread(SDROperationCtx& ctx) override {
    Enter();
    CDRInfo* info = ctx.GetInfo();
    int id = info != nullptr ? info->GetReplId() : -1;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bodies.push_back(id);
      m_bodyCtx.push_back(ctx);
    }
    if (perMachineMs > 0) XOSLEEP(perMachineMs);
    bool ok = failIds.count(id) == 0;
    if (innerStep) {
      // As a VM context's __OP: the batch operation gives site and phase and
      // the engine runs the step; a successful step resets the batch
      // operation of this very context.
      ctx.batchOp = innerOp;
      DRInfoUtils::LoadBasicPhaseDetails(ctx, innerOp);
      ctx.ignoreQuit = innerIgnoreQuit;
      ok = m_dr.RunOperation(*this, ctx, true);
    }
    // Touches its context once more at the very end: the launcher must keep
    // it alive until the body has returned.
    ok = ok && !ctx.drInfoList.empty();
    Leave();
    return ok;
  }
  bool CleanupDROperationThread(SDROperationCtx& ctx) override {
    CDRInfo* info = ctx.GetInfo();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cleanups.push_back(info != nullptr ? info->GetReplId() : -1);
    return true;
  }
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override {
    Enter();
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_bodies.push_back(ctx.subclient != nullptr ? ctx.subclient->GetAppId() : -1);
      m_bodyCtx.push_back(ctx);
    }
    if (perMachineMs > 0) XOSLEEP(perMachineMs);
    bool ok = ctx.subclient != nullptr && failIds.count(ctx.subclient->GetAppId()) == 0;
    Leave();
    return ok;
  }
  bool IsMachineEligible(CDRInfo* info) override { return m_ineligible.count(info->GetReplId()) == 0; }
  bool Cleanup(const SDRPriority&) override { return true; }

  void MarkIneligible(int replId) { m_ineligible.insert(replId); }

 private:
  void Enter() {
    int now = m_running.fetch_add(1) + 1;
    int seen = m_maxRunning.load();
    while (now > seen && !m_maxRunning.compare_exchange_weak(seen, now)) {
    }
    if (onEnter) onEnter(now);
    if (holdUntilRunning > 0 && !m_holdGaveUp.load()) {
      // Held in real time, never on the scaled clock. A pool narrower than
      // the hold is a fault the test's width check reports: the first body
      // to give up opens the hold for all, so it costs one limit, not one
      // per body. A stop request (a terminated pool) ends the hold too.
      const bool full = drtest::Eventually([this] {
        return m_maxRunning.load() >= holdUntilRunning || m_holdGaveUp.load() || CStopState::CurrentStopRequested();
      });
      if (!full) m_holdGaveUp.store(true);
    }
  }
  void Leave() {
    m_running.fetch_sub(1);
    m_finished.fetch_add(1);
  }

  CDRBase& m_dr;
  std::mutex m_mutex;
  std::vector<std::string> m_steps;
  std::vector<int> m_bodies;
  std::vector<int> m_cleanups;
  std::vector<SDROperationCtx> m_bodyCtx;
  std::set<int> m_ineligible;
  std::atomic<int> m_running{0};
  std::atomic<int> m_maxRunning{0};
  std::atomic<int> m_finished{0};
  std::atomic<bool> m_holdGaveUp{false};
};

// Machine records of one priority, owned by the orchestrator once added.
class CStepTestMachines {
 public:
  CStepTestMachines(CDRBase& dr, CDRJobManager* jm, CDRAppManager* am, int order = 1,
                    TMMsg::DROpSourceType source = TMMsg::DR_OP_SOURCE_VSA_REPLICATION)
      : m_dr(dr), m_jm(jm), m_am(am) {
    priority.order = order;
    priority.infoSource = source;
  }
  // Adds machines with replication ids first..first+count-1.
  std::vector<CDRInfo*> Add(int first, int count) {
    std::vector<CDRInfo*> out;
    for (int id = first; id < first + count; ++id) {
      SDataSourceInfo ds;
      ds.replId = id;
      SDRInfoCtx ctx(nullptr, ds, priority);
      ctx.jobManager = m_jm;
      ctx.appManager = m_am;
      CDRInfo* info = new CDRInfo(ctx);
      priority.replIds.push_back(id);
      CDRBaseTestPeer::AddInfo(m_dr, info);
      out.push_back(info);
    }
    return out;
  }
  static void SetLastPhase(CDRInfo* info, Api::VirtualAppJobPhaseType phase, Api::VirtualAppPhaseState state) {
    SDRPhaseCtx p(0, phase, state, Api::DR_SITE_SOURCE, false);
    p.raisePendingCause = false;
    info->UpdatePhase(p);
  }

  SDRPriority priority;

 private:
  CDRBase& m_dr;
  CDRJobManager* m_jm;
  CDRAppManager* m_am;
};
