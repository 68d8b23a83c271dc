// What a restart of each VM DR type admits: what its first attempt admits,
// and beyond it only a machine an attempt of the job took up.
#include <memory>
#include <string>
#include <vector>

#include "engine/GenericDR.h"
#include "engine/IDRAdmission.h"
#include "vsa/VSADRBase.h"
#include "vsa/VSALabFixture.h"
#include "vsa/VSARepInfo.h"

namespace {

using F = App::VSAFailoverStatus;
using S = App::VSAReplicationStatus;

class VSARestartAdmission : public CVSALabFixture {
 protected:
  // A restarted job of the type whose first attempt took nothing up.
  std::unique_ptr<CVSADRBase> RestartedContext(TMMsg::DROrchestrationType type) {
    SVSALabSpec spec;
    spec.replications = 2;
    spec.drType = type;
    spec.operationClasses = true;
    // A test failover takes only a destination of this vendor.
    if (type == TMMsg::DR_ORCHESTRATION_TEST_FAILOVER) spec.destVendor = Common::VS_VENDOR_4;
    Seed(spec);
    Restart();
    IDRContext* made = static_cast<CGenericDR*>(m_dr.get())->NewContext(*Priority(1), type);
    EXPECT_NE(nullptr, dynamic_cast<CVSADRBase*>(made));
    return std::unique_ptr<CVSADRBase>(dynamic_cast<CVSADRBase*>(made));
  }
  void SetStatuses(int failover, int sync) {
    Change(101, [&](App::VSAReplicationInfo& info) {
      info.SetInt32(App::VSAReplicationInfo::kFailoverStatus, failover);
      info.SetInt32(App::VSAReplicationInfo::kSyncStatus, sync);
    });
    Reload();
  }

  const std::vector<TMMsg::DROrchestrationType> kTypes = {
      TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,    TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER,
      TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, TMMsg::DR_ORCHESTRATION_FAILBACK,
      TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION, TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER,
      TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER,       TMMsg::DR_ORCHESTRATION_TESTBOOT,
      TMMsg::DR_ORCHESTRATION_TEST_FAILOVER,       TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM};
  const std::vector<int> kFailover = {0, 1, 2, 4, 5, 6, 8, 13, 14, 15};
  const std::vector<int> kSync = {1, 2, 3, 5, 6, 7};
};

// Every status pair: the restart, asked and run, answers as the first
// attempt does for a machine no attempt took up.
TEST_F(VSARestartAdmission, ARestartAdmitsWhatItsFirstAttemptAdmitsOfAMachineNoAttemptTookUp) {
  for (const TMMsg::DROrchestrationType type : kTypes) {
    std::unique_ptr<CVSADRBase> c = RestartedContext(type);
    ASSERT_NE(nullptr, c);
    for (const int f : kFailover) {
      for (const int s : kSync) {
        SCOPED_TRACE(std::to_string(type) + " failover " + std::to_string(f) + " sync " + std::to_string(s));
        SetStatuses(f, s);
        const bool first = c->IsAdmittedOnNewJob(Machine(101), type);
        EXPECT_EQ(first, c->IsAdmittedOnRestart(Machine(101)));
        EXPECT_EQ(first, c->IsMachineEligible(Machine(101)));
        ASSERT_FALSE(Machine(101)->HasBegun());
      }
    }
  }
}

// The statuses a restart admits beyond its first attempt, each left by an
// attempt of this job (its id stored with the status) and by another's.
TEST_F(VSARestartAdmission, ARestartAdmitsMoreOnlyOfAMachineAnAttemptOfTheJobTookUp) {
  struct SCase {
    TMMsg::DROrchestrationType type;
    int failover;
    int sync;
  };
  const SCase cases[] = {
      {TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 2, 6},      {TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER, 0, 6},
      {TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER, 2, 1},    {TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER, 2, 6},
      {TMMsg::DR_ORCHESTRATION_FAILBACK, 6, 1},              {TMMsg::DR_ORCHESTRATION_FAILBACK, 1, 1},
      {TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER, 14, 6},      {TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER, 14, 6},
      {TMMsg::DR_ORCHESTRATION_TESTBOOT, 15, 6},             {TMMsg::DR_ORCHESTRATION_TEST_FAILOVER, 2, 1},
  };
  for (const SCase& k : cases) {
    SCOPED_TRACE(std::to_string(k.type) + " failover " + std::to_string(k.failover) + " sync " +
                 std::to_string(k.sync));
    std::unique_ptr<CVSADRBase> c = RestartedContext(k.type);
    ASSERT_NE(nullptr, c);
    SetStatuses(k.failover, k.sync);
    ASSERT_FALSE(c->IsAdmittedOnNewJob(Machine(101), k.type));
    AddProperty(101, VSARepInfo::kPropLastDRJobId, std::to_string(kJob + 1));
    Reload();
    EXPECT_FALSE(c->IsAdmittedOnRestart(Machine(101)));
    EXPECT_FALSE(c->IsMachineEligible(Machine(101)));
    AddProperty(101, VSARepInfo::kPropLastDRJobId, std::to_string(kJob));
    Reload();
    EXPECT_TRUE(c->IsAdmittedOnRestart(Machine(101)));
    EXPECT_TRUE(c->IsMachineEligible(Machine(101)));
  }
}

// The reverse replication takes only a machine that stands failed over, on
// a first attempt as on a restart, whatever its sync status.
TEST_F(VSARestartAdmission, AReverseReplicationAdmitsOnlyFailoverComplete) {
  std::unique_ptr<CVSADRBase> c = RestartedContext(TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION);
  ASSERT_NE(nullptr, c);
  AddProperty(101, VSARepInfo::kPropLastDRJobId, std::to_string(kJob));
  for (const int f : kFailover) {
    SCOPED_TRACE(f);
    EXPECT_EQ(f == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE,
              c->IsPermisableFailoverStateForJob(static_cast<F>(f)));
    SetStatuses(f, App::VSA_REPL_STATUS_IN_SYNC);
    EXPECT_EQ(f == App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, c->IsAdmittedOnRestart(Machine(101)));
  }
}

}  // namespace
