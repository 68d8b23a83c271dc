#include "SnapArrayLabFixture.h"

#include <algorithm>

#include "appmgr/SubclientActivityStore.h"
#include "array/ArrayLab.h"
#include "array/ArrayStore.h"
#include "array/SnapReplicationStore.h"
#include "core/JobContext.h"
#include "drorch/DRChildJobDone.h"
#include "drorch/DRInitParams.h"
#include "engine/DRBase.h"
#include "engine/TestDRContext.h"
#include "sim/Simulators.h"
#include "sync/ZnNamedMutex.h"
#include "TestThread.h"
#include "vm/HypervisorLabSeed.h"

void CSnapArrayLabFixture::SetUp() {
  CDRRecordsTestBase::SetUp();
  std::string error;
  ASSERT_TRUE(CSimulators::CreateTables(error)) << error;
  m_simulator.reset(new drtest::CScopedJobSimulator());
  CJobSimulator::SetInProcessDelivery(DRChildJobDone);
}

void CSnapArrayLabFixture::TearDown() {
  m_dr.reset();
  m_jm.reset();
  m_simulator.reset();
  CHypervisorLab::ClearFaults();
  CHypervisorLab::SetMountDurationMs(0);
  CJobContext::SetCurrentJobId(0);
  CDRRecordsTestBase::TearDown();
}

void CSnapArrayLabFixture::Seed(const std::vector<SSnapLabVM>& vms) {
  m_vms = vms;
  ASSERT_TRUE(CHypervisorLabSeed::AddSite(CHypervisorLabSeed::SampleSourceSite()));
  ASSERT_TRUE(CHypervisorLabSeed::AddSite(CHypervisorLabSeed::SampleDestinationSite()));
  SSeedArrayLab lab;
  lab.arrays = {SLabArray{kArray, "array-dr", "vs_dr", true, true}};
  lab.storagePolicyId = kPolicy;
  lab.primaryCopyId = kPrimaryCopy;
  lab.arrayCopyId = kCopy;
  lab.firstSnapshotJobId = kFirstBackup;
  for (const SSnapLabVM& vm : vms) {
    for (const std::string& ds : vm.datastores) {
      if (std::find(m_datastores.begin(), m_datastores.end(), ds) == m_datastores.end()) m_datastores.push_back(ds);
    }
  }
  for (size_t i = 0; i < m_datastores.size(); ++i) {
    SSeedReplicaGroup g;
    g.replicaGroupId = kFirstGroup + static_cast<int>(i);
    // The subclient of the first VM on the datastore.
    g.subclientId = std::find_if(vms.begin(), vms.end(), [&](const SSnapLabVM& vm) {
                      return std::find(vm.datastores.begin(), vm.datastores.end(), m_datastores[i]) !=
                             vm.datastores.end();
                    })->subclientId;
    g.pairId = 100 + g.replicaGroupId;
    g.controlHostId = kArray;
    g.sourceArray = "array-prod";
    g.targetArray = "array-dr";
    g.sourcePath = "vs_prod:vol_" + m_datastores[i];
    g.targetPath = Path(m_datastores[i]);
    g.mappedLuns = {"vol_" + m_datastores[i] + "/lun0"};
    lab.replicaGroups.push_back(g);
  }
  std::vector<TMMsg::VMDependencyOrder> entries;
  int n = 0;
  for (const SSnapLabVM& vm : vms) {
    SSeedSnapVM seed;
    seed.replicationId = vm.id;
    seed.drGroupId = kGroup;
    seed.name = Name(vm.id);
    seed.guid = Guid(vm.id);
    seed.destinationEsxHost = vm.esxHost;
    seed.subclientId = vm.subclientId;
    seed.clientId = 300 + vm.id;
    seed.applicationId = 400 + vm.id;
    seed.sourceInstanceId = static_cast<int>(kSourceInstance);
    seed.destinationInstanceId = static_cast<int>(kDestInstance);
    for (const std::string& ds : vm.datastores) {
      const int group = kFirstGroup + static_cast<int>(std::find(m_datastores.begin(), m_datastores.end(), ds) -
                                                       m_datastores.begin());
      seed.datastores.push_back(SSeedDatastore{ds, vm.ungrouped ? 0 : group, "", 0});
    }
    lab.vms.push_back(seed);
    SLabVM source = CHypervisorLabSeed::VM(CHypervisorLabSeed::SampleSourceSite(), Guid(vm.id), Name(vm.id), ++n);
    source.poweredOn = true;
    source.clientId = seed.clientId;
    source.datastores = vm.datastores;
    ASSERT_TRUE(CHypervisorLab::AddVM(source));
    TMMsg::VMDependencyOrder entry = Entry(vm.id, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION, Name(vm.id));
    entry.MutableMsg(TMMsg::VMDependencyOrder::kVMEntity).SetString(ZnEntities::VirtualMachineEntity::kGuid, Guid(vm.id));
    if (vm.bootOrder != 0) entry.SetInt32(TMMsg::VMDependencyOrder::kBootOrder, vm.bootOrder);
    entries.push_back(entry);
  }
  std::string error;
  ASSERT_TRUE(CArrayLabSeed::AddLab(lab, error)) << error;
  PutGroup({Group(1, entries)});
}

int32_t CSnapArrayLabFixture::RunJob(TMMsg::DROrchestrationType type, const std::string& restart) {
  m_dr.reset();
  if (restart.empty() || m_jobId == 0) {
    m_jobId = m_jobId == 0 ? kJob : m_jobId + 1;
    CJobContext::SetCurrentJobId(m_jobId);
    StartJob(JobOptions(false), restart, m_jobId);
  } else {
    RestartJob(m_jobId, restart);
  }
  m_dr.reset(IDROrchestrator::CreateObject(type));
  if (m_dr == nullptr) return -1;
  DRInitParams params{m_jm.get()};
  int32_t state = -1;
  if (m_dr->Initialize(params)) {
    state = m_dr->Run();
  } else {
    ADD_FAILURE() << "Initialize failed";
  }
  return state;
}

std::vector<CDRInfo*> CSnapArrayLabFixture::Machines() const {
  std::vector<CDRInfo*> out;
  CDRBase* dr = dynamic_cast<CDRBase*>(m_dr.get());
  if (dr == nullptr) return out;
  for (IDRBaseInfo* base : CDRBaseTestPeer::Infos(*dr)) {
    if (CDRInfo* info = dynamic_cast<CDRInfo*>(base)) out.push_back(info);
  }
  std::sort(out.begin(), out.end(), [](CDRInfo* a, CDRInfo* b) { return a->GetReplId() < b->GetReplId(); });
  return out;
}

CDRInfo* CSnapArrayLabFixture::Machine(int id) const {
  for (CDRInfo* info : Machines()) {
    if (info->GetReplId() == id) return info;
  }
  ADD_FAILURE() << "no machine " << id;
  return nullptr;
}

std::string CSnapArrayLabFixture::MirrorState(const std::string& datastore) {
  SLabRelationship r;
  EXPECT_EQ(EStoreResult::kOk, CArrayRelationshipStore::Get(kArray, Path(datastore), r)) << datastore;
  return r.mirrorState;
}

SSnapAfile CSnapArrayLabFixture::AfileOf(int id) {
  const Api::SnapDRReplicationInfo info = Stored(id);
  SSnapAfile afile;
  EXPECT_EQ(EStoreResult::kOk,
            CAfileStore::Latest(info.GetInt64(Api::SnapDRReplicationInfo::kLastSyncedBackupJobId), Guid(id), kCopy, afile))
      << id;
  return afile;
}

Api::SnapDRReplicationInfo CSnapArrayLabFixture::Stored(int id) {
  Api::SnapDRReplicationInfo info;
  EXPECT_EQ(EStoreResult::kOk, CArrayLab::AnsweredReplication(id, info)) << id;
  return info;
}

int CSnapArrayLabFixture::FailoverStatus(int id) {
  return Stored(id).GetInt32(Api::SnapDRReplicationInfo::kFailoverStatus);
}

int CSnapArrayLabFixture::TestFailoverStatus(int id) {
  return Stored(id).GetInt32(Api::SnapDRReplicationInfo::kTestFailoverStatus);
}

void CSnapArrayLabFixture::SetFailoverStatus(int id, App::VSAFailoverStatus status, long long byJob) {
  SSnapReplication r;
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(id, r)) << id;
  r.info.SetInt32(Api::SnapDRReplicationInfo::kFailoverStatus, status);
  if (byJob != 0) r.info.SetInt64(Api::SnapDRReplicationInfo::kLastDRJobId, byJob);
  ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Replace(kGroup, r.info)) << id;
}

bool CSnapArrayLabFixture::SourceOn(int id) {
  SLabVM vm;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(kSourceInstance, Guid(id), vm)) << id;
  return vm.poweredOn;
}

bool CSnapArrayLabFixture::DRVMExists(int id) {
  SLabVM vm;
  return CHypervisorLab::FindVMByName(kDestInstance, Name(id), vm) == EStoreResult::kOk;
}

bool CSnapArrayLabFixture::SubclientEnabled(int subclientId) {
  bool enabled = true;
  // Backups (operation type 4) are what DR turns off.
  EXPECT_NE(EStoreResult::kFailed, CSubclientActivityStore::IsEnabled(subclientId, 4, enabled));
  return enabled;
}

SPhaseRow CSnapArrayLabFixture::RowOf(int id, int phase) const {
  for (const SPhaseRow& row : PhaseRows(m_jobId)) {
    if (row.replicationId == id && row.phase == phase) return row;
  }
  SPhaseRow none;
  none.phase = -1;
  none.status = -1;
  return none;
}

bool CSnapArrayLabFixture::EveryDatastoreLockFree() const {
  // On a thread of its own: a lock the job left held on this thread (a
  // machine run without the pool) would be taken again here.
  bool free = true;
  drtest::CTestThread taker([&] {
    for (const std::string& ds : m_datastores) {
      ZnNamedMutex lock(ds);
      if (!lock.lock(0)) {
        free = false;
        continue;
      }
      lock.unlock();
    }
  }, "lock taker");
  return taker.Join() && free;
}
