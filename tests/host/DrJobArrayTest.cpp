// The sample storage-array group through drjob: a run loads every record
// of the seeded lab, and the storage-array data manager, driven on that lab
// from this process, leaves relationships, LUNs and array calls that "drjob
// lab show" prints; "drjob lab down|up" takes an array.
#include <stdio.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/SnapArrayTestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedArrays.h"
#include "host/SeedGroups.h"

namespace {

using drtest::Has;
using drtest::SResult;

constexpr long long kDRJob = 7101;

// The storage-array contexts do not run a failover yet: the run stops at
// the priority and fails.
void ExpectRunOutcome(const SResult& r) {
  EXPECT_EQ(1, r.code) << r.output;
  EXPECT_TRUE(Has(r, "finished with state [1] FAILED")) << r.output;
}

class E2EDrJobArray : public drtest::CDrJobLabTest {
 protected:
  std::string Show() {
    const SResult show = Host("lab --db " + m_db);
    EXPECT_EQ(0, show.code) << show.output;
    return show.output;
  }
};

TEST_F(E2EDrJobArray, ARunLoadsEveryRecordOfTheSeededGroup) {
  const SResult r = Host("run --db " + m_db + " --group " + kSampleArrayGroup.name + " --type planned-failover");
  ExpectRunOutcome(r);
  const std::string log = drtest::ReadFile(m_dir + "/run/drorch.log");
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    char line[160];
    snprintf(line, sizeof(line), " ReplicationId [%d]  Source VM %-25s ->  Volumes [1]  Datastores [1]  LastSyncedBkpJob [%lld]",
             vm.replicationId, vm.name, kSampleFirstSnapshotJobId);
    EXPECT_NE(std::string::npos, log.find(line)) << line;
  }
  EXPECT_NE(std::string::npos, log.find("JOB SUMMARY REPORT DR OPERATION"));
}

TEST_F(E2EDrJobArray, ABreakALunCheckAndAReSyncOnTheSeededLabAreWhatLabShowPrints) {
  const std::string seeded = Show();
  for (const auto& r : drtest::LabSection(seeded, "relationships")) EXPECT_EQ("snapmirrored", r.at(3));
  const auto afiles = drtest::LabSection(seeded, "afiles");
  ASSERT_EQ(std::size(kSampleArrayVMs), afiles.size());
  for (const auto& a : afiles) {
    EXPECT_EQ(std::to_string(kSampleFirstSnapshotJobId), a.at(1));
    EXPECT_EQ(std::to_string(kSampleArrayCopyId), a.at(4));
    EXPECT_EQ("79", a.at(5));
  }
  EXPECT_TRUE(drtest::LabSection(seeded, "array calls").empty());

  // The data manager of a DR job on the group, as a context drives it.
  CreateDRJob(kDRJob, kSampleArrayGroup.id);
  ZNDROrchestrationClnt client(kDRJob);
  CDRJobManager jobManager;
  ASSERT_TRUE(jobManager.Initialize(client, 0, 2));
  SDataSourceInfo source;
  source.jobId = kDRJob;
  source.drGroupId = kSampleArrayGroup.id;
  source.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  source.infoSource = TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION;
  for (const SSampleArrayVM& vm : kSampleArrayVMs) source.replIds.push_back(vm.replicationId);
  source.jobManager = &jobManager;
  CSnapArrayDRReplDataMgr manager(source);
  ASSERT_TRUE(manager.LoadData(source));
  std::map<int, SSMReplicaGroup*> groups = drtest::ReplicaGroupsOf(manager, source, kSampleArrayCopyId);
  ASSERT_EQ(2u, groups.size());
  SSMReplicaGroup& first = *groups.at(71);
  SSMReplicaGroup& shared = *groups.at(72);
  // Group 71 broken with its LUN unmapped; group 72 broken and re-synced.
  ASSERT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, first, Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP,
                                               false));
  ASSERT_TRUE(manager.VerifyLUNMapping(first, true));
  ASSERT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, shared,
                                               Api::VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP, false));
  ASSERT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, shared,
                                               Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, false));

  const std::string shown = Show();
  EXPECT_EQ((std::vector<std::vector<std::string>>{
                {"8", "vs_prod:vol_snap1", "vs_dr:vol_snap1", "broken-off", "idle"},
                {"8", "vs_prod:vol_snap2", "vs_dr:vol_snap2", "snapmirrored", "idle"}}),
            drtest::LabSection(shown, "relationships"));
  EXPECT_EQ((std::vector<std::vector<std::string>>{{"8", "vol_snap1", "vol_snap1/lun0", "no"},
                                                   {"8", "vol_snap2", "vol_snap2/lun0", "yes"},
                                                   {"8", "vol_snap2", "vol_snap2/lun1", "yes"}}),
            drtest::LabSection(shown, "LUNs"));
  // Every journalled call, in order, on the DR array.
  std::vector<SArrayCall> calls;
  ASSERT_EQ(EStoreResult::kOk, CArrayCallJournal::All(calls));
  const auto printed = drtest::LabSection(shown, "array calls");
  ASSERT_EQ(calls.size(), printed.size());
  std::vector<std::string> names;
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(std::to_string(kSampleDRArrayId), printed[i].at(1));
    EXPECT_EQ(calls[i].call, printed[i].at(2));
    // The result's words follow the call, then the arguments'.
    std::istringstream result(calls[i].result + " " + calls[i].arguments);
    std::vector<std::string> words(printed[i].begin() + 3, printed[i].end());
    std::vector<std::string> expected;
    for (std::string w; result >> w;) expected.push_back(w);
    EXPECT_EQ(expected, words);
    names.push_back(calls[i].call);
  }
  const auto count = [&](const char* call) { return std::count(names.begin(), names.end(), call); };
  EXPECT_EQ(2, count("SMBreakRelationshipCMode"));
  EXPECT_EQ(1, count("SMResyncRelationshipCMode"));
  EXPECT_EQ(1, count("UnAssignLunFromAllInitiators"));

  // The DR array taken down and up again from another process.
  SResult r = Host("lab --db " + m_db + " down " + kSampleDRArray);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_EQ("down", drtest::LabSection(Show(), "arrays").at(1).at(4));
  EXPECT_FALSE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, first,
                                                Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, false));
  r = Host("lab --db " + m_db + " up " + kSampleDRArray);
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(manager.ChangeRelationShipStatus(kSampleArrayCopyId, first,
                                               Api::VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP, false));
  EXPECT_EQ("snapmirrored", drtest::LabSection(Show(), "relationships").at(0).at(3));
  EXPECT_EQ(5, Host("lab --db " + m_db + " down no-such-array").code);
}

}  // namespace
