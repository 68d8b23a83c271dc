#include <set>

#include <gtest/gtest.h>

#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPhaseCtx.h"
#include "engine/SDRPriority.h"
#include "engine/SDRStorage.h"
#include "engine/SDRThreadInfo.h"
#include "engine/SDataSourceInfo.h"

namespace {
CDRInfo* FakeInfo(int n) { return reinterpret_cast<CDRInfo*>(static_cast<uintptr_t>(0x1000 * n)); }
}  // namespace

TEST(OperationContext, HashKeysTheOperationSettings) {
  SDROperationCtx ctx;
  EXPECT_EQ("0:1:0:0:0", ctx.GetHash());
  ctx.batchOp = static_cast<ZNDR::BatchOperation>(5);
  ctx.preScript = true;
  EXPECT_EQ("5:1:0:0:1", ctx.GetHash());
  ctx.site = static_cast<Api::DRSite>(1);
  ctx.ignoreQuit = true;
  ctx.snapType = 2;
  EXPECT_EQ("5:2:1:1:1", ctx.GetHash());
}

TEST(OperationContext, DefaultsAreTheDocumentedOnes) {
  SDROperationCtx ctx;
  EXPECT_TRUE(ctx.updatePhaseInfoTbl);
  EXPECT_TRUE(ctx.markRowAsFailedOnFailure);
  EXPECT_TRUE(ctx.raisePendingCauseOnFailure);
  EXPECT_TRUE(ctx.postStep);
  EXPECT_FALSE(ctx.pollWithQuit);
  EXPECT_FALSE(ctx.mandateAllSuccess);
  EXPECT_EQ(0, ctx.jobId);
  EXPECT_EQ(1, ctx.snapType);
  EXPECT_EQ(nullptr, ctx.GetInfo());
}

TEST(OperationContext, CopyTakesSettingsButKeepsItsOwnTargets) {
  SDRPriority ownPriority, otherPriority;
  SDROSubclient ownGroup(1, 106), otherGroup(2, 106);

  SDROperationCtx mine;
  mine.drInfoList = {FakeInfo(1), FakeInfo(2)};
  mine.priority = &ownPriority;
  mine.subclient = &ownGroup;
  mine.jobId = 77;
  mine.replicaGroup = reinterpret_cast<SSMReplicaGroup*>(0x10);

  SDROperationCtx other;
  other.drInfoList = {FakeInfo(3)};
  other.priority = &otherPriority;
  other.subclient = &otherGroup;
  other.jobId = 99;
  other.replicaGroup = nullptr;
  other.phase = static_cast<Api::VirtualAppJobPhaseType>(24);
  other.site = static_cast<Api::DRSite>(1);
  other.batchOp = static_cast<ZNDR::BatchOperation>(6);
  other.ignoreQuit = true;
  other.preScript = true;
  other.updatePhaseInfoTbl = false;
  other.markRowAsFailedOnFailure = false;
  other.raisePendingCauseOnFailure = false;
  other.useStoredSnapRef = true;
  other.snapType = 3;
  other.vmOpAsync = true;
  other.postStep = false;
  other.mandateAllSuccess = true;
  other.pollWithQuit = true;

  mine.Copy(other);
  EXPECT_EQ((std::vector<CDRInfo*>{FakeInfo(1), FakeInfo(2)}), mine.drInfoList);
  EXPECT_EQ(&ownPriority, mine.priority);
  EXPECT_EQ(&ownGroup, mine.subclient);
  EXPECT_EQ(77, mine.jobId);
  EXPECT_EQ(reinterpret_cast<SSMReplicaGroup*>(0x10), mine.replicaGroup);

  EXPECT_EQ(other.GetHash(), mine.GetHash());
  EXPECT_EQ(other.phase, mine.phase);
  EXPECT_FALSE(mine.updatePhaseInfoTbl);
  EXPECT_FALSE(mine.markRowAsFailedOnFailure);
  EXPECT_FALSE(mine.raisePendingCauseOnFailure);
  EXPECT_TRUE(mine.useStoredSnapRef);
  EXPECT_TRUE(mine.vmOpAsync);
  EXPECT_FALSE(mine.postStep);
  EXPECT_TRUE(mine.mandateAllSuccess);
  EXPECT_TRUE(mine.pollWithQuit);

  SDROperationCtx copied(other);  // the copy constructor takes everything
  EXPECT_EQ(other.drInfoList, copied.drInfoList);
  EXPECT_EQ(99, copied.jobId);
  EXPECT_EQ(&otherPriority, copied.priority);
}

TEST(ContextRecords, DefaultsOfPhaseAndDataSourceRecords) {
  SDRPhaseCtx phase;
  EXPECT_EQ(0, static_cast<int>(phase.state));
  EXPECT_TRUE(phase.message.empty());
  EXPECT_TRUE(phase.markRowAsFailedOnFailure && phase.updatePhaseInfoTbl && phase.raisePendingCause);
  EXPECT_FALSE(phase.notLastPhase);
  SDRPhaseCtx failed(5, static_cast<Api::VirtualAppJobPhaseType>(1), static_cast<Api::VirtualAppPhaseState>(1),
                     static_cast<Api::DRSite>(1), false);
  EXPECT_FALSE(failed.markRowAsFailedOnFailure);
  EXPECT_TRUE(failed.updatePhaseInfoTbl && failed.raisePendingCause);

  SDataSourceInfo ds;
  EXPECT_EQ(2, static_cast<int>(ds.status));
  EXPECT_EQ(106, ds.appId);
  EXPECT_EQ(nullptr, ds.jobManager);
  EXPECT_TRUE(ds.replIds.empty());

  SDRPriority p;
  EXPECT_EQ(0, p.order);
  EXPECT_EQ(nullptr, p.dataSource);
  EXPECT_FALSE(p.success);
  p.replIds = {4, 5};
  SDRPriority q(p);
  q.replIds.push_back(6);
  EXPECT_EQ(2u, p.replIds.size()) << "records copy their lists deeply";
}

TEST(ContextRecords, StorageCopiesAreKeyedByCopyId) {
  std::set<SDRStorage> copies;
  EXPECT_TRUE(copies.insert(SDRStorage(nullptr, 10, 7, 1, true)).second);
  EXPECT_FALSE(copies.insert(SDRStorage(nullptr, 20, 7, 2, false)).second);
  EXPECT_TRUE(copies.insert(SDRStorage(nullptr, 20, 8, 2, false)).second);
  ASSERT_EQ(2u, copies.size());
  EXPECT_EQ(10, copies.begin()->GetSPId()) << "the first copy inserted stays";
  EXPECT_EQ(1, static_cast<int>(copies.begin()->site));
}

TEST(ContextRecords, ThreadItemsCarryTheirType) {
  SDROperationCtx ctx;
  SDROSubclient group(1, 106);
  SDRPriority prio;
  EXPECT_EQ(0, static_cast<int>(SDRThreadInfo(nullptr, &group, &ctx).threadType));
  EXPECT_EQ(2, static_cast<int>(SDRThreadInfo(nullptr, FakeInfo(1), &ctx).threadType));
  SDRThreadInfo byPriority(nullptr, &prio);
  EXPECT_EQ(1, static_cast<int>(byPriority.threadType));
  EXPECT_EQ(&prio, byPriority.priority);
  EXPECT_EQ(nullptr, byPriority.opCtx);
  EXPECT_EQ(4, static_cast<int>(SDRThreadInfo(nullptr, &ctx, DRThreadType(4)).threadType));
}
