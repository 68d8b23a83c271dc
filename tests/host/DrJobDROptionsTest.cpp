// The DR options of drjob run: each is checked before anything runs and
// lands in the DR job's DR orchestration options where the system reads it.
#include <stdio.h>

#include <string>
#include <vector>

#include "JobTestSupport.h"
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
                                "can hold, not [35792]; drjob run --help shows its usage\n"},
      {"--testboot-wait 99999999999", "--testboot-wait takes at most [35791] minutes, the longest wait the "
                                      "testboot step can hold, not [99999999999]; drjob run --help shows its usage\n"},
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

// Each option lands where the type that reads it looks.
TEST_F(E2EDrJobDROptionsLab, TheOptionsAreStoredInTheJobsDROptions) {
  const std::string file = m_dir + "/restore.xml";
  CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  restore.SetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid, "guid-from-file");
  std::string xml;
  ASSERT_TRUE(restore.serializeUTF8(xml));
  ASSERT_TRUE(drtest::WriteFile(file, xml));
  const std::string run = "run --db " + m_db + " --group Sample";
  Host(run + " --type point-in-time-failover --job-id 700 --point-in-time 102=42 --point-in-time 101=43");
  Host(run + " --type testboot --job-id 701 --testboot-wait 3 --keep-network-adapters");
  Host(run + " --type failback --job-id 702 --no-power-on");
  Host(run + " --type reverse-replication --job-id 703 --restore-options " + file);
  TMMsg::JobOption options[4];
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(options[i].Unserialize(Job(700 + i).optionsXml)) << i;
  auto dr = [&options](int i) -> const CNMessageBase& {
    return options[i].GetMsg(TMMsg::JobOption::kBackupOptions).GetMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  };
  const CNMessageBase& info = dr(0).GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  EXPECT_EQ(3u, info.ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds));
  ASSERT_EQ(2u, info.ListSize(TMMsg::DRReplicationInfoFields::kConfigOptions));
  EXPECT_EQ(101, info.GetListMsg(TMMsg::DRReplicationInfoFields::kConfigOptions, 1)
                     .GetInt32(TMMsg::DRConfigOption::kReplicationId));
  EXPECT_EQ(43u, info.GetListMsg(TMMsg::DRReplicationInfoFields::kConfigOptions, 1)
                     .GetUInt64(TMMsg::DRConfigOption::kPointInTime));
  const CNMessageBase& adv = dr(1).GetMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
  EXPECT_EQ(3, adv.GetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime));
  EXPECT_EQ(1, adv.GetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter));
  EXPECT_FALSE(adv.Has(TMMsg::DRAdvancedOptionFields::kPowerOnVM));
  EXPECT_EQ(0, dr(2).GetMsg(TMMsg::DROrchestrationOption::kAdvancedOptions)
                   .GetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM));
  EXPECT_EQ("guid-from-file", dr(3).GetMsg(TMMsg::DROrchestrationOption::kRestoreOptions)
                                  .GetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid));
}

// An option the type does not read, the same replication twice or one the
// group does not hold would be kept and never used: one error line, nothing
// made.
TEST_F(E2EDrJobDROptionsLab, AnOptionTheJobWouldNotUseIsOneLineAndMakesNoJob) {
  const std::string file = m_dir + "/restore.xml";
  CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  std::string xml;
  ASSERT_TRUE(restore.serializeUTF8(xml));
  ASSERT_TRUE(drtest::WriteFile(file, xml));
  // A refusal the arguments alone tell points at the usage; one the group
  // tells does not.
  const std::string usage = "; drjob run --help shows its usage\n";
  const std::string restoreTypes = " goes only with --type failback or reverse-replication" + usage;
  const std::pair<std::string, std::string> cases[] = {
      {"--type planned-failover --point-in-time 101=42",
       "--point-in-time goes only with --type point-in-time-failover" + usage},
      {"--type failback --testboot-wait 3", "--testboot-wait goes only with --type testboot" + usage},
      {"--type test-failover --keep-network-adapters",
       "--keep-network-adapters goes only with --type testboot" + usage},
      {"--type testboot --no-power-on", "--no-power-on" + restoreTypes},
      {"--type 1 --restore-options " + file, "--restore-options" + restoreTypes},
      {"--type failback --no-power-on --restore-options " + file,
       "--no-power-on is not read with --restore-options: the restore options say whether the VMs power on" + usage},
      {"--type testboot --testboot-wait 3 --testboot-wait 5",
       "option --testboot-wait is given twice ([3] and [5]), but takes one value" + usage},
      {"--type failback --restore-options " + file + " --restore-options other.xml",
       "option --restore-options is given twice ([" + file + "] and [other.xml]), but takes one value" + usage},
      {"--type point-in-time-failover --point-in-time 101=42 --point-in-time 102=7 --point-in-time 101=43",
       "--point-in-time names replication [101] twice; a replication takes one point in time" + usage},
      {"--type point-in-time-failover --point-in-time 101=42 --point-in-time 401=43",
       "--point-in-time names replication [401], which DR group [Sample] does not hold; its replications are "
       "101, 102, 201\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const SResult r = Host("run --db " + m_db + " --group Sample --job-id 90 " + c.first);
    EXPECT_EQ(2, r.code) << r.output;
    EXPECT_EQ("drjob: " + c.second, r.output);
  }
  EXPECT_TRUE(drtest::AllJobs().empty());
}

TEST_F(E2EDrJobDROptionsLab, RestoreOptionsThatDoNotParseStopTheRunBeforeItStarts) {
  const std::string file = m_dir + "/bad.xml";
  ASSERT_TRUE(drtest::WriteFile(file, "not a message"));
  const SResult run = Host("run --db " + m_db + " --group Sample --type failback --restore-options " + file);
  EXPECT_EQ(2, run.code) << run.output;
  EXPECT_TRUE(Has(run, "do not parse")) << run.output;
}

}  // namespace
