// What drjob tells of each machine is what the engine decided: over the ends
// a DR job reaches (success, a failed step, a site or array down, no point in
// time, a type the group does not take, a kill, a suspend, a crash and its
// restart), every machine of the group gets one line, the lines of each
// verdict add up to the job summary's counts, a failed machine names its
// phase, status or priority's error, a status a line names is the one the
// lab holds, drjob jobs --job N tells the same lines, and the run ends with
// how the job goes on.
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/DrJobTestSupport.h"
#include "host/SeedArrays.h"
#include "host/SeedLab.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationSources.h"
#include "repl/ReplicationStatusTexts.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

using drtest::Has;
using drtest::SResult;

// One machine line of a run: "drjob: DR job [N] machine [NAME] (replication
// R): VERDICT...".
struct SLine {
  int replicationId = 0;
  std::string text;  // from the verdict on
};

// The counts of the job's last summary report in the log; -1 where the
// report has no such line.
struct SSummary {
  int total = -1;
  int succeeded = -1;
  int failed = -1;
  int skipped = -1;
  int notProcessed = -1;
};

struct SCase {
  const char* name;
  const char* group;
  const char* type;
  std::string options;
  std::function<void(const std::string& db)> setUp;
  int state;
  // Per replication, what its line must begin with (after "): ").
  std::map<int, std::string> expected;
  // A crash at this log line first, then the run again (a restart).
  std::string crashAt;
  // A restart of the job takes some machine over; when not, the run ends
  // with each machine as it stands and says no restart takes them over.
  bool restartTakesOver = true;
};

class E2EDrJobVerdicts : public drtest::CDrJobLabTest {
 protected:
  static void Fault(const std::string& guid, int opType, ELabFault kind, const std::string& text = std::string()) {
    drtest::PlantVMFault(guid, opType, kind, text);
  }

  static std::vector<SLine> Lines(const std::string& output, long long jobId, const std::string& prefix) {
    std::vector<SLine> lines;
    const std::string mark = prefix + "DR job [" + std::to_string(jobId) + "] machine [";
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, mark.size(), mark) != 0) continue;
      const size_t at = line.find("(replication ");
      const size_t end = line.find("): ", at);
      if (at == std::string::npos || end == std::string::npos) continue;
      SLine l;
      l.replicationId = atoi(line.c_str() + at + 13);
      l.text = line.substr(end + 3);
      lines.push_back(l);
    }
    return lines;
  }

  SSummary Summary(long long jobId) const {
    SSummary s;
    const std::string log = drtest::ReadFile(m_dir + "/run/drorch.log");
    const std::string job = " " + std::to_string(jobId) + " ";
    std::istringstream in(log);
    auto value = [](const std::string& line) { return atoi(line.c_str() + line.rfind('[') + 1); };
    for (std::string line; std::getline(in, line);) {
      // "<pid> <tid> <date> <time> <job> <level> <function>(): <text>"
      std::istringstream words(line);
      std::string pid, tid, date, time, id;
      words >> pid >> tid >> date >> time >> id;
      if (id != std::to_string(jobId)) continue;
      if (line.find("JOB SUMMARY REPORT DR OPERATION") != std::string::npos) s = SSummary();
      if (line.find(" Total machines for DR ") != std::string::npos) s.total = value(line);
      if (line.find(" Total machines succeeded ") != std::string::npos) s.succeeded = value(line);
      if (line.find(" Total machines failed ") != std::string::npos) s.failed = value(line);
      if (line.find(" Total machines skipped ") != std::string::npos) s.skipped = value(line);
      if (line.find(" Total machines not processed ") != std::string::npos) s.notProcessed = value(line);
    }
    return s;
  }

  // One line per machine, in the order of expected, each beginning as it
  // says.
  static void ExpectLinesBegin(const std::vector<SLine>& lines, const std::map<int, std::string>& expected,
                               const std::string& output) {
    ASSERT_EQ(expected.size(), lines.size()) << output;
    auto next = expected.begin();
    for (const SLine& line : lines) {
      EXPECT_EQ(next->first, line.replicationId) << output;
      EXPECT_EQ(0u, line.text.find(next->second)) << line.text;
      ++next;
    }
  }

  // Whether a line the job logged holds the text.
  bool Logged(long long jobId, const std::string& text) const {
    std::istringstream in(drtest::ReadFile(m_dir + "/run/drorch.log"));
    for (std::string line; std::getline(in, line);) {
      std::istringstream words(line);
      std::string pid, tid, date, time, id;
      words >> pid >> tid >> date >> time >> id;
      if (id == std::to_string(jobId) && line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  static int Count(const std::vector<SLine>& lines, const std::string& verdict) {
    int n = 0;
    for (const SLine& l : lines) n += l.text.compare(0, verdict.size(), verdict) == 0 ? 1 : 0;
    return n;
  }

  // The status text a line names ("its failover status is [S]") is the one
  // the lab holds for the replication now.
  static void ExpectStatusOfLab(const SLine& line) {
    for (const bool test : {false, true}) {
      const std::string kind = test ? "its test failover status is [" : "its failover status is [";
      const size_t at = line.text.find(kind);
      if (at == std::string::npos) continue;
      const size_t from = at + kind.size();
      const std::string named = line.text.substr(from, line.text.find(']', from) - from);
      SSourcedReplication stored;
      ASSERT_EQ(EStoreResult::kOk, CReplicationSources::Get(line.replicationId, stored)) << line.text;
      EXPECT_EQ(named, test ? CReplicationStatusTexts::TestFailover(stored.testFailoverStatus)
                            : CReplicationStatusTexts::Failover(stored.failoverStatus))
          << line.text;
    }
  }

  void Check(const SCase& c, long long jobId) {
    SCOPED_TRACE(c.name);
    SResult r;
    const std::string run = std::string("run --db ") + m_db + " --group " + c.group + " --type " + c.type +
                            " --job-id " + std::to_string(jobId) + c.options;
    if (!c.crashAt.empty()) {
      const SResult crashed = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_CRASH_AT='" + c.crashAt + "' " +
                                               DR_DRJOB + " " + run + " 2>&1");
      ASSERT_EQ(137, crashed.code) << crashed.output;  // killed by SIGKILL
    }
    r = Host(run);
    const std::string final = "drjob: DR job [" + std::to_string(jobId) + "] finished with state [" +
                              std::to_string(c.state) + "]";
    ASSERT_TRUE(Has(r, final)) << r.output;

    // One line per machine of the group, in the group's order. A clean-up
    // takes what it removes out of the group: its restart tells those after
    // the machines the group still names.
    const std::vector<SLine> lines = Lines(r.output, jobId, "drjob: ");
    std::vector<SLine> ordered = lines;
    if (!c.crashAt.empty() && std::string(c.type) == "cleanup-destination-vm") {
      std::stable_sort(ordered.begin(), ordered.end(),
                       [](const SLine& a, const SLine& b) { return a.replicationId < b.replicationId; });
    }
    ASSERT_NO_FATAL_FAILURE(ExpectLinesBegin(ordered, c.expected, r.output));
    for (const SLine& line : lines) {
      if (line.text.compare(0, 6, "failed") == 0 || line.text.compare(0, 11, "not reached") == 0) {
        EXPECT_NE(std::string::npos, line.text.find(": ")) << "a failed machine names why: " << line.text;
        EXPECT_EQ(std::string::npos, line.text.find("(no reason recorded)")) << line.text;
      }
      ExpectStatusOfLab(line);
    }

    // The lines add up to the summary's counts.
    const SSummary s = Summary(jobId);
    ASSERT_EQ(static_cast<int>(lines.size()), s.total) << r.output;
    EXPECT_EQ(std::max(s.succeeded, 0), Count(lines, "succeeded")) << r.output;
    EXPECT_EQ(std::max(s.skipped, 0), Count(lines, "skipped")) << r.output;
    const int unfinished = s.total - std::max(s.succeeded, 0) - std::max(s.skipped, 0);
    if (s.notProcessed >= 0) {
      EXPECT_EQ(s.notProcessed, Count(lines, "not processed")) << r.output;
    }
    if (s.failed >= 0) {
      EXPECT_EQ(s.failed, Count(lines, "failed") + Count(lines, "not reached")) << r.output;
    }
    EXPECT_EQ(unfinished, Count(lines, "failed") + Count(lines, "not reached") + Count(lines, "not processed"))
        << r.output;

    // The job tells the same lines later.
    const SResult told = Host("jobs --db " + m_db + " --job " + std::to_string(jobId));
    EXPECT_EQ(0, told.code) << told.output;
    const std::vector<SLine> again = Lines(told.output, jobId, "");
    ASSERT_EQ(lines.size(), again.size()) << told.output;
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].text, again[i].text);
    EXPECT_TRUE(Has(told, "DR job [" + std::to_string(jobId) + "]: type [" + c.type + "], DR group [" + c.group +
                              "]"))
        << told.output;

    // Last, how the job goes on: a command only for the machines it takes,
    // and naming them; every other machine the job did not finish told
    // where it stands, its status the lab's.
    const std::string last = r.output.substr(r.output.rfind('\n', r.output.size() - 2) + 1);
    const std::string id = std::to_string(jobId);
    std::string command;  // the line of the job's own next step
    std::istringstream printed(r.output);
    for (std::string line; std::getline(printed, line);) {
      if (line.find("drjob: DR job [" + id + "] is continued by its restart") == 0 ||
          line.find("drjob: DR job [" + id + "] completed with errors and is not run again; ") == 0) {
        command = line;
      }
    }
    if (c.state == 0) {
      EXPECT_EQ(0u, last.find("drjob: DR job [" + id + "] machine [")) << r.output;
      return;
    } else if (c.state == 4) {
      EXPECT_FALSE(command.empty()) << r.output;
    } else if (c.restartTakesOver) {
      std::vector<std::string> told;
      const std::vector<std::string> commands = drtest::PrintedCommands(r.output, &told);
      const auto restart = std::find(commands.begin(), commands.end(), "drjob run --db " + m_db + " --job-id " + id);
      ASSERT_NE(commands.end(), restart) << r.output;
      EXPECT_EQ(command, told[restart - commands.begin()]) << r.output;
    } else {
      EXPECT_TRUE(Has(r, "drjob: DR job [" + id + "] is not continued by a restart: as its machines stand, a restart "
                         "would take none of them over\n") ||
                  Has(r, "drjob: DR job [" + id + "] is not continued by a restart: the machines it did not finish "
                         "already stand where it puts them\n"))
          << r.output;
      EXPECT_FALSE(Has(r, "continued by its restart")) << r.output;
    }
    // The line of the machines that already stand where the job's type
    // puts them, which no command names.
    std::string inPlace;
    std::istringstream printedAgain(r.output);
    for (std::string line; std::getline(printedAgain, line);) {
      if (line.find("drjob: DR job [" + id + "] needs no next step for ") == 0) inPlace += line + "\n";
    }
    for (const SLine& line : lines) {
      if (line.text == "succeeded") continue;
      const std::string named = " (" + std::to_string(line.replicationId) + ")";
      const std::string mark = "] (replication " + std::to_string(line.replicationId) + ") at ";
      const size_t at = r.output.find(mark);
      const size_t takes = command.find(" takes");
      const bool taken = takes != std::string::npos && command.find(named, takes) != std::string::npos;
      const bool placed = inPlace.find(named) != std::string::npos;
      ASSERT_EQ(1, int(taken) + int(at != std::string::npos) + int(placed))
          << "named by the command, told where it stands or already in place: " << r.output;
      if (taken || placed) continue;
      const std::string stands = r.output.substr(at + mark.size(), r.output.find('\n', at) - at - mark.size());
      SSourcedReplication stored;
      ASSERT_EQ(EStoreResult::kOk, CReplicationSources::Get(line.replicationId, stored));
      const std::string status = CReplicationStatusTexts::Failover(stored.failoverStatus);
      EXPECT_NE(std::string::npos, status.empty() ? stands.find("no failover status") : stands.find("[" + status + "]"))
          << stands;
    }
  }

  void RunCase(const SCase& c, long long jobId) {
    ASSERT_EQ(0, Host("seed --replace --db " + m_db).code);
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    if (c.setUp) c.setUp(m_db);
    Check(c, jobId);
  }
};

TEST_F(E2EDrJobVerdicts, EveryEndOfAJobTellsEachMachineAsItsSummaryCountsIt) {
  const std::string t0 = std::to_string(kSamplePointsInTime[0]);
  const std::string kNotForVMs =
      "failed: the DR type [Undo Test Failover] is not one for VM replications: the job did nothing to the machine";
  const std::string kNotForDatabases =
      "failed: the DR type [Failback] is not one for database replications: the job did nothing to the machine";
  // A status never set is named so, not "[]".
  const std::string kNeverFailedOver =
      "skipped: Machine ineligible as it has no failover status and sync status is [In Sync]";
  const std::map<int, std::string> sampleSucceeded = {{101, "succeeded"}, {102, "succeeded"}, {201, "succeeded"}};
  const SCase cases[] = {
      {"success", "Sample", "planned-failover", "", nullptr, 0, sampleSucceeded, ""},
      {"a failed step and a skip", "Sample", "planned-failover", "",
       [](const std::string&) {
         drtest::MarkFailedOver(201);
         Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kError, "the host refused to start the VM");
       },
       4,
       {{101, "succeeded"},
        {102, "failed in phase [Power On]: "},
        {201, "skipped: Machine ineligible as failover Status is [Failover Complete]"}},
       ""},
      {"the destination site down", "Sample", "planned-failover", "",
       [this](const std::string& db) { ASSERT_EQ(0, Host("lab --db " + db + " down site-b").code); }, 1,
       {{101, "failed in phase [Power Off]: Site [site-b] is down"},
        {102, "failed in phase [Power Off]: Site [site-b] is down"},
        {201, "failed in phase [Power Off]: Site [site-b] is down"}},
       ""},
      {"the destination array down", "SampleArray", "planned-failover", "",
       [this](const std::string& db) { ASSERT_EQ(0, Host("lab --db " + db + " down array-dr").code); }, 1,
       {{301, "failed: its failover status is [Failover Failed]; priority [1] logged: "},
        {302, "failed: its failover status is [Failover Failed]; priority [1] logged: "},
        {303, "failed: its failover status is [Failover Failed]; priority [1] logged: "},
        {304, "failed: its failover status is [Failover Failed]; priority [1] logged: "}},
       ""},
      // A restart would fail them for the same times: none is printed.
      {"no snapshot at the point in time", "Sample", "point-in-time-failover",
       " --point-in-time 101=111 --point-in-time 102=111 --point-in-time 201=111", nullptr, 1,
       {{101, "failed in phase [Revert Snapshot]: No snapshot of DR VM [db-primary-DR] matches the point in time [111]"},
        {102, "failed in phase [Revert Snapshot]: No snapshot of DR VM [db-replica-DR] matches the point in time [111]"},
        {201, "failed in phase [Revert Snapshot]: No snapshot of DR VM [app-server-DR] matches the point in time [111]"}},
       "", false},
      // The error names the machine it is about: the others are not told it.
      {"a point in time for one machine only", "Sample", "point-in-time-failover", " --point-in-time 101=5", nullptr,
       1,
       {{101, "failed in phase [Revert Snapshot]: No snapshot of DR VM [db-primary-DR] matches the point in time [5]; "
              "now: "},
        {102, "failed: its failover status is [Failover Failed]; priority [1] logged: GetPointInTime(): No point in "
              "time specified for replication Id [102]; now: "},
        {201, "failed: its failover status is [Failover Failed]; priority [2] logged: GetPointInTime(): No point in "
              "time specified for replication Id [201]; now: "}},
       "", false},
      {"a point in time for some machines only", "Sample", "point-in-time-failover",
       " --point-in-time 101=" + t0 + " --point-in-time 102=111 --point-in-time 201=" + t0, nullptr, 4,
       {{101, "succeeded"},
        {102, "failed in phase [Revert Snapshot]: No snapshot of DR VM [db-replica-DR] matches the point in time [111]"},
        {201, "succeeded"}},
       ""},
      {"a type the VM group does not take", "Sample", "undo-test-failover", "", nullptr, 1,
       {{101, kNotForVMs}, {102, kNotForVMs}, {201, kNotForVMs}}, "", false},
      {"a type the database group does not take", "SampleDB", "failback", "", nullptr, 1,
       {{1, kNotForDatabases}, {2, kNotForDatabases}}, "", false},
      {"a failback of machines never failed over", "Sample", "failback", "", nullptr, 1,
       {{101, kNeverFailedOver}, {102, kNeverFailedOver}, {201, kNeverFailedOver}}, "", false},
      // Every machine ends with a status the revert refuses, its restart
      // too: that restart would skip them all, sources and DR VMs off.
      {"a revert with the source site down", "Sample", "revert-failover", "",
       [this](const std::string& db) {
         ASSERT_EQ(0, Host("run --db " + db + " --group Sample --type planned-failover --job-id 799").code);
         ASSERT_EQ(0, Host("lab --db " + db + " down site-a").code);
       },
       1,
       {{101, "failed in phase [Revert Snapshot]: Site [site-a] is down"},
        {102, "failed in phase [Revert Snapshot]: Site [site-a] is down"},
        {201, "failed in phase [Revert Snapshot]: Site [site-a] is down"}},
       "", false},
      {"a kill", "Sample", "planned-failover", "",
       [](const std::string&) {
         Fault("dst-101", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kKillJob);
         Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kKillJob);
       },
       16, {{101, "failed"}, {102, "failed"}, {201, "not reached: the job was killed before priority [2] began"}},
       ""},
      {"a suspend", "Sample", "planned-failover", "",
       // Each machine of the first priority meets the suspend at its own
       // power-on: one that finished before the other's suspend landed
       // would have succeeded.
       [](const std::string&) {
         Fault("dst-101", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kSuspendJob);
         Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kSuspendJob);
       },
       32,
       {{101, "not processed: the job was suspended "},
        {102, "not processed: the job was suspended "},
        {201, "not reached: the job was suspended before priority [2] began"}},
       ""},
      {"a clean-up that crashed between its priorities, restarted", "Sample", "cleanup-destination-vm",
       " --delete-from-hypervisor", nullptr, 0, sampleSucceeded, "Wait before processing next priority"},
      {"a planned failover that crashed at its summary, restarted", "Sample", "planned-failover", "", nullptr, 0,
       sampleSucceeded, "Total machines for DR"},
      {"a database failover with a host down", "SampleDB", "planned-failover", "",
       [this](const std::string& db) { ASSERT_EQ(0, Host("lab --db " + db + " down dst1").code); }, 4,
       {{1, "failed in phase [Power On]: "}, {2, "succeeded"}}, ""},
      {"a test failover", "SampleTest", "test-failover", "", nullptr, 0, {{401, "succeeded"}, {402, "succeeded"}},
       ""},
  };
  long long jobId = 700;
  for (const SCase& c : cases) RunCase(c, ++jobId);
}

// A job whose machines all stand where its type puts them already, by an
// earlier job: a planned failover after an unplanned one, an undo failover
// of a group never failed over, the same of the storage-array group. No
// command is printed for them, least of all one that would move them back
// (a failback, a failover): one line tells they are in place, and the lab
// is left as it stood.
TEST_F(E2EDrJobVerdicts, AJobOnMachinesAlreadyWhereItPutsThemPrintsNoCommandForThem) {
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type unplanned-failover --job-id 750").code);
  struct SCase {
    const char* group;
    const char* type;
    std::vector<int> ids;
    const char* machines;
    const char* place;
  };
  const SCase cases[] = {
      {"Sample", "planned-failover", {101, 102, 201}, "db-primary (101), db-replica (102), app-server (201)",
       "already failed over"},
      {"SampleTest", "undo-failover", {401, 402}, "web-front (401), web-cache (402)", "already at the source"},
      {"SampleArray", "undo-failover", {301, 302, 303, 304},
       "snap-web (301), snap-app (302), snap-db (303), snap-files (304)", "already at the source"}};
  long long jobId = 750;
  for (const SCase& c : cases) {
    SCOPED_TRACE(std::string(c.group) + " " + c.type);
    const std::string id = std::to_string(++jobId);
    // Its statuses, whatever its kind of replication.
    auto status = [](int replicationId) {
      SSourcedReplication stored;
      EXPECT_EQ(EStoreResult::kOk, CReplicationSources::Get(replicationId, stored)) << replicationId;
      return stored.failoverStatus;
    };
    std::map<int, int> before;
    for (int replicationId : c.ids) before[replicationId] = status(replicationId);
    const SResult r = Host("run --db " + m_db + " --group " + c.group + " --type " + c.type + " --job-id " + id);
    EXPECT_EQ(1, r.code) << r.output;
    EXPECT_FALSE(Has(r, "drjob run ")) << r.output;
    EXPECT_TRUE(Has(r, "drjob: DR job [" + id + "] is not continued by a restart: the machines it did not finish "
                       "already stand where it puts them\n"))
        << r.output;
    EXPECT_TRUE(Has(r, "drjob: DR job [" + id + "] needs no next step for " + c.machines + ": " + c.place +
                           ", where a DR job of type [" + c.type + "] puts them\n"))
        << r.output;
    for (const auto& stood : before) EXPECT_EQ(stood.second, status(stood.first)) << stood.first;
  }
}

// A suspended job goes on by its restart: the run again tells the machines
// the restart finished, and the job's later account is the restart's.
TEST_F(E2EDrJobVerdicts, ARestartReplacesTheVerdictsOfTheAttemptBefore) {
  Fault("dst-101", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kSuspendJob);
  Fault("dst-102", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kSuspendJob);
  const SResult suspended = Host("run --db " + m_db + " --group Sample --type planned-failover --job-id 720");
  ASSERT_EQ(10, suspended.code) << suspended.output;
  ASSERT_TRUE(CHypervisorLab::ClearFaults());
  const SResult again = Host("run --db " + m_db + " --job-id 720");
  ASSERT_EQ(0, again.code) << again.output;
  const SResult told = Host("jobs --db " + m_db + " --job 720");
  EXPECT_TRUE(Has(told, "DR job [720]: type [planned-failover], DR group [Sample] (id 1), attempts [2], state "
                        "[Completed]\n"))
      << told.output;
  for (const SLine& line : Lines(told.output, 720, "")) EXPECT_EQ("succeeded", line.text);
  EXPECT_EQ(3u, Lines(told.output, 720, "").size()) << told.output;
}

// A job that never reached its orchestrator's run gave its machines no
// verdict: every line says so, and why, and where the machine stands; so
// does its later account.
TEST_F(E2EDrJobVerdicts, AJobThatEndsBeforeItsSummaryGivesEveryMachineNoVerdict) {
  // Records gone while the group still names them: the job finds none of
  // them and cannot be initialised.
  for (int id : {101, 102, 201}) ASSERT_EQ(EStoreResult::kOk, CReplicationStore::Remove(id));
  const SResult r = Host("run --db " + m_db + " --group Sample --type cleanup-destination-vm --job-id 731");
  EXPECT_EQ(7, r.code) << r.output;
  const std::vector<SLine> lines = Lines(r.output, 731, "drjob: ");
  ASSERT_EQ(3u, lines.size()) << r.output;
  for (const SLine& line : lines) {
    EXPECT_EQ("no verdict yet: the orchestrator could not be initialised, so the job began no machine; now: no "
              "replication record",
              line.text);
  }
  EXPECT_TRUE(Has(r, "drjob: DR job [731] is continued by its restart:\ndrjob: $ drjob run --db " + m_db + " --job-id 731\n"))
      << r.output;
  const SResult told = Host("jobs --db " + m_db + " --job 731");
  ASSERT_EQ(3u, Lines(told.output, 731, "").size()) << told.output;
  for (const SLine& line : Lines(told.output, 731, "")) {
    EXPECT_EQ("no verdict yet: the job's last attempt ended before its summary; now: no replication record",
              line.text);
  }
}

// A failback whose process died between its priorities: the first
// priority's machines are failed back, the second's still failed over. Its
// later account gives none of them a verdict, and says where each stands as
// the lab holds it.
TEST_F(E2EDrJobVerdicts, AJobWhoseProcessDiedTellsWhereEachMachineStandsWithoutAVerdict) {
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type planned-failover").code);
  const SResult crashed = drtest::RunShell(drtest::HostEnvironment(m_dir) +
                                           "DR_CRASH_AT='Wait before processing next priority' " + DR_DRJOB +
                                           " run --db " + m_db + " --group Sample --type failback --job-id 182 2>&1");
  ASSERT_EQ(137, crashed.code) << crashed.output;  // killed by SIGKILL
  const SResult told = Host("jobs --db " + m_db + " --job 182");
  EXPECT_EQ(0, told.code) << told.output;
  EXPECT_TRUE(Has(told, "DR job [182]: type [failback], DR group [Sample] (id 1), attempts [1], state [Running] (the "
                        "process that ran it has gone; its restart takes it over)\n"))
      << told.output;
  const std::string none = "no verdict yet: the job's last attempt ended before its summary; now: ";
  const std::vector<SLine> lines = Lines(told.output, 182, "");
  ASSERT_EQ(3u, lines.size()) << told.output;
  EXPECT_EQ(none + "no failover status, source VM [db-primary] on, DR VM [db-primary-DR] off: the source VM runs",
            lines[0].text);
  EXPECT_EQ(none + "no failover status, source VM [db-replica] on, DR VM [db-replica-DR] off: the source VM runs",
            lines[1].text);
  EXPECT_EQ(none + "failover status [Failover Complete], source VM [app-server] off, DR VM [app-server-DR] on: the "
                   "DR VM runs",
            lines[2].text);
  for (const SLine& line : lines) {
    EXPECT_EQ(std::string::npos, line.text.find("not reached")) << line.text;
    EXPECT_EQ(FailoverStatus(line.replicationId) == 0, line.text.find("now: no failover status") != std::string::npos)
        << line.text;
  }
}

// After a job that completed with errors drjob names the new DR job that goes
// on with the group, by the group's id: the machines it takes (the finished
// ones it runs again among them), and every option the job was made with.
// Per type, a job with one machine failed; where the case says so, the new
// job is run as printed (the fault gone): each machine's line shows what it
// did, a finished machine skipped or run again as the line says, and a
// machine that failed for its point in time fails for it again, never for a
// missing option. A revert's new job would take none: the undo printed for
// the machine whose revert failed takes it.
TEST_F(E2EDrJobVerdicts, ANewJobAfterOneThatCompletedWithErrorsIsPrintedAsItRuns) {
  enum EStart { kSeeded, kFailedOver, kArrayFailedOver, kArrayTested };
  // Start labs made by drjob alone, copied for each case: this process
  // never opens them.
  const struct {
    EStart start;
    const char* group;
    const char* type;
  } prepared[] = {{kSeeded, nullptr, nullptr},
                  {kFailedOver, "Sample", "planned-failover"},
                  {kArrayFailedOver, "SampleArray", "planned-failover"},
                  {kArrayTested, "SampleArray", "test-failover"}};
  std::map<EStart, std::string> starts;
  for (const auto& p : prepared) {
    const std::string lab = m_dir + "/start-" + std::to_string(p.start) + ".db";
    ASSERT_EQ(0, Host("seed --db " + lab).code);
    if (p.group != nullptr) {
      ASSERT_EQ(0, Host("run --db " + lab + " --group " + p.group + " --type " + p.type).code);
    }
    starts[p.start] = lab;
  }
  auto fault = [](int opType, const std::string& guid, int call = 0) {
    SLabFault f;
    f.opType = opType;
    f.vm = guid;
    f.fromCall = call > 0 ? call : 1;
    f.toCall = call > 0 ? call : 1000;
    f.kind = ELabFault::kError;
    f.code = 17;
    f.text = "planted";
    ASSERT_TRUE(CHypervisorLab::AddFault(f));
  };
  const std::string t0 = std::to_string(kSamplePointsInTime[0]);
  const std::string arrayVM = SampleArrayVMGuid(302);
  // Restore options whose placements name only priority 1's source VMs: a
  // failback restores those and fails app-server's restore, as its new job
  // would again when made with them; made without them, it restores
  // app-server.
  const std::string restore = m_dir + "/restore-priority-1.xml";
  ASSERT_TRUE(drtest::WritePriorityOneRestoreOptions(restore));
  struct SNewJobCase {
    const char* group;
    const char* type;
    EStart start;
    std::string options;  // given to the job, and printed back in this order
    std::function<void()> setUp;
    // The machines the new job takes, as its line names them ("*": the
    // fault meets whichever machine's call comes second; empty: none, the
    // revert case, whose undo is run as printed instead).
    std::string takes;
    // Run as printed when not empty: what each machine's line then begins with.
    std::map<int, std::string> again;
    std::string logged;  // a line of the new job's log an option makes
  };
  const SNewJobCase cases[] = {
      {"Sample", "planned-failover", kSeeded, "", [&] { fault(TMMsg::VM_OPERATION_POWER_ON, "dst-102"); }, "db-replica (102)",
       {}, ""},
      {"Sample", "unplanned-failover", kSeeded, "", [&] { fault(TMMsg::VM_OPERATION_POWER_ON, "dst-102"); },
       "db-replica (102)", {}, ""},
      // A time its DR VM has no snapshot of: a new job with the same times
      // would fail db-replica again, so none is printed; its line names the
      // option to give.
      {"Sample", "point-in-time-failover", kSeeded,
       " --point-in-time 101=" + t0 + " --point-in-time 102=111 --point-in-time 201=" + t0, nullptr, "", {}, ""},
      {"Sample", "testboot", kSeeded, " --testboot-wait 1", [&] { fault(TMMsg::VM_OPERATION_POWER_ON, "dst-102"); },
       "db-replica (102), and again db-primary (101), app-server (201)",
       {{101, "succeeded"}, {102, "succeeded"}, {201, "succeeded"}}, "Wait before shutdown of [1] minute(s)"},
      {"Sample", "failback", kFailedOver, "", [&] { fault(TMMsg::VM_OPERATION_SHUTDOWN, "dst-102"); }, "db-replica (102)", {},
       ""},
      // Restore options that leave app-server out: no command repeats them,
      // the failback without them, run as printed, restores it.
      {"Sample", "failback", kFailedOver, " --restore-options " + restore, nullptr, "",
       {{101, "skipped: "}, {102, "skipped: "}, {201, "succeeded"}}, ""},
      {"Sample", "revert-failover", kFailedOver, "", [&] { fault(TMMsg::VM_OPERATION_REVERT_SNAPSHOT, "src-102"); },
       // No revert takes the one whose revert failed; the undo printed for it does.
       "", {{101, "skipped: "}, {102, "succeeded"}, {201, "skipped: "}}, ""},
      {"Sample", "undo-failover", kFailedOver, "", [&] { fault(TMMsg::VM_OPERATION_SHUTDOWN, "dst-102"); },
       "db-replica (102)", {}, ""},
      {"Sample", "reverse-replication", kFailedOver, "",
       [&] { fault(TMMsg::VM_OPERATION_DELETE_SNAPSHOT, "dst-102"); },
       "db-primary (101), db-replica (102), and again app-server (201)", {}, ""},
      // Its new job, run as printed, is E2EDrJobVSAOperations' and E2EDrJobKills'.
      {"Sample", "cleanup-destination-vm", kSeeded, " --delete-from-hypervisor",
       [&] { fault(TMMsg::VM_OPERATION_DELETE, "dst-201"); }, "app-server (201)", {}, ""},
      {"SampleTest", "test-failover", kSeeded, "", [&] { fault(TMMsg::VM_OPERATION_POWER_ON, "", 2); },
       "*", {{401, "succeeded"}, {402, "succeeded"}}, ""},
      {"SampleDB", "planned-failover", kSeeded, "",
       [this] { ASSERT_EQ(0, Host("lab --db " + m_db + " down dst1").code); }, "ORCL1 (1), and again ORCL2 (2)",
       {{1, "succeeded"}, {2, "succeeded"}}, ""},
      {"SampleArray", "planned-failover", kSeeded, "", [&] { fault(TMMsg::VM_OPERATION_SNAP_MOUNT, arrayVM); },
       "snap-app (302)", {}, ""},
      {"SampleArray", "unplanned-failover", kSeeded, "", [&] { fault(TMMsg::VM_OPERATION_SNAP_MOUNT, arrayVM); },
       "snap-app (302)", {}, ""},
      {"SampleArray", "test-failover", kSeeded, "", [&] { fault(TMMsg::VM_OPERATION_SNAP_MOUNT, arrayVM); },
       "snap-app (302)", {}, ""},
      {"SampleArray", "undo-failover", kArrayFailedOver, "", [&] { fault(TMMsg::VM_OPERATION_POWER_ON, "", 2); },
       "*", {}, ""},
      {"SampleArray", "undo-test-failover", kArrayTested, "",
       [&] { fault(TMMsg::VM_OPERATION_SNAP_UNMOUNT, "", 2); },
       "*", {}, ""},
  };
  long long jobId = 740;
  for (const SNewJobCase& c : cases) {
    SCOPED_TRACE(std::string(c.group) + " " + c.type);
    const std::string id = std::to_string(++jobId);
    // The case's lab is a copy of its start lab, opened here only after.
    CDBConnection::CloseThreadConnections();
    ASSERT_EQ(0, drtest::RunShell("rm -f " + m_db + " " + m_db + "-wal " + m_db + "-shm && cp " + starts[c.start] +
                                  " " + m_db)
                     .code);
    if (c.setUp) c.setUp();
    const SResult r = Host("run --db " + m_db + " --group " + c.group + " --type " + c.type + " --job-id " + id +
                           c.options);
    ASSERT_EQ(8, r.code) << r.output;
    // The group by its id, which --group reads first.
    const size_t ofGroup = r.output.find("] (id ");
    ASSERT_NE(std::string::npos, ofGroup) << r.output;
    const std::string groupId = std::to_string(atoi(r.output.c_str() + ofGroup + 6));
    const std::string command = "drjob run --db " + m_db + " --group " + groupId + " --type " + c.type + c.options;
    const std::string intro = "drjob: DR job [" + id + "] completed with errors and is not run again; ";
    const size_t from = r.output.find(intro);
    ASSERT_NE(std::string::npos, from) << r.output;
    // The line, and the line of its command when one follows.
    const size_t lineEnd = r.output.find('\n', from) + 1;
    const bool commandFollows = r.output.compare(lineEnd, 9, "drjob: $ ") == 0;
    const std::string last =
        r.output.substr(from, (commandFollows ? r.output.find('\n', lineEnd) + 1 : lineEnd) - from);
    // "*": whichever machine the fault met (the calls run at once).
    const std::string takes =
        c.takes != "*" ? c.takes : last.substr(last.find(") takes ") + 8, last.find(":\n") - last.find(") takes ") - 8);
    EXPECT_EQ(intro + (takes.empty() ? "a new DR job of its type would take none of the machines it did not "
                                         "finish, as they stand"
                                       : "a new DR job on DR group [" + std::string(c.group) + "] (" + groupId +
                                             ") takes " + takes + ":\ndrjob: $ " + command) +
                  "\n",
              last)
        << r.output;
    if (std::string(c.type) == "point-in-time-failover") {
      EXPECT_TRUE(Has(r, "drjob: DR job [" + id + "] leaves machine [db-replica] (replication 102) at failover status "
                         "[Failover Failed], sync status [In Sync]: a new DR job of type [point-in-time-failover] "
                         "takes it given a point in time its DR VM has a snapshot of: give `--point-in-time "
                         "102=TIME`\n"))
          << r.output;
    }
    if (c.again.empty()) continue;
    // Where the job's own type takes nothing, the type that takes what it
    // left, as printed.
    std::string printed = last;
    if (c.takes.empty()) {
      const size_t other = r.output.find("drjob: DR job [" + id + "]: a new DR job of type [");
      ASSERT_NE(std::string::npos, other) << r.output;
      printed = r.output.substr(other, r.output.find('\n', r.output.find('\n', other) + 1) + 1 - other);
    }
    ASSERT_TRUE(CHypervisorLab::ClearFaults());
    if (std::string(c.group) == "SampleDB") {
      ASSERT_EQ(0, Host("lab --db " + m_db + " up dst1").code);
    }
    const std::vector<std::string> commands = drtest::PrintedCommands(printed);
    ASSERT_EQ(1u, commands.size()) << r.output;
    const SResult next = Host(commands.front().substr(6));
    const size_t named = next.output.find("drjob: DR job [");
    ASSERT_NE(std::string::npos, named) << next.output;
    const long long newId = atoll(next.output.c_str() + named + 15);
    ASSERT_NO_FATAL_FAILURE(ExpectLinesBegin(Lines(next.output, newId, "drjob: "), c.again, next.output));
    EXPECT_FALSE(Has(next, "No point in time specified")) << next.output;
    if (!c.logged.empty()) {
      EXPECT_TRUE(Logged(newId, c.logged)) << c.logged;
    }
  }
}

// A restarted clean-up counts as its own success only a removal its earlier
// attempts' rows record: the replications another clean-up removed while
// it was down leave it unable to start, not succeeded.
TEST_F(E2EDrJobVerdicts, ARestartedCleanUpTakesNoCreditForAnotherJobsRemovals) {
  const SResult crashed = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_CRASH_AT='Processing PRIORITY [1]' " +
                                           DR_DRJOB + " run --db " + m_db +
                                           " --group Sample --type cleanup-destination-vm --job-id 116 2>&1");
  ASSERT_EQ(137, crashed.code) << crashed.output;
  ASSERT_EQ(0, Host("run --db " + m_db + " --group Sample --type cleanup-destination-vm --job-id 115").code);
  const SResult again = Host("run --db " + m_db + " --job-id 116");
  // Nothing is left for 116 to do, and nothing of what 115 did is 116's:
  // each machine is skipped, and no restart is offered that would find the
  // same.
  EXPECT_EQ(1, again.code) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [116] ran before: this run is a restart")) << again.output;
  EXPECT_FALSE(Has(again, "SUCCESS")) << again.output;
  const std::vector<SLine> lines = Lines(again.output, 116, "drjob: ");
  ASSERT_EQ(3u, lines.size()) << again.output;
  for (const SLine& line : lines) {
    EXPECT_EQ(
        "skipped: its replication has no record any more, and no earlier attempt of this job removed it; now: no "
        "replication record",
        line.text);
  }
  EXPECT_FALSE(Has(again, "continued by its restart")) << again.output;
  EXPECT_TRUE(Has(again, "drjob: DR job [116] is not continued by a restart")) << again.output;
  // The group names none of them any more; the job's own record still
  // does: each skipped machine is named, told where it stands and that no
  // DR type takes it.
  for (const auto& machine : std::map<int, std::string>{{101, "db-primary"}, {102, "db-replica"}, {201, "app-server"}}) {
    const std::string id = std::to_string(machine.first);
    EXPECT_TRUE(Has(again, "drjob: DR job [116] machine [" + machine.second + "] (replication " + id + "): skipped: "))
        << again.output;
    EXPECT_TRUE(Has(again, "drjob: DR job [116] leaves machine [" + machine.second + "] (replication " + id +
                               ") at no replication record: no DR type that puts it where a DR job of type "
                               "[cleanup-destination-vm] does takes it as it stands"))
        << again.output;
  }
}

// A clean-up takes the replications it removes out of their group: what
// the job tells of its machines, in its run and in drjob jobs, before and
// after its restart, comes from its own record, every machine by its name,
// in the order the group had when the job was made.
TEST_F(E2EDrJobVerdicts, ACleanUpsMachinesAreToldByNameInOneOrderAfterItRewroteTheGroup) {
  auto machines = [](const std::string& output, const std::string& prefix) {
    std::vector<std::string> named;
    const std::string mark = prefix + "DR job [115] machine [";
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
      if (line.compare(0, mark.size(), mark) != 0) continue;
      named.push_back(line.substr(mark.size() - 1, line.find(')') + 1 - (mark.size() - 1)));
    }
    return named;
  };
  const std::vector<std::string> all = {"[db-primary] (replication 101)", "[db-replica] (replication 102)",
                                        "[app-server] (replication 201)"};
  const SResult crashed = drtest::RunShell(drtest::HostEnvironment(m_dir) +
                                           "DR_CRASH_AT='Wait before processing next priority' " + DR_DRJOB +
                                           " run --db " + m_db +
                                           " --group Sample --type cleanup-destination-vm --delete-from-hypervisor "
                                           "--job-id 115 2>&1");
  ASSERT_EQ(137, crashed.code) << crashed.output;
  const SResult before = Host("jobs --db " + m_db + " --job 115");
  ASSERT_EQ(0, before.code) << before.output;
  EXPECT_EQ(all, machines(before.output, "")) << before.output;
  EXPECT_TRUE(Has(before, "machine [db-primary] (replication 101): no verdict yet: the job's last attempt ended "
                          "before its summary; now: no replication record"))
      << before.output;
  const SResult restart = Host("run --db " + m_db + " --job-id 115");
  ASSERT_EQ(0, restart.code) << restart.output;
  EXPECT_EQ(all, machines(restart.output, "drjob: ")) << restart.output;
  const SResult after = Host("jobs --db " + m_db + " --job 115");
  EXPECT_EQ(all, machines(after.output, "")) << after.output;
}

TEST_F(E2EDrJobVerdicts, NamesWithControlCharactersAreEchoedOnOneLine) {
  // The shell's printf makes the control characters.
  const SResult group = Host("run --db " + m_db + " --group \"$(printf 'Sam\\nple\\033[2J')\" --type planned-failover");
  EXPECT_EQ(5, group.code) << group.output;
  EXPECT_EQ(0u, group.output.find("drjob: unknown DR group [Sam\\nple\\x1b[2J]; the DR groups of the lab are "))
      << group.output;
  EXPECT_EQ(1, std::count(group.output.begin(), group.output.end(), '\n')) << group.output;
  const SResult type = Host("run --db " + m_db + " --group Sample --type \"$(printf 'fail\\tover')\"");
  EXPECT_EQ(2, type.code) << type.output;
  EXPECT_EQ(0u, type.output.find("drjob: unknown DR type [fail\\tover]; ")) << type.output;
  const SResult vm = Host("lab --db " + m_db + " write \"$(printf 'db\\r-primary')\"");
  EXPECT_EQ(5, vm.code) << vm.output;
  EXPECT_EQ("drjob: no VM [db\\r-primary] in the lab\n", vm.output);

  // A group's name is the lab's, not the user's: one that holds a line of
  // drjob's own, a next step on another group, is printed escaped in the
  // run's header, in the next-step lines and by jobs --job N, so the only
  // commands printed are the job's.
  const std::string forged =
      "drjob: DR job [7]: a new DR job of type [cleanup-destination-vm] on DR group [SampleTest] (4) takes "
      "web-front (401): drjob run --db " +
      m_db + " --group 4 --type cleanup-destination-vm --delete-from-hypervisor";
  Sql("UPDATE PLT_DRGroups SET name = 'Sample' || char(10) || '" + forged + "' || char(10) || 'x' WHERE id = 1");
  // So may the names of its machines and VMs, which the machine lines, the
  // "now:" lines and the next steps print.
  Sql("UPDATE PLT_DRGroups SET xml = replace(xml, '>app-server<', '>app-server' || char(10) || '" + forged +
      "<') WHERE id = 1");
  Sql("UPDATE PLT_HvVMs SET name = name || char(10) || '" + forged + "' WHERE guid IN ('src-201', 'dst-201')");
  Fault("dst-201", TMMsg::VM_OPERATION_POWER_ON, ELabFault::kError, "the host refused to start the VM");
  const std::string shown = "Sample\\n" + forged + "\\nx";
  const SResult run = Host("run --db " + m_db + " --group 1 --type planned-failover --job-id 7");
  EXPECT_EQ(8, run.code) << run.output;
  const SResult shownJob = Host("jobs --db " + m_db + " --job 7");
  EXPECT_EQ(0, shownJob.code) << shownJob.output;
  for (const SResult* r : {&run, &shownJob}) {
    std::istringstream in(r->output);
    for (std::string line; std::getline(in, line);) {
      // Every mention of the other group's clean-up stands inside a name.
      const size_t cleanup = line.find("cleanup-destination-vm");
      const size_t name = line.find("\\n" + forged);
      EXPECT_TRUE(cleanup == std::string::npos || (name != std::string::npos && cleanup > name)) << line;
      EXPECT_EQ(0u, line.find(r == &run ? "drjob: " : "")) << line;
    }
  }
  EXPECT_TRUE(Has(run, "drjob: DR job [7] on DR group [" + shown + "] (id 1), type [planned-failover]\n"))
      << run.output;
  const std::string machine = "app-server\\n" + forged;
  EXPECT_TRUE(Has(run, "DR group [" + shown + "] (1) takes app-server (201):\ndrjob: $ drjob run --db " + m_db))
      << run.output;
  EXPECT_TRUE(Has(run, "drjob: DR job [7] machine [" + machine + "] (replication 201): failed in phase [Power On]"))
      << run.output;
  EXPECT_TRUE(Has(run, "DR VM [app-server-DR\\n" + forged + "] off")) << run.output;
  EXPECT_TRUE(Has(shownJob, "DR job [7]: type [planned-failover], DR group [" + shown + "] (id 1)")) << shownJob.output;
}

}  // namespace
