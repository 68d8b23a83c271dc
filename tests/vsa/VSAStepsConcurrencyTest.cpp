// The VM DR steps of two subclient groups at once on one data manager, on
// the lab.
#include <algorithm>
#include <string>
#include <vector>

#include "Phases.h"
#include "VSALabFixture.h"
#include "vsa/VSARepInfo.h"

namespace {

using namespace vsasteps;

using drtest::kSuccess;

// Two subclient groups of three VMs each run backup, sync, failover
// snapshots and a sync-status change at once on one data manager.
class VSAStepsConcurrency : public CVSALabFixture {};

TEST_F(VSAStepsConcurrency, TwoGroupsAtOnceLandEveryStoreOnItsOwnMachine) {
  SVSALabSpec spec;
  spec.replications = 6;
  spec.subclientGroups = 2;
  Seed(spec);
  ASSERT_TRUE(RunSteps({Backup(), Replicate(), TakeOutputList(), CreateFailoverSnapshots(),
                        Do("disable sync", [](CVSAStepTestContext& c, SDROperationCtx& ctx) {
                          bool ok = true;
                          for (CDRInfo* info : std::vector<CDRInfo*>(ctx.drInfoList)) {
                            SDROperationCtx one(ctx);
                            one.drInfoList.assign(1, info);
                            ok = c.DisableSync(info, one) && ok;
                          }
                          return ok;
                        })}));
  std::vector<std::string> log = Context().StepLog();
  EXPECT_EQ(10u, log.size());
  EXPECT_EQ(0, std::count_if(log.begin(), log.end(),
                             [](const std::string& s) { return s.find(":failed") != std::string::npos; }));
  const std::vector<std::string> snapshotRequests = SnapshotRequests(TMMsg::VM_OPERATION_CREATE_SNAPSHOT);
  EXPECT_EQ(6u, snapshotRequests.size());
  for (const SVSALabVM& vm : VMs()) {
    SCOPED_TRACE(vm.replicationId);
    const int id = vm.replicationId;
    for (int phase : {Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_REPLICATION,
                      Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT, Api::VIRTUAL_APP_PHASE_DISABLE_SYNC}) {
      EXPECT_EQ(kSuccess, RowOf(id, phase).status) << phase;
    }
    EXPECT_EQ(App::VSA_REPL_STATUS_SYNC_DISABLED, StoredSyncStatus(id));
    EXPECT_EQ(SourceVM(id).content, DRVM(id).content);
    // The reference stored and loaded for the machine is its own DR VM's
    // snapshot, asked for once, of that VM.
    std::string own;
    for (const SLabSnapshot& snap : Snapshots(id, 1))
      if (snap.name == "__OB_FAILOVER__") own = snap.ref;
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own, StoredProperty(id, VSARepInfo::kPropDestSnapMoref));
    EXPECT_EQ(own, DRInfoUtils::GetVSARepInfo(Machine(id))->GetDestinationSnapMorefProp());
    EXPECT_EQ(1, std::count(snapshotRequests.begin(), snapshotRequests.end(), vm.destGuid + " __OB_FAILOVER__ "));
  }
  // Each group's backup covered its own VMs.
  for (int subclient : {kFirstSubclient, kFirstSubclient + 1}) {
    const long long job = Context().Group(subclient)->GetBkpJobId();
    EXPECT_EQ(ReplicationIdsOfGroup(subclient), drtest::ChildJob(job).replicationIds);
  }
}

}  // namespace
