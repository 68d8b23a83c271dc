// Golden runs: what the system writes and sends, compared line by line with
// what it wrote and sent before. A restructuring that should change nothing
// must leave these files as they are; a change that means to alter them
// regenerates them with DR_UPDATE_GOLDEN=1 and shows the difference in review.
//
// Times, process and thread ids, the machine's name and the temporary folder
// are masked; everything else is compared byte for byte.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/SDRPriority.h"
#include "TestSupport.h"
#include "core/RequestTap.h"
#include "db/DBConnection.h"
#include "db/ZNGlobalParam.h"
#include "engine/DRRecordsTestSupport.h"
#include "host/DrJobTestSupport.h"

namespace {

using drtest::ReadFile;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string HostName() {
  char name[256] = {0};
  gethostname(name, sizeof(name) - 1);
  return name;
}

// Compares with tests/e2e/golden/<name>, or writes it when asked to.
void ExpectGolden(const std::string& name, const std::string& actual) {
  const std::string path = std::string(DR_SOURCE_DIR) + "/tests/e2e/golden/" + name;
  const char* update = getenv("DR_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, f) << path;
    fwrite(actual.data(), 1, actual.size(), f);
    fclose(f);
    return;
  }
  const std::string expected = ReadFile(path);
  ASSERT_FALSE(expected.empty()) << "no golden file " << path << " (DR_UPDATE_GOLDEN=1 writes it)";
  if (expected == actual) return;
  // Point at the first line that differs rather than dumping both texts.
  std::istringstream e(expected), a(actual);
  std::string el, al;
  for (int line = 1;; ++line) {
    const bool moreE = static_cast<bool>(std::getline(e, el));
    const bool moreA = static_cast<bool>(std::getline(a, al));
    if (!moreE && !moreA) break;
    if (!moreE || !moreA || el != al) {
      ADD_FAILURE() << name << " differs at line " << line << "\n  golden: " << (moreE ? el : "<end>")
                    << "\n  actual: " << (moreA ? al : "<end>");
      return;
    }
  }
}

std::string TappedRequests() {
  std::string out;
  for (const STappedRequest& r : CRequestTap::Taken()) {
    out += "== " + r.entry + " " + std::to_string(r.messageType) + " result " + std::to_string(r.result) + "\n";
    out += "request: " + r.request + "\n";
    out += "reply: " + r.reply + "\n";
  }
  return out;
}

std::string PhaseRowsText(long long jobId) {
  std::string out;
  CDBConnection* c = CDBConnection::ForThread();
  if (!c || c->EnsureTable("App_VirtualAppJobStats") != DB_OK) return "no table\n";
  sqlite3_stmt* s = c->Prepare(
      "SELECT jobId, haldenId, vappId, clientId, replicationId, phase, phaseName, status, details, failureReason, "
      "appTypeId, startTime > 0, endTime > 0 FROM App_VirtualAppJobStats WHERE jobId = ? ORDER BY replicationId, "
      "phase");
  if (!s) return "no statement\n";
  sqlite3_bind_int64(s, 1, jobId);
  while (sqlite3_step(s) == SQLITE_ROW) {
    for (int col = 0; col < 13; ++col) {
      const unsigned char* t = sqlite3_column_text(s, col);
      out += (col ? " | " : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
    }
    out += "\n";
  }
  c->Release(s);
  return out;
}

// ---- the host on the seeded lab ----

int RunHost(const std::string& dir, const std::string& args, const std::string& env = std::string()) {
  const std::string command = env + "DR_RUN_DIR='" + dir + "/run' DR_LOCK_DIR='" + dir +
                              "/locks' DR_TIME_SCALE=0.001 " + std::string(DR_DRJOB) + " " + args +
                              " >/dev/null 2>&1";
  const int status = system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The log without what changes from run to run.
std::string MaskedLog(const std::string& log, const std::string& dir) {
  static const std::regex prefix(R"(^\d+ [0-9a-f]+ \d\d/\d\d \d\d:\d\d:\d\d\.\d{3} )");
  std::string out;
  std::istringstream in(Replace(Replace(log, dir, "<dir>"), HostName(), "<host>"));
  std::string line;
  // A completion token names the waiting thread.
  static const std::regex token(R"(DRSrvc\|(\d+)\|\d+\|)");
  // The run that died is named by its process.
  static const std::regex pid(R"(pid \[\d+\])");
  std::vector<std::string> lines;
  size_t poolMade = std::string::npos;
  while (std::getline(in, line)) {
    line = std::regex_replace(std::regex_replace(line, prefix, ""), token, "DRSrvc|$1|<thread>|");
    line = std::regex_replace(line, pid, "pid [<pid>]");
    // A pool's one worker may start its first item before the thread that
    // filled the pool says it waits: both orders are the same run, told in
    // one.
    if (line.find("InitDrThreadPool(): Initialized thread pool") != std::string::npos) poolMade = lines.size();
    if (line.find("ThreadPoolWait(): Waiting for all") != std::string::npos && poolMade != std::string::npos) {
      lines.insert(lines.begin() + static_cast<long>(poolMade) + 1, line);
      poolMade = std::string::npos;
      continue;
    }
    lines.push_back(line);
  }
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

TEST(E2EGolden, SeededRunAndItsRestartLogTheSameLines) {
  const std::string dir = drtest::MakeTempDir("golden");
  ASSERT_EQ(0, RunHost(dir, "seed --db " + dir + "/lab.db"));
  {
    // One machine at a time, so the lines of the machines' threads come in
    // one order.
    CDBConnection::SetPath(dir + "/lab.db");
    ASSERT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
  // The failover dies after its last machine, before its final state; its
  // restart finds every machine completed by the run that died and ends as
  // that run would have. An unplanned failover waits on no child job, whose
  // progress lines would differ from run to run.
  EXPECT_NE(0, RunHost(dir, "run --db " + dir + "/lab.db --group Sample --type unplanned-failover --job-id 424242",
                       "DR_CRASH_AT='Total machines for DR' "));
  ASSERT_EQ(0, RunHost(dir, "run --db " + dir + "/lab.db --group Sample --type unplanned-failover --job-id 424242"));
  ExpectGolden("seeded_run.log", MaskedLog(ReadFile(dir + "/run/drorch.log"), dir));
  drtest::RemoveTree(dir);
}

// ---- phase rows, the approval row and the previous-run query ----

class E2EGoldenRows : public CDRRecordsTestBase {
 protected:
  void TearDown() override {
    CRequestTap::SetEnabled(false);
    CRequestTap::Clear();
    CDRRecordsTestBase::TearDown();
  }
};

TEST_F(E2EGoldenRows, PhaseRowsApprovalAndHistorySendAndStoreTheSame) {
  const long long jobId = 424242LL;
  for (int id : {41, 42}) StoreRepl(Repl(id));
  StartJob(JobOptions(false), "", jobId);
  CRequestTap::Clear();
  CRequestTap::SetEnabled(true);

  SDataSourceInfo info;
  info.jobId = jobId;
  info.drGroupId = kGroup;
  info.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  info.replIds = {41, 42};
  CDRDataSource source(info);
  ASSERT_TRUE(source.IsDataLoaded());
  SDRPriority priority;
  priority.order = 1;
  std::vector<std::unique_ptr<CDRInfo>> machines;
  for (int id : {41, 42}) {
    info.replId = id;
    SDRInfoCtx ctx(&source, info, priority);
    ctx.drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
    ctx.jobManager = m_jm.get();
    machines.emplace_back(new CDRInfo(ctx));
  }
  SDRPhaseCtx running(jobId, Api::VIRTUAL_APP_PHASE_BACKUP, Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS,
                      Api::DR_SITE_SOURCE, true);
  machines[0]->UpdatePhase(running);
  SDRPhaseCtx failed = running;
  failed.state = Api::VIRTUAL_APP_PHASE_STATE_FAILED;
  failed.message = "disk full 'quoted'";
  machines[0]->UpdatePhase(failed);
  SDRPhaseCtx done(jobId, Api::VIRTUAL_APP_PHASE_POWER_OFF, Api::VIRTUAL_APP_PHASE_STATE_SUCCESS,
                   Api::DR_SITE_SOURCE, true);
  machines[1]->UpdatePhase(done);

  long long approvalJob = 0;
  ASSERT_TRUE(m_jm->StartDRApprovalJob("Planned Failover", kOwner, kClientId, kGroup, jobId, approvalJob));

  // A restart reads the rows back.
  CDRJobManager again;
  ZNDROrchestrationClnt client(jobId);
  ASSERT_TRUE(again.Initialize(client, 0, 2));

  std::string requests = TappedRequests();
  requests = Replace(requests, "jobs " + std::to_string(approvalJob), "jobs <approval job>");
  ExpectGolden("phase_rows_requests.txt", requests);
  ExpectGolden("phase_rows.txt", PhaseRowsText(jobId));
}

}  // namespace
