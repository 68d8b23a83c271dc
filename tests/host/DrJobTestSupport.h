// The host program as the end-to-end tests run it: in a run folder of its
// own at the tests' time scale, on a seeded lab the test process also opens
// to read back and steer what the host did.
#pragma once

#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "db/DBConnection.h"
#include "jobs/JobStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicationStore.h"
#include "settings/ZNPlatformInfo.h"
#include "vm/HypervisorLab.h"

namespace drtest {

struct SResult {
  int code;
  std::string output;
};

// A shell command line; its output and error output together.
inline SResult RunShell(const std::string& command) {
  SResult result{-1, std::string()};
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) result.output += buffer;
  int status = pclose(pipe);
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The environment of a host run in a run folder of its own, at the tests'
// time scale; later assignments on the same line override these.
inline std::string HostEnvironment(const std::string& runDir) {
  return "DR_RUN_DIR='" + runDir + "/run' DR_LOCK_DIR='" + runDir + "/locks' DR_TIME_SCALE=0.001 ";
}

// The host runs in a run folder of its own, at the tests' time scale.
inline SResult RunDrJob(const std::string& args, const std::string& runDir = std::string()) {
  const std::string env = runDir.empty() ? std::string() : HostEnvironment(runDir);
  return RunShell(env + std::string(DR_DRJOB) + " " + args + " 2>&1");
}

inline bool Has(const SResult& r, const std::string& text) { return r.output.find(text) != std::string::npos; }

// The commands drjob printed for its operator to run, in the order printed:
// each stands on a line of its own, "drjob: $ COMMAND", quoted as drjob
// quoted it, and nothing else a line holds is read (a group or machine name
// is never taken for a command). told, when given, gets for each command
// the line before it, which says what the command takes. Every test that
// follows or checks drjob's printed commands reads them here.
inline std::vector<std::string> PrintedCommands(const std::string& output, std::vector<std::string>* told = nullptr) {
  static const std::string kMark = "drjob: $ ";
  std::vector<std::string> commands;
  std::istringstream in(output);
  std::string before;
  for (std::string line; std::getline(in, line); before = line) {
    if (line.compare(0, kMark.size(), kMark) != 0) continue;
    commands.push_back(line.substr(kMark.size()));
    if (told != nullptr) told->push_back(before);
  }
  return commands;
}

// A replication that failed over before: a DR type that takes only machines
// in sync skips it.
inline void MarkFailedOver(int replicationId) {
  App::VSAReplicationInfo partial;
  partial.SetInt32(App::VSAReplicationInfo::kReplicationId, replicationId);
  partial.SetInt32(App::VSAReplicationInfo::kFailoverStatus, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE);
  partial.SetInt32(App::VSAReplicationInfo::kSyncStatus, App::VSA_REPL_STATUS_SYNC_DISABLED);
  std::string error;
  ASSERT_EQ(0, CReplicationStore::Merge(partial, error)) << error;
}

// A fault of the hypervisor lab on every call of an operation type on a VM.
inline void PlantVMFault(const std::string& guid, int opType, ELabFault kind, const std::string& text = std::string()) {
  SLabFault fault;
  fault.opType = opType;
  fault.vm = guid;
  fault.toCall = 1000;
  fault.kind = kind;
  fault.code = 17;
  fault.text = text;
  ASSERT_TRUE(CHypervisorLab::AddFault(fault));
}

inline std::string ReadFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return text;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

// Whether the process is stopped (SIGSTOP, a pause point), as /proc tells.
inline bool IsStopped(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'T';
}

// Writes a whole file; false when it cannot be written.
inline bool WriteFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "w");
  if (f == nullptr) return false;
  const bool written = fwrite(text.data(), 1, text.size(), f) == text.size();
  return fclose(f) == 0 && written;
}

// Restore options whose placements name only priority 1's source VMs of
// "Sample" (db-primary and db-replica), written to path: a failback made
// with them restores those and fails app-server's restore.
inline bool WritePriorityOneRestoreOptions(const std::string& path) {
  CNMessageBase options(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  CNMessageBase& disk = options.MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  for (const char* vm : {"db-primary", "db-replica"}) {
    disk.AddMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions)
        .SetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter, vm);
  }
  std::string xml;
  return options.serializeUTF8(xml) && WriteFile(path, xml);
}

// Whether SQLite left a -wal or -shm file beside a database file.
inline bool HasSiblings(const std::string& path) {
  struct stat st;
  return stat((path + "-wal").c_str(), &st) == 0 || stat((path + "-shm").c_str(), &st) == 0;
}

// Bytes and modification time of a file, and whether SQLite left a -wal or
// -shm file beside it. Reads the file: never for a database this process
// has open, since closing any descriptor of a file drops every lock the
// process holds on it, SQLite's included.
struct SFileState {
  std::string bytes;
  long long mtimeNs = 0;
  bool siblings = false;
  bool operator==(const SFileState& o) const {
    return bytes == o.bytes && mtimeNs == o.mtimeNs && siblings == o.siblings;
  }
};

inline SFileState StateOf(const std::string& path) {
  SFileState s;
  s.bytes = ReadFile(path);
  struct stat st;
  if (stat(path.c_str(), &st) == 0) s.mtimeNs = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  s.siblings = HasSiblings(path);
  return s;
}

// The rows of one section of drjob lab show, split into words.
inline std::vector<std::vector<std::string>> LabSection(const std::string& output, const std::string& title) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(output);
  std::string line;
  bool inside = false;
  bool header = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == ':') {
      inside = line == title + ":";
      header = inside;
      continue;
    }
    if (!inside) continue;
    if (header) {
      header = false;
      continue;
    }
    std::istringstream words(line);
    std::vector<std::string> row;
    for (std::string w; words >> w;) row.push_back(w);
    rows.push_back(row);
  }
  return rows;
}

// A seeded lab in a folder of its own; the test process opens the same
// database file to read back and steer what the host did.
class CDrJobLabTest : public testing::Test {
 protected:
  void SetUp() override {
    m_dir = drtest::MakeTempDir("drjob");
    m_db = m_dir + "/lab.db";
    SResult seed = Host("seed --db " + m_db);
    ASSERT_EQ(0, seed.code) << seed.output;
    ASSERT_TRUE(Has(seed, "drjob: seeded the sample lab")) << seed.output;
    CDBConnection::SetPath(m_db);
    // The seed named the local client after this machine; a machine name an
    // earlier test of this process left in the settings would not find it.
    ZNPlatformInfo::setString("Machine", "PhysicalMachine", "");
  }
  void TearDown() override {
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    drtest::RemoveTree(m_dir);
  }
  SResult Host(const std::string& args) { return RunDrJob(args, m_dir); }
  // A statement on the lab's database, e.g. a trigger that holds a write back.
  static void Sql(const std::string& sql) {
    CDBConnection* c = CDBConnection::ForThread();
    ASSERT_NE(nullptr, c);
    ASSERT_EQ(DB_OK, c->Exec(sql)) << c->LastErrorText();
  }
  // The host in another process, at a time scale of its own, whose output
  // Finish reads once it ends.
  void StartHost(CChildProcess& run, const std::string& args, const std::string& scale = "0.001") {
    std::vector<std::string> argv = {"/usr/bin/env", "DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                                     "DR_TIME_SCALE=" + scale, DR_DRJOB};
    for (size_t at = 0, next; at < args.size(); at = next + 1) {
      next = args.find(' ', at);
      if (next == std::string::npos) next = args.size();
      argv.push_back(args.substr(at, next - at));
    }
    ASSERT_TRUE(run.Start(argv));
  }
  static SResult Finish(CChildProcess& run) {
    SResult r{-1, std::string()};
    for (std::string line; run.ReadLine(line, 120000);) r.output += line + "\n";
    const int status = run.Wait();
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  // A job's record as it is stored now.
  static SJobRecord Job(long long jobId) {
    SJobRecord job;
    EXPECT_EQ(EStoreResult::kOk, CJobStore::GetJob(jobId, job));
    return job;
  }
  // A VM replication's failover status as it is stored now.
  static int FailoverStatus(int replicationId) {
    App::VSAReplicationInfo info;
    EXPECT_TRUE(CReplicationStore::Get(replicationId, info));
    return info.GetInt32(App::VSAReplicationInfo::kFailoverStatus);
  }

  // A DR job on a sample group, made the way the job manager service would
  // make it.
  static void CreateDRJob(long long jobId, int groupId = 1) {
    TMMsg::JobOption options;
    CNMessageBase& dr = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                            .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
    dr.SetInt32(TMMsg::DROrchestrationOption::kInitiatedFromMonitor, 0);
    dr.MutableMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity).SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, groupId);
    SJobRecord job;
    job.jobId = jobId;
    job.jobType = CJobStore::kTypeDR;
    job.ownerId = 2;
    ASSERT_TRUE(options.serializeUTF8(job.optionsXml));
    ASSERT_EQ(jobId, CJobStore::CreateJob(job));
  }

  std::string m_dir;
  std::string m_db;
};

}  // namespace drtest
