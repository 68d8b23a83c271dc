// The VM DR context on the seeded hypervisor lab, run by the engine: each
// priority of the sample group powers off its primaries, snapshots them and
// powers on the DR VMs; the phase rows and the lab agree with what was done.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/JobContext.h"
#include "drorch/DRInitParams.h"
#include "drorch/DRJobManager.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "host/DrJobTestSupport.h"
#include "jobs/PhaseRowStore.h"
#include "jobs/ZNDROrchestrationClnt.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"
#include "vsa/VSADRBase.h"

namespace {

// What a test operation class does with a priority: three steps, each on
// the machines the one before left.
class CLabStepsContext : public CVSADRBase {
 public:
  CLabStepsContext(IDROrchestrator& orchestrator, std::vector<std::string>& persisted)
      : CVSADRBase(orchestrator), m_persisted(persisted) {}

  bool ProcessPriority(const SDRPriority& priority) override {
    SDROperationCtx ctx;
    ctx.priority = const_cast<SDRPriority*>(&priority);
    if (!m_orchestrator->GetDRInfoListForPriority(priority, ctx.drInfoList, 0)) return false;
    const bool ok = __OP(ctx, ZNDR::BATCH_OP_POWER_OFF_PRIMARY, false) &&
                    __OP(ctx, ZNDR::BATCH_OP_CREATE_SNAPSHOT_PRIMARY, true) &&
                    __OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, true);
    if (ok) m_orchestrator->Complete(ctx);
    return ok;
  }
  bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) override {
    m_persisted.push_back(std::to_string(info->GetReplId()) + ":" + std::to_string(site) + ":" + moref);
    return true;
  }

 private:
  std::vector<std::string>& m_persisted;
};

class CLabStepsDR : public CDRBase {
 public:
  CLabStepsDR() : CDRBase(TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {}
  bool RunPriority(const SDRPriority& priority) override {
    return _ExecPriority(new CLabStepsContext(*this, persisted), priority);
  }
  std::vector<std::string> persisted;
};

class E2EVSAContextOnSeededLab : public drtest::CDrJobLabTest {
 protected:
  static constexpr long long kJob = 7301;

  void TearDown() override {
    m_dr.reset();
    m_jm.reset();
    m_client.reset();
    CJobContext::SetCurrentJobId(0);
    drtest::CDrJobLabTest::TearDown();
  }

  int Run() {
    CreateDRJob(kJob);
    CJobContext::SetCurrentJobId(kJob);
    m_client.reset(new ZNDROrchestrationClnt(kJob));
    m_jm.reset(new CDRJobManager());
    EXPECT_TRUE(m_jm->Initialize(*m_client, 0, 2));
    m_dr.reset(new CLabStepsDR());
    DRInitParams params{m_jm.get()};
    EXPECT_TRUE(m_dr->Initialize(params));
    return m_dr->Run();
  }

  static int Status(const std::vector<SPhaseRowRecord>& rows, int replId, int phase) {
    for (const SPhaseRowRecord& row : rows)
      if (row.replicationId == replId && row.phase == phase) return row.status;
    return -1;
  }

  std::unique_ptr<ZNDROrchestrationClnt> m_client;
  std::unique_ptr<CDRJobManager> m_jm;
  std::unique_ptr<CLabStepsDR> m_dr;
};

TEST_F(E2EVSAContextOnSeededLab, PrimariesGoDownWithASnapshotAndTheDRVMsComeUp) {
  std::vector<SLabReplica> replicas;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Replicas(replicas));
  ASSERT_FALSE(replicas.empty());

  Run();

  std::vector<SPhaseRowRecord> rows;
  ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(kJob, rows));
  std::vector<SLabCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Calls(calls));
  // The sample group's replicas; the test-failover group's go to the cloud
  // site.
  replicas.erase(std::remove_if(replicas.begin(), replicas.end(),
                                [](const SLabReplica& r) { return r.destInstanceId != 4; }),
                 replicas.end());
  for (const SLabReplica& replica : replicas) {
    const int id = replica.replicationId;
    SCOPED_TRACE("replication " + std::to_string(id));
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Status(rows, id, Api::VIRTUAL_APP_PHASE_POWER_OFF));
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Status(rows, id, Api::VIRTUAL_APP_PHASE_CREATE_SNAPSHOT));
    EXPECT_EQ(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS, Status(rows, id, Api::VIRTUAL_APP_PHASE_POWER_ON));

    SLabVM source, dr;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(replica.sourceInstanceId, replica.sourceGuid, source));
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(replica.destInstanceId, replica.destGuid, dr));
    EXPECT_FALSE(source.poweredOn);
    EXPECT_TRUE(dr.poweredOn);
    // The primary's snapshot was taken while it was off, under the DR name,
    // and its reference went to the operation class.
    std::vector<SLabSnapshot> snaps;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(replica.sourceInstanceId, replica.sourceGuid, snaps));
    ASSERT_EQ(1u, snaps.size());
    EXPECT_EQ(CHypervisorLab::kBackupSnapshotName, snaps[0].name);
    EXPECT_FALSE(snaps[0].poweredOn);
    const std::string persisted = std::to_string(id) + ":0:" + snaps[0].ref;
    EXPECT_NE(m_dr->persisted.end(), std::find(m_dr->persisted.begin(), m_dr->persisted.end(), persisted))
        << persisted;
  }
  // Three operations per machine, nothing else.
  EXPECT_EQ(3 * replicas.size(), calls.size());
}

}  // namespace
