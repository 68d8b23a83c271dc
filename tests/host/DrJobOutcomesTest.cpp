// What drjob run tells its operator: after the final state line, one line
// per machine of the group in the group's order with the engine's verdict
// (the phase and reason of a failure, the reason of a skip, the machines a
// job never reached), then how the job goes on; progress that never goes
// down.
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "JobTestSupport.h"
#include "host/DrJobTestSupport.h"
#include "host/SeedLab.h"
#include "jobs/PhaseRowStore.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobOutcomes : public drtest::CDrJobLabTest {
 protected:
  static void Fault(const std::string& guid, int opType, ELabFault kind, const std::string& text = std::string()) {
    drtest::PlantVMFault(guid, opType, kind, text);
  }
  // The output from the final state line on.
  static std::string FromFinalState(const SResult& r, long long jobId) {
    const size_t at = r.output.find("drjob: DR job [" + std::to_string(jobId) + "] finished with state [");
    return at == std::string::npos ? std::string() : r.output.substr(at);
  }
  static std::string Machine(long long jobId, const char* name, int replicationId, const std::string& outcome) {
    return "drjob: DR job [" + std::to_string(jobId) + "] machine [" + name + "] (replication " +
           std::to_string(replicationId) + "): " + outcome + "\n";
  }
  // The percents of a run's progress lines, in the order printed.
  static std::vector<int> Progress(const SResult& r, long long jobId) {
    std::vector<int> printed;
    const std::string mark = "drjob: DR job [" + std::to_string(jobId) + "] progress [";
    for (size_t at = r.output.find(mark); at != std::string::npos; at = r.output.find(mark, at + 1)) {
      printed.push_back(atoi(r.output.c_str() + at + mark.size()));
    }
    return printed;
  }
};

TEST_F(E2EDrJobOutcomes, AFailedAndASkippedMachineAreNamedAfterTheFinalStateLine) {
  // app-server has failed over already: the planned failover skips it.
  drtest::MarkFailedOver(201);
  // db-replica's DR VM does not start.
  Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kError, "the host refused to start the VM");

  const SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 60");
  EXPECT_EQ(8, r.code) << r.output;
  // The reason is the one the failed machine's phase row holds.
  std::vector<SPhaseRowRecord> rows;
  ASSERT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(60, rows));
  std::string reason;
  for (const SPhaseRowRecord& row : rows) {
    if (row.replicationId == 102 && row.status == Api::VIRTUAL_APP_PHASE_STATE_FAILED) reason = row.failureReason;
    EXPECT_NE(201, row.replicationId) << "a skipped machine writes no phase row";
  }
  ASSERT_FALSE(reason.empty());
  EXPECT_NE(std::string::npos, reason.find("the host refused to start the VM")) << reason;
  EXPECT_EQ("drjob: DR job [60] finished with state [4] COMPLETED WITH ERRORS\n" +
                Machine(60, "db-primary", 101, "succeeded") +
                Machine(60, "db-replica", 102,
                        "failed in phase [Power On]: " + reason +
                            "; now: failover status [Failover Failed], source VM [db-replica] on, DR VM "
                            "[db-replica-DR] off: the source VM runs") +
                Machine(60, "app-server", 201,
                        "skipped: Machine ineligible as failover Status is [Failover Complete] and sync status is "
                        "[Sync Disabled]; now: failover status [Failover Complete], source VM [app-server] on, DR "
                        "VM [app-server-DR] off: the source VM runs") +
                // The new job's command for the machine it takes; the one it
                // skips already stands where a failover puts it: no command
                // names it, least of all one that takes it back.
                "drjob: DR job [60] completed with errors and is not run again; a new DR job on DR group [Sample] "
                "(1) takes db-replica (102):\ndrjob: $ drjob run --db " +
                m_db +
                " --group 1 --type planned-failover\n"
                "drjob: DR job [60] needs no next step for app-server (201): already failed over, where a DR job of "
                "type [planned-failover] puts it\n",
            FromFinalState(r, 60));
}

// A job killed as the DR VMs of the first priority start: the machine whose
// start saw the kill ends with the failed row the kill handling writes, the
// other failed where the kill found it, and the second priority was never
// reached. Each machine records the kill at its own power-on: one that had
// finished before the other's kill was seen would end the job completed
// with errors.
TEST_F(E2EDrJobOutcomes, AKilledJobNamesWhereItsMachinesEnded) {
  Fault("dst-101", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kKillJob);
  Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kKillJob);
  const SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 61");
  EXPECT_EQ(9, r.code) << r.output;
  const std::string tail = FromFinalState(r, 61);
  EXPECT_EQ(0u, tail.find("drjob: DR job [61] finished with state [16] KILLED\n")) << r.output;
  for (const char* machine : {"db-primary] (replication 101): ", "db-replica] (replication 102): "}) {
    EXPECT_TRUE(Has(SResult{0, tail}, std::string("drjob: DR job [61] machine [") + machine + "failed"))
        << r.output;
  }
  EXPECT_TRUE(Has(SResult{0, tail},
                  Machine(61, "app-server", 201,
                          "not reached: the job was killed before priority [2] began; now: no failover status, source "
                          "VM [app-server] on, DR VM [app-server-DR] off: the source VM runs")))
      << r.output;
  EXPECT_TRUE(Has(SResult{0, tail}, "drjob: DR job [61] is continued by its restart, which takes over db-primary "
                                    "(101), db-replica (102), app-server (201):\ndrjob: $ drjob run --db " +
                                        m_db + " --job-id 61\n"))
      << r.output;
  EXPECT_EQ(6, std::count(tail.begin(), tail.end(), '\n')) << r.output;
  // Continued, every machine is done.
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const SResult again = Host("run --db " + m_db + " --job-id 61");
  EXPECT_EQ(0, again.code) << again.output;
  EXPECT_EQ("drjob: DR job [61] finished with state [0] SUCCESS\n" + Machine(61, "db-primary", 101, "succeeded") +
                Machine(61, "db-replica", 102, "succeeded") + Machine(61, "app-server", 201, "succeeded"),
            FromFinalState(again, 61));
}

// A kill seen after a machine has succeeded ends the job with errors, not
// killed: the machines the engine finished are called succeeded, the one
// the kill cut short failed, named by the kill.
TEST_F(E2EDrJobOutcomes, AKillThatEndsTheJobWithErrorsTellsTheMachineItCutShort) {
  const std::string t0 = std::to_string(kSamplePointsInTime[0]);
  Fault("dst-201", TMMsg::VM_OPERATION_POWER_OFF, ELabFault::kKillJob);
  const SResult r = Host("run --db " + m_db + " --group Sample --type point-in-time-failover --job-id 66" +
                         " --point-in-time 101=" + t0 + " --point-in-time 102=" + t0 + " --point-in-time 201=" + t0);
  EXPECT_EQ(8, r.code) << r.output;
  const std::string tail = FromFinalState(r, 66);
  EXPECT_EQ(0u, tail.find("drjob: DR job [66] finished with state [4] COMPLETED WITH ERRORS\n" +
                          Machine(66, "db-primary", 101, "succeeded") + Machine(66, "db-replica", 102, "succeeded") +
                          "drjob: DR job [66] machine [app-server] (replication 201): failed: the job was killed "))
      << r.output;
  EXPECT_EQ(6, std::count(tail.begin(), tail.end(), '\n')) << r.output;
}

// A suspended job: the machines it was working on are not processed, the
// priority it never began not reached. Each machine meets the suspend at its
// own power-on: one that finished before the other's suspend landed would
// have succeeded.
TEST_F(E2EDrJobOutcomes, ASuspendedJobNamesWhereItsMachinesStopped) {
  Fault("dst-101", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kSuspendJob);
  Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kSuspendJob);
  const SResult r = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 62");
  EXPECT_EQ(10, r.code) << r.output;
  const std::string tail = FromFinalState(r, 62);
  EXPECT_EQ(0u, tail.find("drjob: DR job [62] finished with state [32] SUSPENDED\n")) << r.output;
  EXPECT_TRUE(Has(SResult{0, tail}, "drjob: DR job [62] machine [db-primary] (replication 101): not processed: "
                                    "the job was suspended "))
      << r.output;
  EXPECT_TRUE(Has(SResult{0, tail}, "drjob: DR job [62] machine [db-replica] (replication 102): not processed: "
                                    "the job was suspended "))
      << r.output;
  EXPECT_TRUE(Has(SResult{0, tail},
                  Machine(62, "app-server", 201,
                          "not reached: the job was suspended before priority [2] began; now: no failover status, "
                          "source VM [app-server] on, DR VM [app-server-DR] off: the source VM runs")))
      << r.output;
  EXPECT_EQ(6, std::count(tail.begin(), tail.end(), '\n')) << r.output;
}

// The engine's estimate may fall back as a step's weight is recomputed; the
// printed percent only goes up.
TEST_F(E2EDrJobOutcomes, PrintedProgressNeverGoesDown) {
  struct SCase {
    const char* group;
    long long jobId;
  } const cases[] = {{"Sample", 63}, {"SampleArray", 64}, {"SampleDB", 65}};
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.group);
    const SResult r = Host("run --db " + m_db + " --group " + c.group + " --type planned-failover --job-id " +
                           std::to_string(c.jobId));
    EXPECT_EQ(0, r.code) << r.output;
    const std::vector<int> printed = Progress(r, c.jobId);
    ASSERT_FALSE(printed.empty()) << r.output;
    for (size_t i = 1; i < printed.size(); ++i) EXPECT_LT(printed[i - 1], printed[i]) << r.output;
  }
}

TEST_F(E2EDrJobOutcomes, AnUnknownTypeOrGroupNamesTheValidOnes) {
  const SResult type = Host("run --db " + m_db + " --group Sample --type failover");
  EXPECT_EQ(2, type.code);
  EXPECT_EQ("drjob: unknown DR type [failover]; the DR types are planned-failover (1), failback (2), "
            "unplanned-failover (3), revert-failover (4), undo-failover (6), testboot (7), "
            "point-in-time-failover (8), reverse-replication (9), cleanup-destination-vm (10), test-failover (11), "
            "undo-test-failover (13); drjob run --help shows its usage\n",
            type.output);
  const SResult group = Host("run --db " + m_db + " --group Samples --type planned-failover");
  EXPECT_EQ(5, group.code);
  EXPECT_EQ("drjob: unknown DR group [Samples]; the DR groups of the lab are Sample (1), SampleDB (2), "
            "SampleArray (3), SampleTest (4)\n",
            group.output);
  const SResult id = Host("run --db " + m_db + " --group 9 --type planned-failover");
  EXPECT_EQ(5, id.code);
  EXPECT_EQ(0u, id.output.find("drjob: unknown DR group [9]; the DR groups of the lab are Sample (1), ")) << id.output;
  EXPECT_TRUE(drtest::AllJobs().empty());
}

}  // namespace
