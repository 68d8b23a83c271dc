// Mappings between the DR enumerations. Expected rows are typed from the
// step tables, not copied from the code; each mapping is checked over a wide
// range so that unlisted values are seen to take the default.
#include <stdint.h>

#include <map>
#include <set>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DRHelper.h"
#include "engine/DRInfoUtils.h"
#include "engine/SDROperationCtx.h"

namespace {

using Phase = Api::VirtualAppJobPhaseType;
using Site = Api::DRSite;
using State = Api::VirtualAppPhaseState;
using DrType = TMMsg::DROrchestrationType;
using BatchOp = ZNDR::BatchOperation;
using FailoverStatus = App::VSAFailoverStatus;

template <typename TEnum>
TEnum As(int value) {
  return static_cast<TEnum>(value);
}

std::vector<int> Probe() {
  std::vector<int> values = {INT32_MIN, -1000, 1000, INT32_MAX};
  for (int v = -3; v <= 130; ++v) values.push_back(v);
  return values;
}

// Checks an int-to-int mapping against its listed rows and default.
template <typename TFrom, typename TTo>
void ExpectMapping(TTo (*map)(TFrom), const std::map<int, int>& listed, int fallback) {
  for (int value : Probe()) {
    auto it = listed.find(value);
    int expected = it == listed.end() ? fallback : it->second;
    EXPECT_EQ(expected, static_cast<int>(map(As<TFrom>(value)))) << "value " << value;
  }
}

// The site-dependent rows of the batch-operation table: phase -> (primary,
// secondary). A row with the same operation on both sites ignores the site.
const std::map<int, std::pair<int, int>> kBatchOpRows = {
    {1, {2, 3}},   {2, {1, 4}},   {7, {25, 26}}, {8, {23, 24}}, {15, {40, 40}}, {17, {12, 13}},
    {18, {14, 15}}, {19, {16, 17}}, {20, {11, 10}}, {22, {41, 41}}, {24, {5, 6}},  {25, {27, 28}},
    {28, {35, 35}}, {29, {37, 37}}, {30, {36, 36}}, {31, {37, 37}}, {32, {38, 38}}, {34, {29, 30}},
    {37, {32, 31}}, {40, {39, 39}}, {42, {42, 42}}, {43, {43, 43}},
};

int ExpectedBatchOp(int phase, int site, bool preScript) {
  std::pair<int, int> ops;
  if (phase == 0) {
    ops = preScript ? std::make_pair(18, 19) : std::make_pair(20, 21);
  } else {
    auto it = kBatchOpRows.find(phase);
    if (it == kBatchOpRows.end()) return 0;
    ops = it->second;
  }
  if (ops.first == ops.second) return ops.first;
  if (site == 0) return ops.first;
  if (site == 1) return ops.second;
  return 0;
}

// Batch operation -> (site, phase).
const std::map<int, std::pair<int, int>> kPhaseDetailRows = {
    {1, {0, 2}},   {2, {0, 1}},   {3, {1, 1}},   {4, {1, 2}},   {5, {0, 24}},  {6, {1, 24}},
    {23, {0, 8}},  {24, {1, 8}},  {27, {0, 25}}, {28, {1, 25}}, {30, {1, 34}}, {31, {1, 37}},
    {33, {1, 38}}, {34, {1, 39}}, {36, {1, 30}}, {37, {1, 29}}, {42, {1, 42}}, {43, {1, 43}},
};

const Site kUntouchedSite = As<Site>(77);
const Phase kUntouchedPhase = As<Phase>(99);

// A step at a phase and site; the other fields keep their defaults.
SDROperationCtx Step(int phase, int site, bool preScript = false) {
  SDROperationCtx ctx;
  ctx.phase = As<Phase>(phase);
  ctx.site = As<Site>(site);
  ctx.preScript = preScript;
  return ctx;
}

int BatchOpOf(int phase, int site, bool preScript) {
  return static_cast<int>(DRInfoUtils::GetBatchOp(Step(phase, site, preScript)));
}

}  // namespace

TEST(DRHelperMappings, PhaseToVMOperation) {
  ExpectMapping(&DRHelper::GetVMPhaseMapping,
                {{0, 46}, {1, 10},  {2, 29},  {17, 3},  {18, 15}, {19, 4},  {20, 47},
                 {24, 2}, {28, 5},  {29, 0},  {30, 16}, {31, 50}, {32, 52}, {34, 55},
                 {38, 55}, {37, 56}, {39, 56}, {40, 57}, {41, 58}, {42, 6},  {43, 20}},
                62);
}

TEST(DRHelperMappings, PhaseToChildJobTypeAndVendorToPolicyType) {
  ExpectMapping(&DRHelper::GetZNOptype, {{7, 105}, {8, 4}, {21, 13}, {23, 60}}, 0);
  ExpectMapping(&DRHelper::GetPolicyType, {{2, 2}, {4, 1}, {5, 3}, {7, 7}, {12, 10}}, 0);
  // The vendor family of 5 is not one policy: 17 has none.
  EXPECT_EQ(0, DRHelper::GetPolicyType(Common::VS_VENDOR_17));
}

TEST(DRInfoUtilsMappings, BatchOperationOfEveryPhaseSiteAndScriptSwitch) {
  for (int phase : Probe()) {
    for (int site : {-1, 0, 1, 2, 3}) {
      for (bool pre : {false, true}) {
        EXPECT_EQ(ExpectedBatchOp(phase, site, pre), BatchOpOf(phase, site, pre))
            << "phase " << phase << " site " << site << " pre " << pre;
      }
    }
  }
}

TEST(DRInfoUtilsMappings, BatchOperationEdgeCases) {
  const auto op = BatchOpOf;
  EXPECT_EQ(21, op(0, 1, false));
  EXPECT_EQ(19, op(0, 1, true));
  EXPECT_EQ(11, op(20, 0, false));
  EXPECT_EQ(10, op(20, 1, false));
  EXPECT_EQ(32, op(37, 0, false));
  EXPECT_EQ(31, op(37, 1, false));
  EXPECT_EQ(0, op(34, 2, false));
  EXPECT_EQ(40, op(15, 2, false));
  // The script phase depends on the site even for the pre-scripts.
  EXPECT_EQ(0, op(0, 2, true));
  // The test mounts are loaded from batch operations 33 and 34 but never
  // mapped back to them.
  for (int site : {0, 1}) {
    EXPECT_EQ(0, op(38, site, false));
    EXPECT_EQ(0, op(39, site, false));
  }
}

TEST(DRInfoUtilsMappings, LoadBasicPhaseDetailsSetsSiteAndPhaseOrNothing) {
  for (int op : Probe()) {
    SDROperationCtx ctx = Step(kUntouchedPhase, kUntouchedSite, true);
    DRInfoUtils::LoadBasicPhaseDetails(ctx, As<BatchOp>(op));
    auto it = kPhaseDetailRows.find(op);
    if (it == kPhaseDetailRows.end()) {
      EXPECT_EQ(kUntouchedSite, ctx.site) << "op " << op;
      EXPECT_EQ(kUntouchedPhase, ctx.phase) << "op " << op;
    } else {
      EXPECT_EQ(it->second.first, ctx.site) << "op " << op;
      EXPECT_EQ(it->second.second, ctx.phase) << "op " << op;
    }
    // Only site and phase are loaded: the step runner still derives and
    // stores the batch operation itself, and the script switch stays.
    EXPECT_EQ(ZNDR::BATCH_OP_NONE, ctx.batchOp) << "op " << op;
    EXPECT_TRUE(ctx.preScript) << "op " << op;
  }
  // A script operation leaves a context's site and phase as they were.
  SDROperationCtx ctx = Step(Api::VIRTUAL_APP_PHASE_POWER_ON, Api::DR_SITE_DESTINATION);
  DRInfoUtils::LoadBasicPhaseDetails(ctx, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY);
  EXPECT_EQ(Api::DR_SITE_DESTINATION, ctx.site);
  EXPECT_EQ(Api::VIRTUAL_APP_PHASE_POWER_ON, ctx.phase);
}

TEST(DRInfoUtilsMappings, LoadedPhaseDetailsGiveTheBatchOperationBack) {
  for (const auto& row : kPhaseDetailRows) {
    const int op = row.first;
    for (bool pre : {false, true}) {
      // Start from the other site and an unrelated phase, so that a loader
      // that forgot one of the two fields is caught.
      SDROperationCtx ctx =
          Step(Api::VIRTUAL_APP_PHASE_REPLICATION, row.second.first == 0 ? 1 : 0, pre);
      DRInfoUtils::LoadBasicPhaseDetails(ctx, As<BatchOp>(op));
      const int expected = (op == 33 || op == 34) ? 0 : op;
      EXPECT_EQ(expected, DRInfoUtils::GetBatchOp(ctx)) << "op " << op << " pre " << pre;
    }
  }
}

TEST(DRInfoUtilsMappings, EveryLoadableOperationOfAStepLoadsAPhaseOfTheSameOperation) {
  // Whatever a step's phase and site map to, loading that operation's phase
  // details must describe a step of the same operation (37 is reached from
  // phases 29 and 31 and loads 29), or leave the context alone.
  for (int phase = 0; phase <= 43; ++phase) {
    for (int site : {0, 1}) {
      const BatchOp op = DRInfoUtils::GetBatchOp(Step(phase, site));
      if (op == ZNDR::BATCH_OP_NONE) continue;
      SDROperationCtx loaded = Step(kUntouchedPhase, kUntouchedSite);
      DRInfoUtils::LoadBasicPhaseDetails(loaded, op);
      if (loaded.phase == kUntouchedPhase) continue;
      EXPECT_EQ(op, DRInfoUtils::GetBatchOp(loaded))
          << "phase " << phase << " site " << site << " op " << op;
    }
  }
}

TEST(DRInfoUtilsMappings, PhaseWeights) {
  // phase -> (weight, weight in an unplanned failover)
  const std::map<int, std::pair<int, int>> rows = {
      {0, {2, 15}},   {1, {2, 15}},   {2, {2, 15}},   {17, {2, 15}},  {18, {2, 15}},
      {19, {2, 15}},  {20, {2, 15}},  {24, {2, 15}},  {7, {25, 25}},  {8, {30, 30}},
      {21, {20, 20}}, {41, {20, 20}}, {23, {10, 10}}, {28, {90, 90}}, {37, {90, 90}},
      {39, {90, 90}}, {34, {10, 70}}, {38, {70, 70}},
  };
  for (int phase : Probe()) {
    for (int drType = -1; drType <= 15; ++drType) {
      auto it = rows.find(phase);
      int expected = 0;
      if (it != rows.end()) expected = drType == 3 ? it->second.second : it->second.first;
      EXPECT_EQ(expected,
                DRInfoUtils::GetPhaseWeightage(As<Phase>(phase), As<DrType>(drType)))
          << "phase " << phase << " type " << drType;
    }
  }
  // Same text, different weight.
  EXPECT_EQ(20, DRInfoUtils::GetPhaseWeightage(Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER,
                                               TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_EQ(0, DRInfoUtils::GetPhaseWeightage(Api::VIRTUAL_APP_PHASE_POST_VM_FAILOVER,
                                              TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
}

TEST(DRHelperMappings, FailoverStatusesByDrType) {
  // DR type -> (running, success, failure)
  const std::map<int, std::tuple<int, int, int>> rows = {
      {1, {2, 1, 4}},   {3, {2, 1, 4}},    {8, {2, 1, 0}},
      {2, {6, 5, 8}},   {4, {14, 13, 15}}, {6, {14, 13, 15}},
  };
  for (int drType : Probe()) {
    auto it = rows.find(drType);
    const auto expected = it == rows.end() ? std::make_tuple(0, 0, 0) : it->second;
    const DrType type = As<DrType>(drType);
    EXPECT_EQ(std::get<0>(expected), DRHelper::GetFailoverRunningStatus(type)) << drType;
    EXPECT_EQ(std::get<1>(expected), DRHelper::GetFailoverSuccessStatus(type)) << drType;
    EXPECT_EQ(std::get<2>(expected), DRHelper::GetFailoverFailureStatus(type)) << drType;

    for (int state : {-1, 0, 1, 2, 3, 4, 8, 16, 32, 64}) {
      int chosen = 0;
      if (state == 2) chosen = std::get<0>(expected);
      if (state == 0) chosen = std::get<1>(expected);
      if (state == 1) chosen = std::get<2>(expected);
      EXPECT_EQ(chosen, DRHelper::GetFailoverStatus(type, As<State>(state)))
          << "type " << drType << " state " << state;
    }
  }
}

TEST(DRHelperMappings, FailedPointInTimeFailoverRecordsNoFailoverStatus) {
  // Its clean-up turns the remaining "in progress" into "failed"; the
  // mapping must not write a status of its own first.
  const DrType pit = TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER;
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS,
            DRHelper::GetFailoverStatus(pit, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE,
            DRHelper::GetFailoverStatus(pit, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS));
  EXPECT_EQ(App::VSA_FAILOVER_STATUS_NONE,
            DRHelper::GetFailoverStatus(pit, Api::VIRTUAL_APP_PHASE_STATE_FAILED));
}

TEST(DRHelperMappings, TestFailoverStatuses) {
  // state -> (DR type 11, any other DR type)
  const std::map<int, std::pair<int, int>> rows = {{0, {1, 0}}, {1, {3, 5}}, {2, {2, 4}}};
  for (int drType : {-1, 0, 1, 3, 10, 11, 12, 13, 14}) {
    for (int state : Probe()) {
      auto it = rows.find(state);
      int expected = 0;
      if (it != rows.end()) expected = drType == 11 ? it->second.first : it->second.second;
      EXPECT_EQ(expected, DRHelper::GetTestFailoverStatus(As<DrType>(drType), As<State>(state)))
          << "type " << drType << " state " << state;
    }
  }
  // Completed with errors records nothing, for either kind of status.
  EXPECT_EQ(0, DRHelper::GetTestFailoverStatus(TMMsg::DR_ORCHESTRATION_TEST_FAILOVER,
                                               Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS));
  EXPECT_EQ(0, DRHelper::GetFailoverStatus(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,
                                           Api::VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS));
}

TEST(DRInfoUtilsMappings, FailoverStatusesThatAllowADrType) {
  const std::set<int> fromNeutral = {0, 4, 5, 13};
  const std::set<int> fromFailedOver = {1, 8, 15};
  for (int drType = -2; drType <= 20; ++drType) {
    for (int status : Probe()) {
      bool expected = true;
      if (drType == 1 || drType == 3 || drType == 11) expected = fromNeutral.count(status) > 0;
      if (drType == 2 || drType == 6) expected = fromFailedOver.count(status) > 0;
      if (drType == 9) expected = status != 6;
      EXPECT_EQ(expected,
                DRInfoUtils::IsFailoverStatusValid(As<FailoverStatus>(status), As<DrType>(drType)))
          << "type " << drType << " status " << status;
    }
  }
  EXPECT_FALSE(DRInfoUtils::IsFailoverStatusValid(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS,
                                                  TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER));
  EXPECT_FALSE(DRInfoUtils::IsFailoverStatusValid(App::VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS,
                                                  TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION));
  EXPECT_TRUE(DRInfoUtils::IsFailoverStatusValid(App::VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS,
                                                 TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER));
}

TEST(DRInfoUtilsMappings, ThreadKindAndRelationshipStatusOfAPhase) {
  for (int phase : Probe()) {
    const int kind = phase == 35 ? 3 : phase == 36 ? 4 : 2;
    const int status = phase == 35 ? 1 : phase == 36 ? 0 : 8;
    EXPECT_EQ(kind, DRInfoUtils::GetDRThreadType(As<Phase>(phase))) << phase;
    EXPECT_EQ(status, DRInfoUtils::GetSuccessStatus(As<Phase>(phase))) << phase;
  }
}

TEST(DRHelperMappings, PhaseAndDrTypePredicates) {
  for (int phase : Probe()) {
    const Phase p = As<Phase>(phase);
    EXPECT_EQ(phase == 34 || phase == 38, DRHelper::IsSnapMount(p)) << phase;
    EXPECT_EQ(phase == 37 || phase == 39, DRHelper::IsSnapUnmount(p)) << phase;
  }
  for (int drType : Probe()) {
    const DrType t = As<DrType>(drType);
    EXPECT_EQ((drType == 1 || drType == 3) ? 34 : 38, DRHelper::GetMountType(t)) << drType;
    EXPECT_EQ(drType == 11 || drType == 13, DRHelper::IsTestFailoverType(t)) << drType;
    EXPECT_EQ(drType == 1 || drType == 3 || drType == 11, DRHelper::IsSnapFailoverJob(t)) << drType;
  }
}

TEST(DRInfoUtilsMappings, ThreadsApplyToEveryStepButTheSnapUnmounts) {
  // Only the phase decides: neither the DR type nor the step's site matters.
  for (int phase : Probe()) {
    for (int site : {0, 1}) {
      const SDROperationCtx ctx = Step(phase, site);
      for (int drType : {0, 1, 3, 11, 13}) {
        EXPECT_EQ(phase != 37 && phase != 39,
                  DRInfoUtils::IsThreadsApplicableForPhase(ctx, As<DrType>(drType)))
            << "phase " << phase << " site " << site << " type " << drType;
      }
    }
  }
}

TEST(DRInfoUtilsMappings, PrioritiesFollowTheBootOrderOnlyForStorageArrayReplication) {
  for (int value : Probe()) {
    EXPECT_EQ(value == 3, DRInfoUtils::IsPriorityBootBased(As<TMMsg::DRReplicationType>(value)))
        << value;
  }
}

TEST(DRHelperMappings, BackupPhaseStatus) {
  for (int value : Probe()) {
    EXPECT_EQ((value == 0 || value == 3) ? 0 : 1,
              DRHelper::GetBackupPhaseStatus(As<App::VmStatusEnum>(value)))
        << value;
  }
}
