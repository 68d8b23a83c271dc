// Storage-array DR end to end on the array and hypervisor labs: a DR group
// of VMs whose datastores lie on volumes of array 3, mirrored to the DR
// site, run by the engine as the host runs a DR job.
//
//   - the hypervisor lab's two sample sites (CHypervisorLabSeed): source
//     instance 3 with every source VM powered on, destination instance 4
//     with proxies 41 and 42 and no DR VM yet;
//   - one replica group per datastore name (group 7 for the first name, 8
//     for the next, ...), each a snapmirrored relationship vs_dr:vol_<ds>
//     with one mapped LUN, reported for copy 52 (policy 5, primary copy 51);
//   - the VMs' replications with a first snapshot already copied to copy 52
//     (backup job 100), each VM of subclient 21 unless it says otherwise;
//   - the DR group kGroup, one priority whose VM sequence names every VM.
//
// Each run is a DR job of its own (RunJob), so one test can fail over and
// then undo; the last run's orchestrator stays until the next run (its
// machine records, Machines). The job simulator runs the child jobs in this
// process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "array/AfileStore.h"
#include "array/ArrayLabSeed.h"
#include "array/ArrayRelationshipStore.h"
#include "engine/DRInfo.h"
#include "drorch/IDROrchestrator.h"
#include "engine/DRRecordsTestSupport.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorLabSeed.h"

struct SSnapLabVM {
  int id = 0;
  std::vector<std::string> datastores;
  int subclientId = 21;
  std::string esxHost = "esx-b1";  // empty: no ESX host for the mount
  int bootOrder = 0;  // of its entry in the priority's VM sequence
  // The record names no replica group for its datastores, so no break
  // ever reaches it.
  bool ungrouped = false;
};

class CSnapArrayLabFixture : public CDRRecordsTestBase {
 protected:
  static constexpr long long kSourceInstance = CHypervisorLabSeed::kSampleSourceInstanceId;
  static constexpr long long kDestInstance = CHypervisorLabSeed::kSampleDestinationInstanceId;
  static constexpr int kArray = 3;
  static constexpr int kCopy = 52;
  static constexpr int kPolicy = 5;
  static constexpr int kPrimaryCopy = 51;
  static constexpr long long kFirstBackup = 100;
  static constexpr int kFirstGroup = 7;

  void SetUp() override;
  void TearDown() override;

  void Seed(const std::vector<SSnapLabVM>& vms);
  // One DR job of the type on the group, Initialize and Run as the host
  // does: the job's final state (-1 when it could not start).
  // With a restart string the last job (stopped) runs again as its restart.
  int32_t RunJob(TMMsg::DROrchestrationType type, const std::string& restart = "");
  // The job the last RunJob ran.
  long long JobId() const { return m_jobId; }
  // The last run's machine records, in replication id order.
  std::vector<CDRInfo*> Machines() const;
  CDRInfo* Machine(int id) const;

  // ---- reading back ----
  static std::string Guid(int id) { return "src-" + std::to_string(id); }
  static std::string Name(int id) { return "vm" + std::to_string(id); }
  static std::string Path(const std::string& datastore) { return "vs_dr:vol_" + datastore; }
  static std::string MirrorState(const std::string& datastore);
  // The afile of the VM's last synced job (the one a mount takes).
  static SSnapAfile AfileOf(int id);
  static Api::SnapDRReplicationInfo Stored(int id);
  static int FailoverStatus(int id);
  static int TestFailoverStatus(int id);
  // Stores a failover status into the VM's record, as an earlier job left it
  // (byJob, when not 0: that job stored it).
  static void SetFailoverStatus(int id, App::VSAFailoverStatus status, long long byJob = 0);
  static bool SourceOn(int id);
  // The VM the mount registered on the destination, by the source's name.
  static bool DRVMExists(int id);
  static bool SubclientEnabled(int subclientId);
  // The last job's phase row of the VM; phase and status -1 when there is
  // none, so that no check of a state passes on a missing row.
  SPhaseRow RowOf(int id, int phase) const;
  // Takes and gives back every datastore lock: false when one is held.
  bool EveryDatastoreLockFree() const;
  std::vector<std::string> Datastores() const { return m_datastores; }

  std::vector<SSnapLabVM> m_vms;
  std::vector<std::string> m_datastores;
  long long m_jobId = 0;
  std::unique_ptr<drtest::CScopedJobSimulator> m_simulator;

 private:
  struct SDelete {
    void operator()(IDROrchestrator* dr) const { IDROrchestrator::DeleteObject(dr); }
  };
  std::unique_ptr<IDROrchestrator, SDelete> m_dr;
};
