#include "host/CrashMatrix.h"

#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "appmgr/ClientActivityStore.h"
#include "appmgr/DatabaseHosts.h"
#include "array/AfileStore.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/SnapReplicationStore.h"
#include "db/ZNGlobalParam.h"
#include "host/SeedReplications.h"
#include "jobs/JobStore.h"
#include "jobs/PhaseRowStore.h"
#include "jobsim/JobSimulator.h"
#include "msg/MsgEnums.h"
#include "repl/ReplicaSyncStore.h"
#include "repl/ReplicationStatusTexts.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace crashmatrix {

namespace {

// drjob's exit code for a job that has ended (a rerun of a completed one).
constexpr int kExitEnded = 14;
// The activity type of backups (PLT_ClientActivity).
constexpr int kBackupActivity = 1;
// Replications of the storage-array and database sample groups.
constexpr int kArrayReplications[] = {301, 302, 303, 304};
constexpr int kDatabaseReplications[] = {1, 2};

std::string Status(const char* text, int status) {
  if (status == 0) return "-";
  std::string s = *text != 0 ? std::string(text) : "[" + std::to_string(status) + "]";
  std::replace(s.begin(), s.end(), ' ', '_');
  return s;
}

// A clone is named after its DR VM and the process and job that made it.
std::string StableName(const std::string& name) {
  const size_t at = name.find("-Clone-");
  return at == std::string::npos ? name : name.substr(0, at) + "-Clone";
}

std::string Joined(std::vector<std::string> parts) {
  std::sort(parts.begin(), parts.end());
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
  return out.empty() ? "-" : out;
}

// The snapshot a property names, by its name on the VM; "gone" when the VM
// has no snapshot of that reference.
std::string NamedSnapshot(const std::string& ref, const std::vector<SLabSnapshot>& snapshots) {
  if (ref.empty()) return "-";
  for (const SLabSnapshot& s : snapshots) {
    if (s.ref == ref) return s.name;
  }
  return "gone";
}

void VMLine(std::ostringstream& out, const SLabVM& vm) {
  std::vector<SLabSnapshot> snaps;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::Snapshots(vm.instanceId, vm.guid, snaps)) << vm.name;
  std::vector<std::string> names;
  for (const SLabSnapshot& s : snaps) names.push_back(s.name);
  out << "vm " << StableName(vm.name) << " " << (vm.poweredOn ? "on" : "off") << " " << vm.content << " "
      << Joined(names) << "\n";
}

void VMReplications(std::ostringstream& out, const std::vector<int>& ids) {
  std::vector<SLabVM> vms;
  std::vector<SLabReplica> replicas;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::Replicas(replicas));
  std::vector<std::string> lines;
  for (int id : ids) {
    const auto replica = std::find_if(replicas.begin(), replicas.end(),
                                      [id](const SLabReplica& r) { return r.replicationId == id; });
    ASSERT_NE(replicas.end(), replica) << "replication " << id;
    std::vector<SLabSnapshot> sourceSnaps, drSnaps;
    for (const SLabVM& vm : vms) {
      const bool source = vm.instanceId == replica->sourceInstanceId && vm.guid == replica->sourceGuid;
      const bool dr = vm.instanceId == replica->destInstanceId && vm.guid == replica->destGuid;
      const bool clone = vm.clone && vm.name.rfind(replica->destName + "-Clone-", 0) == 0;
      if (source || dr || clone) VMLine(out, vm);
      if (source) CHypervisorLab::Snapshots(vm.instanceId, vm.guid, sourceSnaps);
      if (dr) CHypervisorLab::Snapshots(vm.instanceId, vm.guid, drSnaps);
    }
    App::VSAReplicationInfo info;
    const EStoreResult found = CReplicationStore::Find(id, info);
    if (found == EStoreResult::kMissing) {
      out << "repl " << id << " removed\n";
      continue;
    }
    ASSERT_EQ(EStoreResult::kOk, found) << "replication " << id;
    const int failover = info.GetInt32(App::VSAReplicationInfo::kFailoverStatus);
    const int sync = info.GetInt32(App::VSAReplicationInfo::kSyncStatus);
    out << "repl " << id << " " << Status(CReplicationStatusTexts::Failover(failover), failover) << " "
        << Status(CReplicationStatusTexts::Sync(sync), sync) << " source-snap="
        << NamedSnapshot(CReplicationStore::PropertyOf(info, CReplicationStore::kPropSourceSnapMoref), sourceSnaps)
        << " dr-snap="
        << NamedSnapshot(CReplicationStore::PropertyOf(info, CReplicationStore::kPropDestSnapMoref), drSnaps)
        << " pit=" << (CReplicationStore::PropertyOf(info, CReplicationStore::kPropPitSnapshotId).empty() ? "-" : "set")
        << "\n";
    // Every type ends with the machines' backups on: a client left without
    // them is a fault of its own line.
    const std::string client = CReplicationStore::PropertyOf(info, CReplicationStore::kPropSourceVMClientId);
    bool backups = true;
    if (!client.empty()) {
      ASSERT_EQ(EStoreResult::kOk, CClientActivityStore::IsEnabled(atoll(client.c_str()), kBackupActivity, backups));
    }
    if (!backups) out << "backups " << id << " off\n";
  }
}

void Databases(std::ostringstream& out) {
  for (int id : kDatabaseReplications) {
    App::ReplicaSyncReplicationInfo info;
    ASSERT_EQ(EStoreResult::kOk, CReplicaSyncStore::Find(id, info)) << "database replication " << id;
    const int failover = info.GetInt32(App::ReplicaSyncReplicationInfo::kFailoverStatus);
    const int sync = info.GetInt32(App::ReplicaSyncReplicationInfo::kSyncStatus);
    out << "db-repl " << id << " " << Status(CReplicationStatusTexts::Failover(failover), failover) << " "
        << Status(CReplicationStatusTexts::Sync(sync), sync) << "\n";
  }
  std::vector<SDatabaseHost> hosts;
  ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::Databases(hosts));
  for (const SDatabaseHost& h : hosts) {
    out << "database " << h.clientId << " " << (h.running ? "running" : "stopped") << "\n";
  }
}

void Arrays(std::ostringstream& out) {
  std::vector<SLabVM> vms;
  ASSERT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
  std::vector<std::string> lines;
  for (const SLabVM& vm : vms) {
    if (vm.guid.rfind("snap-src-", 0) != 0 && vm.guid.rfind("mount-", 0) != 0) continue;
    std::ostringstream line;
    VMLine(line, vm);
    lines.push_back((vm.guid.rfind("mount-", 0) == 0 ? "mounted " : "") + line.str());
  }
  std::sort(lines.begin(), lines.end());
  for (const std::string& l : lines) out << l;
  for (int id : kArrayReplications) {
    SSnapReplication r;
    ASSERT_EQ(EStoreResult::kOk, CSnapReplicationStore::Get(id, r)) << "storage-array replication " << id;
    const int failover = r.info.GetInt32(Api::SnapDRReplicationInfo::kFailoverStatus);
    const int test = r.info.GetInt32(Api::SnapDRReplicationInfo::kTestFailoverStatus);
    out << "array-repl " << id << " " << Status(CReplicationStatusTexts::Failover(failover), failover) << " "
        << Status(CReplicationStatusTexts::TestFailover(test), test) << "\n";
  }
  std::vector<SLabRelationship> relationships;
  ASSERT_EQ(EStoreResult::kOk, CArrayRelationshipStore::All(relationships));
  for (const SLabRelationship& r : relationships) out << "relationship " << r.destPath << " " << r.mirrorState << "\n";
  std::vector<SLabLun> luns;
  ASSERT_EQ(EStoreResult::kOk, CArrayLunStore::All(luns));
  for (const SLabLun& l : luns) out << "lun " << l.path << " " << (l.mapped ? "mapped" : "unmapped") << "\n";
  // Archive files by VM and mount state: their ids and jobs are the run's.
  std::map<std::string, int> afiles;
  std::vector<SSnapAfile> all;
  ASSERT_EQ(EStoreResult::kOk, CAfileStore::All(all));
  for (const SSnapAfile& f : all) {
    ++afiles[f.vmName + " " + (f.mountStatus == SSnapAfile::kMountedByDR ? "mounted" : std::to_string(f.mountStatus))];
  }
  for (const auto& f : afiles) out << "afile " << f.first << " x" << f.second << "\n";
}

// The child jobs by kind and how they ended ("running" while they run).
void ChildJobs(std::ostringstream& out) {
  std::vector<SChildJobRecord> jobs;
  ASSERT_EQ(EStoreResult::kOk, CJobSimulator::Jobs(jobs));
  std::map<std::string, int> kinds;
  for (const SChildJobRecord& j : jobs) {
    if (j.vmChild) continue;
    std::string kind = CJobSimulator::TypeName(j.type, j.snap);
    if ((j.mode & kModeFailbackRestore) != 0) kind = "restore";
    if ((j.mode & kModeDRSiteBackup) != 0) kind = "dr-site " + kind;
    std::string end = j.ended ? j.status : "running";
    std::replace(kind.begin(), kind.end(), ' ', '-');
    std::replace(end.begin(), end.end(), ' ', '_');
    ++kinds[kind + " " + end];
  }
  for (const auto& k : kinds) out << "jobs " << k.first << " x" << k.second << "\n";
}

// The start labs of this process, made once each, gone with the process.
struct SStartLabs {
  std::string dir;
  std::map<EStartLab, std::string> made;
  ~SStartLabs() {
    if (!dir.empty()) drtest::RemoveTree(dir);
  }
};
SStartLabs& StartLabs() {
  static SStartLabs labs;
  return labs;
}

bool CopyFile(const std::string& from, const std::string& to) {
  const std::string bytes = drtest::ReadFile(from);
  return !bytes.empty() && drtest::WriteFile(to, bytes);
}

// An expected line matches a found one word for word; "*" matches any word.
bool Matches(const std::string& expected, const std::string& found) {
  std::istringstream e(expected), f(found);
  std::string a, b;
  while (true) {
    const bool more = static_cast<bool>(e >> a);
    if (more != static_cast<bool>(f >> b)) return false;
    if (!more) return true;
    if (a != "*" && a != b) return false;
  }
}

// Whether the process has ended (a zombie left to be reaped) or is gone.
bool HasExited(pid_t pid) {
  const std::string status = drtest::ReadFile("/proc/" + std::to_string(pid) + "/status");
  return status.empty() || status.find("State:\tZ") != std::string::npos;
}

// The processes the process started, by their parent in /proc.
std::vector<pid_t> ChildrenOf(pid_t parent) {
  std::vector<pid_t> children;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return children;
  while (const dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
    if (pid <= 0) continue;
    // "pid (name) state ppid ...": the name may hold blanks and parentheses.
    const std::string stat = drtest::ReadFile("/proc/" + std::string(entry->d_name) + "/stat");
    const size_t named = stat.rfind(')');
    char state = 0;
    int ppid = 0;
    if (named != std::string::npos && sscanf(stat.c_str() + named + 1, " %c %d", &state, &ppid) == 2 &&
        ppid == parent) {
      children.push_back(pid);
    }
  }
  closedir(proc);
  return children;
}

// A printed command's drjob runs under a shell: killed alone, the shell
// would leave it running on the lab.
void KillWithDescendants(pid_t pid) {
  for (pid_t child : ChildrenOf(pid)) KillWithDescendants(child);
  kill(pid, SIGKILL);
}

}  // namespace

std::vector<std::string> PictureLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string PictureDiff(const std::string& expected, const std::string& found) {
  const std::vector<std::string> e = PictureLines(expected);
  const std::vector<std::string> f = PictureLines(found);
  std::string out;
  for (size_t i = 0; i < std::max(e.size(), f.size()); ++i) {
    if (i < e.size() && i < f.size() && Matches(e[i], f[i])) continue;
    if (i < e.size()) out += "- " + e[i] + "\n";
    if (i < f.size()) out += "+ " + f[i] + "\n";
  }
  return out;
}

std::vector<int> GroupReplications(const std::string& group) {
  std::vector<int> ids;
  if (group == "Sample") {
    for (const SSampleVM& vm : kSampleVMs) ids.push_back(vm.replicationId);
  } else if (group == "SampleTest") {
    for (const SSampleVM& vm : kSampleTestVMs) ids.push_back(vm.replicationId);
  } else if (group == "SampleDB") {
    ids.assign(std::begin(kDatabaseReplications), std::end(kDatabaseReplications));
  } else if (group == "SampleArray") {
    ids.assign(std::begin(kArrayReplications), std::end(kArrayReplications));
  }
  return ids;
}

std::string Picture(const std::string& group) {
  std::ostringstream out;
  if (group == "SampleDB") {
    Databases(out);
  } else if (group == "SampleArray") {
    Arrays(out);
  } else {
    VMReplications(out, GroupReplications(group));
  }
  ChildJobs(out);
  return out.str();
}

std::string WithLines(std::string picture, const SCrash::Lines& differs) {
  for (const auto& line : differs) {
    const size_t at = picture.find(line.first + "\n");
    if (at == std::string::npos) {
      ADD_FAILURE() << "the picture has no line [" << line.first << "]";
      continue;
    }
    picture.replace(at, line.first.size(), line.second);
  }
  return picture;
}

std::string WithWrite(const std::string& picture, const std::string& vmName) {
  std::istringstream in(picture);
  std::ostringstream out;
  const std::string prefix = "vm " + vmName + " ";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) {
      std::istringstream words(line.substr(prefix.size()));
      std::string power, content, snapshots;
      words >> power >> content >> snapshots;
      if (content != "*") content = std::to_string(atoll(content.c_str()) + 1);
      line = prefix + power + " " + content + " " + snapshots;
    }
    out << line << "\n";
  }
  return out.str();
}

unsigned long EnvNumber(const char* name, unsigned long otherwise) {
  const char* text = getenv(name);
  return text != nullptr && *text != '\0' ? strtoul(text, nullptr, 10) : otherwise;
}

void CCrashMatrix::SetUp() { m_dir = drtest::MakeTempDir("crash"); }

void CCrashMatrix::TearDown() {
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  // DR_CRASH_KEEP=1 keeps the cases' labs and the runs' log to look at; a
  // failed test keeps them too, since a fault under load may not come back.
  if (getenv("DR_CRASH_KEEP") != nullptr || HasFailure()) {
    printf("crash matrix: the cases' labs and log are in %s\n", m_dir.c_str());
    return;
  }
  drtest::RemoveTree(m_dir);
}

drtest::SResult CCrashMatrix::RunHost(const std::vector<std::string>& env, const std::vector<std::string>& args,
                                      int& signal) {
  drtest::CChildProcess run;
  signal = 0;
  if (!StartHost(env, args, run)) return drtest::SResult{-1, std::string()};
  return FinishHost(run, signal);
}

bool CCrashMatrix::StartHost(const std::vector<std::string>& env, const std::vector<std::string>& args,
                             drtest::CChildProcess& run) {
  if (NoMoreRuns()) return false;
  // Its error lines too: a failed case shows why a run was turned away.
  std::vector<std::string> argv = {"/bin/sh",
                                   "-c",
                                   "exec \"$@\" 2>&1",
                                   "sh",
                                   "/usr/bin/env",
                                   "DR_RUN_DIR=" + m_dir + "/run",
                                   "DR_LOCK_DIR=" + m_dir + "/locks",
                                   "DR_TIME_SCALE=0.001"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(DR_DRJOB);
  argv.insert(argv.end(), args.begin(), args.end());
  return run.Start(argv);
}

drtest::SResult CCrashMatrix::FinishHost(drtest::CChildProcess& run, int& signal) {
  drtest::SResult r{-1, std::string()};
  signal = 0;
  const int status = ReadToEnd(run, r.output);
  if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) signal = WTERMSIG(status);
  return r;
}

int CCrashMatrix::ReadToEnd(drtest::CChildProcess& run, std::string& output,
                            const std::function<void(const std::string&)>& online) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_runBoundMs);
  auto left = [&deadline] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  };
  bool ended = false;
  for (std::string line; left() > 0;) {
    if (run.ReadLine(line, static_cast<int>(left()))) {
      output += line + "\n";
      if (online) online(line);
      continue;
    }
    // Its output closed (or the bound passed): the run ends, or has.
    const pid_t pid = run.Pid();
    ended = left() > 0 && drtest::Eventually([pid] { return HasExited(pid); },
                                             static_cast<unsigned long>(std::max(0LL, static_cast<long long>(left()))));
    break;
  }
  if (!ended) {
    m_overran = true;
    KillWithDescendants(run.Pid());
    ADD_FAILURE() << "a drjob run did not end within " << m_runBoundMs / 1000
                  << " s: it is killed with the processes it started, and no later run of this case starts; its "
                     "lines:\n"
                  << output;
  }
  return run.Wait();
}

bool CCrashMatrix::NoMoreRuns() const {
  if (m_overran) ADD_FAILURE() << "not run: an earlier drjob run of this case overran its bound";
  return m_overran;
}

drtest::SResult CCrashMatrix::RunAsPrinted(const std::string& command, const std::vector<std::string>& env) {
  // "drjob" in the printed line is the host under test.
  std::vector<std::string> argv = {"/bin/sh",
                                   "-c",
                                   "drjob() { \"$DR_TEST_DRJOB\" \"$@\"; }; eval \"$DR_TEST_COMMAND\" 2>&1",
                                   "sh"};
  drtest::CChildProcess run;
  drtest::SResult r{-1, std::string()};
  std::vector<std::string> vars = {"DR_RUN_DIR=" + m_dir + "/run", "DR_LOCK_DIR=" + m_dir + "/locks",
                                   "DR_TIME_SCALE=0.001", std::string("DR_TEST_DRJOB=") + DR_DRJOB,
                                   "DR_TEST_COMMAND=" + command};
  vars.insert(vars.end(), env.begin(), env.end());
  argv.insert(argv.begin(), vars.begin(), vars.end());
  argv.insert(argv.begin(), "/usr/bin/env");
  if (NoMoreRuns() || !run.Start(argv)) return r;
  const int status = ReadToEnd(run, r.output);
  if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
  return r;
}

std::string CCrashMatrix::MakeStartLab(EStartLab start) {
  SStartLabs& labs = StartLabs();
  const auto made = labs.made.find(start);
  if (made != labs.made.end()) return made->second;
  if (labs.dir.empty()) labs.dir = drtest::MakeTempDir("crashlabs");
  const std::string path = labs.dir + "/start-" + std::to_string(static_cast<int>(start)) + ".db";
  int signal = 0;
  drtest::SResult r = RunHost({}, {"seed", "--db", path}, signal);
  EXPECT_EQ(0, r.code) << r.output;
  struct SPrepare {
    EStartLab start;
    const char* group;
    const char* type;
  };
  const SPrepare kPrepare[] = {{EStartLab::kFailedOver, "Sample", "planned-failover"},
                               {EStartLab::kArrayFailedOver, "SampleArray", "planned-failover"},
                               {EStartLab::kArrayTested, "SampleArray", "test-failover"}};
  for (const SPrepare& p : kPrepare) {
    if (p.start != start) continue;
    r = RunHost({}, {"run", "--db", path, "--group", p.group, "--type", p.type}, signal);
    EXPECT_EQ(0, r.code) << "preparing the start lab: " << r.output;
  }
  labs.made[start] = path;
  return path;
}

std::string CCrashMatrix::FreshLab(EStartLab start) { return CopyOf(MakeStartLab(start)); }

std::string CCrashMatrix::CopyOf(const std::string& from) {
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  const std::string path = m_dir + "/case-" + std::to_string(++m_case) + ".db";
  EXPECT_TRUE(CopyFile(from, path)) << from;
  struct stat st;
  if (stat((from + "-wal").c_str(), &st) == 0) {
    EXPECT_TRUE(CopyFile(from + "-wal", path + "-wal"));
  }
  return path;
}

drtest::SResult CCrashMatrix::RunOn(const std::string& db, const std::string& group, const std::string& type,
                                    long long jobId) {
  int signal = 0;
  return RunHost({}, {"run", "--db", db, "--group", group, "--type", type, "--job-id", std::to_string(jobId)},
                 signal);
}

SOutcome CCrashMatrix::RunCase(const SType& type, const std::vector<std::string>& crashEnv, bool write,
                               bool mayFinish, const std::string& unreachable) {
  SOutcome outcome;
  const std::string db = LabFor(type);
  const std::vector<std::string> args = RunArgs(type, db);
  int signal = 0;
  bool finished = false;
  drtest::SResult last{-1, std::string()};
  auto command = [&args](const std::vector<std::string>& env) {
    std::string text;
    for (const std::string& word : env) text += word + " ";
    text += "drjob";
    for (const std::string& word : args) text += " " + word;
    return text;
  };
  if (!crashEnv.empty()) {
    last = RunHost(crashEnv, args, signal);
    outcome.runs += RunText(command(crashEnv), last.code, signal, last.output);
    finished = signal != SIGKILL;
    if (finished && !mayFinish) {
      outcome.faults.push_back("the run was not killed where asked (exit " + std::to_string(last.code) + "):\n" +
                               last.output);
      return outcome;
    }
  }
  if (!crashEnv.empty() && !finished && write) outcome.written = WriteInWorkloads(type, db);
  if (!unreachable.empty()) {
    CDBConnection::SetPath(db);
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown(unreachable, true)) << unreachable;
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
  // A run that ended before its line came (the sampler's) is the case's run.
  if (!finished) {
    last = RunHost({}, args, signal);
    outcome.runs += RunText(command({}), last.code, signal, last.output);
  }
  if (!outcome.written.empty()) outcome.runs += "written after the crash in: " + Joined(outcome.written) + "\n";
  outcome.exitCode = last.code;
  outcome.output = last.output;
  CDBConnection::SetPath(db);
  if (!unreachable.empty()) {
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::SetDown(unreachable, false));
  }
  // Killed after its final state was stored, the job has ended: the rerun
  // is refused, and the job's end is what that state says.
  SJobRecord job;
  if (last.code == kExitEnded && CJobStore::GetJob(kJobId, job) == EStoreResult::kOk) {
    if (job.status == "Completed") outcome.exitCode = 0;
    if (job.status == "Completed w/ one or more errors") outcome.exitCode = 8;
  }
  outcome.picture = Picture(type.group);
  CheckRunsEnded(outcome);
  return outcome;
}

std::vector<std::string> CCrashMatrix::WriteInWorkloads(const SType& type, const std::string& db) {
  std::vector<std::string> written;
  CDBConnection::SetPath(db);
  for (const SMachine& m : type.machines) {
    std::vector<SLabVM> vms;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
    auto find = [&vms](const std::string& name) {
      const auto at = std::find_if(vms.begin(), vms.end(), [&](const SLabVM& v) { return v.name == name; });
      return at == vms.end() ? nullptr : &*at;
    };
    const SLabVM* workload = find(m.workload);
    const SLabVM* other = find(m.other);
    const SLabVM* target = nullptr;
    if (workload != nullptr && workload->poweredOn) {
      target = workload;
    } else if (type.carriesWrites && other != nullptr && other->poweredOn) {
      target = other;
    }
    if (target == nullptr) continue;
    EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(target->instanceId, target->guid));
    written.push_back(target->name);
    if (target != workload) written.push_back(m.workload);
  }
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  return written;
}

std::string CCrashMatrix::LabFor(const SType& type) {
  const std::string db = FreshLab(type.start);
  if (type.serial) {
    CDBConnection::SetPath(db);
    EXPECT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
  }
  return db;
}

std::vector<std::string> CCrashMatrix::RunArgs(const SType& type, const std::string& db) {
  std::vector<std::string> args = {"run", "--db", db, "--group", type.group, "--type", type.type,
                                   "--job-id", std::to_string(kJobId)};
  args.insert(args.end(), type.options.begin(), type.options.end());
  return args;
}

void CCrashMatrix::CheckRunsEnded(SOutcome& outcome) {
  std::vector<SPhaseRowRecord> rows;
  EXPECT_EQ(EStoreResult::kOk, CPhaseRowStore::ReadJob(kJobId, rows));
  for (const SPhaseRowRecord& row : rows) {
    if (row.status == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS) {
      outcome.faults.push_back("phase row " + std::to_string(row.phase) + " of replication " +
                               std::to_string(row.replicationId) + " is left IN-PROGRESS");
    }
  }
  if (CJobSimulator::Overlaps() != 0) {
    outcome.faults.push_back(std::to_string(CJobSimulator::Overlaps()) +
                             " child job(s) started while another did the same work");
  }
  if (CHypervisorLab::MountOverlaps() != 0) outcome.faults.push_back("snapshot mounts overlapped");
  if (CHypervisorLab::HungCalls() != 0) outcome.faults.push_back("a lab call is left hung");
  // Every run has ended: a mount still in flight is one a killed run left.
  if (CHypervisorLab::MountsInFlight() != 0) {
    outcome.faults.push_back("a snapshot mount of a run that ended is left in flight");
  }
}

SOutcome CCrashMatrix::Reference(const SType& type) { return RunCase(type, {}, false, false); }

long CCrashMatrix::ReferenceLines(const SType& type, SOutcome& outcome) {
  // A log line may run over several lines of the file (an XML message):
  // each starts with the writer's pid, thread and time.
  static const std::regex start(R"(^\d+ [0-9a-f]+ \d\d/\d\d \d\d:)");
  auto count = [this]() {
    long n = 0;
    for (const std::string& line : PictureLines(drtest::ReadFile(LogPath()))) {
      if (std::regex_search(line, start)) ++n;
    }
    return n;
  };
  MakeStartLab(type.start);  // its own runs are not the type's
  const long before = count();
  outcome = Reference(type);
  return count() - before;
}

SOutcome CCrashMatrix::Crash(const SType& type, const SCrash& crash) {
  return RunCase(type, {"DR_CRASH_AT=" + crash.marker, "DR_CRASH_AT_COUNT=" + std::to_string(crash.count)},
                 crash.write, false, crash.unreachable);
}

SOutcome CCrashMatrix::CrashAfterLines(const SType& type, long lines) {
  // Runs differ in length (polls): one may end before the line is reached.
  return RunCase(type, {"DR_CRASH_AFTER_LINES=" + std::to_string(lines)}, true, true);
}

void CCrashMatrix::RunMatrix(const SType& type, const std::vector<SCrash>& crashes) {
  Expect(type, Reference(type), "uninterrupted");
  for (const SCrash& crash : crashes) Expect(type, Crash(type, crash), crash.name, crash.differs);
}

void CCrashMatrix::Expect(const SType& type, const SOutcome& outcome, const std::string& what,
                          const std::vector<std::pair<std::string, std::string>>& differs) {
  SCOPED_TRACE(type.group + " " + type.type + ": " + what);
  for (const std::string& fault : outcome.faults) ADD_FAILURE() << fault;
  if (!outcome.faults.empty() && outcome.exitCode < 0) return;
  std::string expected = WithLines(type.picture, differs);
  for (const std::string& vm : outcome.written) expected = WithWrite(expected, vm);
  const std::string& runs = outcome.runs.empty() ? outcome.output : outcome.runs;
  EXPECT_EQ(type.exitCode, outcome.exitCode) << runs;
  const std::string diff = PictureDiff(expected, outcome.picture);
  if (!diff.empty()) ADD_FAILURE() << "the lab differs (- expected, + found):\n" << diff << "the runs:\n" << runs;
}

std::string RunText(const std::string& command, int exitCode, int signal, const std::string& output) {
  std::string text = "[" + command + "] -> " +
                     (signal != 0 ? "signal " + std::to_string(signal) : "exit " + std::to_string(exitCode)) + "\n";
  for (const std::string& line : PictureLines(output)) {
    if (line.rfind("drjob: ", 0) == 0 && line.find("] progress [") == std::string::npos) text += "    " + line + "\n";
  }
  return text;
}

}  // namespace crashmatrix
