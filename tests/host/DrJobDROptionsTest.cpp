// The DR options of drjob run: each is checked before anything runs and
// lands in the DR job's DR orchestration options where the system reads it.
#include <stdio.h>

#include <string>
#include <vector>

#include "host/DrJobTestSupport.h"
#include "jobs/JobStore.h"
#include "msg/MsgClasses.h"

namespace {

using drtest::Has;
using drtest::RunDrJob;
using drtest::SResult;

TEST(E2EDrJobDROptions, BadValuesGiveOneErrorLineAndExit2) {
  const std::pair<const char*, const char*> cases[] = {
      {"--point-in-time 101", "--point-in-time needs REPLICATION=TIME"},
      {"--point-in-time x=5", "--point-in-time needs REPLICATION=TIME"},
      {"--point-in-time 101=-5", "--point-in-time needs REPLICATION=TIME"},
      {"--testboot-wait soon", "--testboot-wait needs minutes"},
      {"--testboot-wait -5", "--testboot-wait needs minutes"},
      // The step waits an int of milliseconds: 35791 minutes is the most.
      {"--testboot-wait 35792", "--testboot-wait takes at most [35791] minutes, the longest wait the testboot step "
                                "can hold, not [35792]\n"},
      {"--testboot-wait 99999999999", "--testboot-wait takes at most [35791] minutes, the longest wait the "
                                      "testboot step can hold, not [99999999999]\n"},
      {"--testboot-wait 99999999999999999999999", "--testboot-wait takes at most [35791] minutes"},
      {"--restore-options", "option --restore-options needs a value"},
  };
  for (const auto& c : cases) {
    const SResult r = RunDrJob(std::string("run --db x.db --group g --type 8 ") + c.first);
    EXPECT_EQ(2, r.code) << c.first;
    EXPECT_TRUE(Has(r, std::string("drjob: ") + c.second)) << c.first << "\n" << r.output;
  }
}

class E2EDrJobDROptionsLab : public drtest::CDrJobLabTest {};

// The longest wait is taken as it is; the run stops only at the group.
TEST_F(E2EDrJobDROptionsLab, TheLongestTestbootWaitIsAccepted) {
  const SResult run = Host("run --db " + m_db + " --group Nowhere --type testboot --testboot-wait 35791");
  EXPECT_EQ(5, run.code) << run.output;
  EXPECT_TRUE(Has(run, "drjob: unknown DR group [Nowhere]")) << run.output;
}

TEST_F(E2EDrJobDROptionsLab, TheOptionsAreStoredInTheJobsDROptions) {
  const std::string file = m_dir + "/restore.xml";
  CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  restore.SetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid, "guid-from-file");
  std::string xml;
  ASSERT_TRUE(restore.serializeUTF8(xml));
  ASSERT_TRUE(drtest::WriteFile(file, xml));
  const SResult run = Host("run --db " + m_db +
                           " --group Sample --type testboot --job-id 700 --point-in-time 1=42 --point-in-time 1=43"
                           " --testboot-wait 3 --keep-network-adapters --no-power-on --restore-options " + file);
  SJobRecord job;
  ASSERT_EQ(EStoreResult::kOk, CJobStore::GetJob(700, job)) << run.output;
  TMMsg::JobOption options;
  ASSERT_TRUE(options.Unserialize(job.optionsXml));
  const CNMessageBase& dr =
      options.GetMsg(TMMsg::JobOption::kBackupOptions).GetMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  const CNMessageBase& info = dr.GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  EXPECT_LT(0u, info.ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds));
  ASSERT_EQ(2u, info.ListSize(TMMsg::DRReplicationInfoFields::kConfigOptions));
  EXPECT_EQ(43u, info.GetListMsg(TMMsg::DRReplicationInfoFields::kConfigOptions, 1)
                     .GetUInt64(TMMsg::DRConfigOption::kPointInTime));
  const CNMessageBase& adv = dr.GetMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
  EXPECT_EQ(3, adv.GetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime));
  EXPECT_EQ(1, adv.GetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter));
  EXPECT_EQ(0, adv.GetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM));
  EXPECT_EQ("guid-from-file", dr.GetMsg(TMMsg::DROrchestrationOption::kRestoreOptions)
                                  .GetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid));
}

TEST_F(E2EDrJobDROptionsLab, RestoreOptionsThatDoNotParseStopTheRunBeforeItStarts) {
  const std::string file = m_dir + "/bad.xml";
  ASSERT_TRUE(drtest::WriteFile(file, "not a message"));
  const SResult run = Host("run --db " + m_db + " --group Sample --type failback --restore-options " + file);
  EXPECT_EQ(2, run.code) << run.output;
  EXPECT_TRUE(Has(run, "do not parse")) << run.output;
}

}  // namespace
