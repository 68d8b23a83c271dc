// Failovers of the sample group through drjob, steered from this process:
// the lab's kill and suspend triggers reach the DR job in its own process.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "jobsim/JobSimulator.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobFailover : public drtest::CDrJobLabTest {
 protected:
  static SLabVM VM(long long instanceId, const std::string& guid) {
    SLabVM vm;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::GetVM(instanceId, guid, vm));
    return vm;
  }
  // The trigger on the calls of an operation type on a VM.
  static void Trigger(const std::string& guid, int opType, ELabFault kind) {
    SLabFault fault;
    fault.opType = opType;
    fault.vm = guid;
    fault.kind = kind;
    ASSERT_TRUE(CHypervisorLab::AddFault(fault));
  }
  static constexpr int kReplications[] = {101, 102, 201};
};

TEST_F(E2EDrJobFailover, ThePlannedFailoverSucceedsAndTheGroupCannotFailOverTwice) {
  const SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 40");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [40] finished with state [0] SUCCESS")) << r.output;
  for (int id : kReplications) {
    EXPECT_FALSE(VM(3, "src-" + std::to_string(id)).poweredOn);
    EXPECT_TRUE(VM(4, "dst-" + std::to_string(id)).poweredOn);
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(id));
  }
  const SResult again = Host("run --db " + m_db + " --group Sample --type unplanned-failover --job-id 41");
  EXPECT_EQ(1, again.code) << again.output;
}

// The source site is down: the failback's restore there fails as the calls
// there do, the workload stays on the DR VMs, and the restart once the site
// is back brings it home.
TEST_F(E2EDrJobFailover, AFailbackIntoASourceSiteThatIsDownFailsAndItsRestartFinishesIt) {
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 45").code);
  ASSERT_EQ(0, Host("lab --db " + m_db + " down site-a").code);
  const SResult down = Host("run --db " + m_db + " --group Sample --type failback --job-id 46");
  ASSERT_EQ(1, down.code) << down.output;
  for (int id : kReplications) {
    EXPECT_TRUE(Has(down, "(replication " + std::to_string(id) + "): failed")) << down.output;
    const SLabVM source = VM(3, "src-" + std::to_string(id));
    EXPECT_FALSE(source.poweredOn) << id;
    // A restore would have replaced the source's disks, snapshots and all.
    std::vector<SLabSnapshot> snaps;
    ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(3, source.guid, snaps));
    EXPECT_FALSE(snaps.empty()) << id;
    EXPECT_TRUE(VM(4, "dst-" + std::to_string(id)).poweredOn) << id;
    EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILBACK_FAILED, FailoverStatus(id));
  }
  ASSERT_EQ(0, Host("lab --db " + m_db + " up site-a").code);
  const SResult again = Host("run --db " + m_db + " --job-id 46");
  ASSERT_EQ(0, again.code) << again.output;
  for (int id : kReplications) {
    EXPECT_TRUE(VM(3, "src-" + std::to_string(id)).poweredOn) << id;
    EXPECT_FALSE(VM(4, "dst-" + std::to_string(id)).poweredOn) << id;
  }
}

TEST_F(E2EDrJobFailover, TheLabsKillTriggerReachesTheJobInItsProcess) {
  Trigger("dst-101", TMMsg::VM_OPERATION_POWER_OFF, ELabFault::kKillJob);
  const SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 42");
  EXPECT_EQ(9, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [42] finished with state [16] KILLED")) << r.output;
  for (int id : kReplications) {
    EXPECT_TRUE(VM(3, "src-" + std::to_string(id)).poweredOn);
    EXPECT_NE(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(id));
  }
}

TEST_F(E2EDrJobFailover, ASuspendedFailoverRestartsToSuccessLaunchingNothingTwice) {
  Trigger("src-101", TMMsg::VM_OPERATION_SHUTDOWN, ELabFault::kSuspendJob);
  const SResult suspended = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 43");
  ASSERT_EQ(10, suspended.code) << suspended.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 43");
  ASSERT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: DR job [43] ran before: this run is a restart")) << r.output;
  std::vector<SChildJobRecord> jobs;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
  // One backup and one sync for each of the group's two priorities.
  int backups = 0, syncs = 0;
  for (const SChildJobRecord& job : jobs) {
    if (job.vmChild) continue;
    backups += job.type == EChildJobType::kBackup ? 1 : 0;
    syncs += job.type == EChildJobType::kSync ? 1 : 0;
  }
  EXPECT_EQ(2, backups);
  EXPECT_EQ(2, syncs);
  for (int id : kReplications) EXPECT_EQ(App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE, FailoverStatus(id));
}

}  // namespace
