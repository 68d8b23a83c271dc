// The house rules of the source tree, checked on every test run so they
// cannot erode unseen: one owner per stored table of the simulated server,
// includes that name the folder they cross into, platform areas that only
// reach down, and a host that sees the exported surface and the platform
// only. docs/architecture.md explains each rule.
#include <ctype.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const fs::path kRoot(DR_SOURCE_DIR);

std::string Read(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Source files under a folder of the tree, as paths relative to the root.
std::vector<std::string> Sources(const std::string& folder) {
  std::vector<std::string> out;
  if (!fs::exists(kRoot / folder)) return out;
  for (const auto& entry : fs::recursive_directory_iterator(kRoot / folder)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".h" || ext == ".cpp")) {
      out.push_back(fs::relative(entry.path(), kRoot).generic_string());
    }
  }
  return out;
}

std::vector<std::string> Includes(const std::string& file) {
  static const std::regex include(R"(#include\s+"([^"]+)\")");
  std::vector<std::string> out;
  const std::string text = Read(kRoot / file);
  for (std::sregex_iterator it(text.begin(), text.end(), include), end; it != end; ++it) out.push_back((*it)[1]);
  return out;
}

// Whether text holds word as a whole identifier-like word. A plain search:
// a regex built for each file and table takes half a minute under the
// sanitizers.
bool NamesWord(const std::string& text, const std::string& word) {
  auto isWordChar = [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    if ((at == 0 || !isWordChar(text[at - 1])) && (end == text.size() || !isWordChar(text[end]))) return true;
  }
  return false;
}

std::string FirstComponent(const std::string& path) { return path.substr(0, path.find('/')); }
std::string Folder(const std::string& file) { return fs::path(file).parent_path().generic_string(); }

// Platform areas by level: an area includes its own level and below.
const std::map<std::string, int> kPlatformLevels = {
    {"core", 0}, {"log", 1}, {"time", 2}, {"sync", 2}, {"settings", 2}, {"msg", 3}, {"db", 4}, {"net", 4},
    {"xmlreq", 5}, {"jobs", 6}, {"repl", 7}, {"appmgr", 7}, {"jobsim", 8}, {"tasksim", 9}, {"array", 9}, {"vm", 10},
    {"sim", 11},
};
const std::set<std::string> kSystemFolders = {"engine", "services", "Db", "vsa", "app"};

bool IsPlatformHeader(const std::string& include) {
  return kPlatformLevels.count(FirstComponent(include)) && fs::exists(kRoot / "platform" / include);
}

TEST(TreeRules, EveryStoredTableOfTheSimulatedServerHasOneOwner) {
  // Table -> the only platform files that may name it.
  const std::map<std::string, std::string> owners = {
      {"PLT_Jobs", "platform/jobs/JobStore"},
      {"PLT_Users", "platform/jobs/LabStore"},
      {"PLT_DRGroups", "platform/jobs/LabStore"},
      {"PLT_Outbox", "platform/jobs/LabStore"},
      {"PLT_Knobs", "platform/jobs/LabStore"},
      {"PLT_Tasks", "platform/jobs/TaskStore"},
      {"App_VirtualAppJobStats", "platform/jobs/PhaseRowStore"},
      {"APP_VSAReplication", "platform/repl/ReplicationStore"},
      {"APP_VSAReplicationProp", "platform/repl/ReplicationStore"},
      {"PLT_VSAReplicationMsg", "platform/repl/ReplicationStore"},
      {"APP_ReplicaSyncReplication", "platform/repl/ReplicaSyncStore"},
      {"APP_Client", "platform/appmgr/ClientStore"},
      {"APP_ClientProp", "platform/appmgr/ClientProperties"},
      {"PLT_RemoteExecJournal", "platform/appmgr/RemoteExecStore"},
      {"PLT_DatabaseHosts", "platform/appmgr/DatabaseHosts"},
      {"PLT_DatabaseHostFaults", "platform/appmgr/DatabaseHosts"},
      {"PLT_DatabaseHostCalls", "platform/appmgr/DatabaseHosts"},
      {"PLT_ClientReachability", "platform/appmgr/RemoteExecStore"},
      {"PLT_SubclientActivity", "platform/appmgr/SubclientActivityStore"},
      {"PLT_ActivityControl", "platform/appmgr/ActivityControlStore"},
      {"PLT_VMStatus", "platform/tasksim/VMStatusStore"},
      {"PLT_VMStatusFaults", "platform/tasksim/VMStatusStore"},
      {"OBGlobalParam", "platform/db/ZNGlobalParam"},
      {"PLT_SimJobs", "platform/jobsim/SimJobStore"},
      {"PLT_SimSettings", "platform/jobsim/SimJobStore"},
      {"PLT_SimNextFaults", "platform/jobsim/SimJobStore"},
      {"PLT_SimNotices", "platform/jobsim/JobNotices"},
      {"PLT_StoragePolicies", "platform/jobsim/StoragePolicyStore"},
      {"JMBkpJobInfo", "platform/jobsim/JobManagerRows"},
      {"JMAdminJobInfoTable", "platform/jobsim/JobManagerRows"},
      {"JMJobDataLink", "platform/jobsim/JobManagerRows"},
      {"JMJobDataStats", "platform/jobsim/JobManagerRows"},
      {"APP_VM", "platform/appmgr/AppVMStore"},
      {"APP_InstanceProp", "platform/appmgr/InstancePropStore"},
      {"APP_Application", "platform/appmgr/ApplicationStore"},
      {"PLT_HvInstances", "platform/vm/HypervisorStore"},
      {"PLT_HvRegions", "platform/vm/HypervisorStore"},
      {"PLT_HvProxies", "platform/vm/HypervisorStore"},
      {"PLT_HvProxyInstances", "platform/vm/HypervisorStore"},
      {"PLT_HvVMs", "platform/vm/HypervisorStore"},
      {"PLT_HvSnapshots", "platform/vm/HypervisorStore"},
      {"PLT_HvReplicas", "platform/vm/HypervisorStore"},
      {"PLT_HvCalls", "platform/vm/HypervisorStore"},
      {"PLT_HvFaults", "platform/vm/HypervisorStore"},
      {"PLT_HvCounters", "platform/vm/HypervisorStore"},
      {"PLT_HvDatastores", "platform/vm/HypervisorStore"},
      {"PLT_Arrays", "platform/array/ArrayStore"},
      {"PLT_ArrayRelationships", "platform/array/ArrayRelationshipStore"},
      {"PLT_ArrayLuns", "platform/array/ArrayLunStore"},
      {"PLT_ArrayLunFaults", "platform/array/ArrayLunStore"},
      {"PLT_ArrayCalls", "platform/array/ArrayCallJournal"},
      {"PLT_SnapReplications", "platform/array/SnapReplicationStore"},
      {"PLT_SnapAfiles", "platform/array/AfileStore"},
      {"PLT_SnapReplicaGroups", "platform/array/ReplicaGroupReportStore"},
  };
  for (const std::string& file : Sources("platform")) {
    const std::string text = Read(kRoot / file);
    const std::string stem = file.substr(0, file.rfind('.'));
    for (const auto& owner : owners) {
      if (stem == owner.second) continue;
      EXPECT_FALSE(NamesWord(text, owner.first))
          << file << " names table " << owner.first << ", which only " << owner.second << " may touch";
    }
  }
}

TEST(TreeRules, IncludesNameTheFolderTheyCrossInto) {
  for (const char* top : {"engine", "services", "Db", "vsa", "app", "include", "host", "tests", "bench"}) {
    for (const std::string& file : Sources(top)) {
      const std::string folder = Folder(file);
      for (const std::string& inc : Includes(file)) {
        if (fs::exists(kRoot / folder / inc)) {
          // Short within the folder; the long form of one's own folder is noise.
          EXPECT_NE(0u, inc.rfind(folder + "/", 0)) << file << " includes its own folder's " << inc << " long";
          continue;
        }
        if (IsPlatformHeader(inc)) continue;
        if (std::string(top) == "tests" && fs::exists(kRoot / "tests" / inc)) continue;
        const std::string first = FirstComponent(inc);
        const bool named = ((kSystemFolders.count(first) || first == "host") && fs::exists(kRoot / inc)) ||
                           (first == "drorch" && fs::exists(kRoot / "include" / inc));
        EXPECT_TRUE(named) << file << " includes " << inc << " without naming the folder it lives in";
      }
    }
  }
}

TEST(TreeRules, PlatformAreasOnlyReachDownAndNeverIntoTheSystem) {
  for (const std::string& file : Sources("platform")) {
    const std::string area = FirstComponent(file.substr(std::string("platform/").size()));
    ASSERT_TRUE(kPlatformLevels.count(area)) << "platform area " << area << " has no level";
    for (const std::string& inc : Includes(file)) {
      const std::string to = FirstComponent(inc);
      if (!kPlatformLevels.count(to)) {
        ADD_FAILURE() << file << " includes " << inc << ", which is not a platform header";
        continue;
      }
      EXPECT_LE(kPlatformLevels.at(to), kPlatformLevels.at(area))
          << file << " (" << area << ") reaches up into " << to;
    }
  }
}

TEST(TreeRules, TheHostSeesTheExportedSurfaceAndThePlatformOnly) {
  for (const std::string& file : Sources("host")) {
    for (const std::string& inc : Includes(file)) {
      const bool own = fs::exists(kRoot / "host" / inc);
      const bool exported = FirstComponent(inc) == "drorch";
      EXPECT_TRUE(own || exported || IsPlatformHeader(inc)) << file << " includes " << inc;
    }
  }
}

}  // namespace
