// The house rules of the source tree, checked on every test run so they
// cannot erode unseen: one owner per stored table of the simulated server,
// includes that name the folder they cross into, platform areas that only
// reach down, and a host that sees the exported surface and the platform
// only. docs/architecture.md explains each rule.
#include <ctype.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/Simulators.h"

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

// The owner table of the architecture notes: table -> owner class, from
// rows "| `T1`, `T2` (a remark) | `COwner` (`folder/`) |".
std::map<std::string, std::string> DocumentedOwners(const std::string& text) {
  std::map<std::string, std::string> out;
  const size_t heading = text.find("### One owner per stored table");
  if (heading == std::string::npos) return out;
  std::istringstream lines(text.substr(heading));
  static const std::regex word("`([A-Za-z_]+)`");
  std::string line;
  bool inTable = false;
  while (std::getline(lines, line)) {
    if (line.rfind("|", 0) != 0) {
      if (inTable) break;
      continue;
    }
    inTable = true;
    const size_t split = line.find('|', 1);
    if (split == std::string::npos) continue;
    const std::string tables = line.substr(1, split - 1);
    const std::string owner = line.substr(split + 1);
    std::smatch m;
    if (!std::regex_search(owner, m, word)) continue;
    const std::string ownerClass = m[1];
    for (std::sregex_iterator it(tables.begin(), tables.end(), word), end; it != end; ++it) out[(*it)[1]] = ownerClass;
  }
  return out;
}

TEST(TreeRules, EveryStoredTableOfTheSimulatedServerHasOneOwner) {
  // Table -> the only platform files that may name it, from the one list
  // of owners the simulators are put together from.
  std::map<std::string, std::string> owners;
  std::map<std::string, std::string> classes;
  for (const SSimTableOwner& owner : CSimulators::Owners()) {
    for (const std::string& table : owner.tables) {
      EXPECT_TRUE(owners.emplace(table, owner.source).second) << table << " has two owners";
      classes[table] = owner.ownerClass;
    }
  }
  ASSERT_LT(50u, owners.size());
  for (const std::string& file : Sources("platform")) {
    const std::string text = Read(kRoot / file);
    const std::string stem = file.substr(0, file.rfind('.'));
    for (const auto& owner : owners) {
      if (stem == owner.second) continue;
      EXPECT_FALSE(NamesWord(text, owner.first))
          << file << " names table " << owner.first << ", which only " << owner.second << " may touch";
    }
  }
  // The architecture notes name the same owner for every table, and no
  // table the simulators do not own.
  EXPECT_EQ(classes, DocumentedOwners(Read(kRoot / "docs/architecture.md")));
  // The reading sees a row of two tables and a remark.
  EXPECT_EQ((std::map<std::string, std::string>{{"A_T", "CA"}, {"B_T", "CA"}}),
            DocumentedOwners("### One owner per stored table\n\n| table | owner |\n|---|---|\n"
                             "| `A_T` (rows), `B_T` | `CA` (`a/`) |\n\nafter\n| `C_T` | `CC` |\n"));
}

// What is wrong with one include of a file outside the platform, or "".
// Within a folder an include is short; one that crosses into another
// top-level folder names it.
std::string IncludeFault(const std::string& top, const std::string& file, const std::string& inc) {
  const std::string folder = Folder(file);
  if (inc.rfind(folder + "/", 0) == 0 && fs::exists(kRoot / inc)) {
    return file + " includes its own folder's " + inc + " long";
  }
  if (fs::exists(kRoot / folder / inc) || IsPlatformHeader(inc)) return std::string();
  if (top == "tests" && fs::exists(kRoot / "tests" / inc)) return std::string();
  const std::string first = FirstComponent(inc);
  // A benchmark may run on the tests' lab fixtures, naming their folder.
  const bool named = ((kSystemFolders.count(first) || first == "host") && fs::exists(kRoot / inc)) ||
                     (first == "drorch" && fs::exists(kRoot / "include" / inc)) ||
                     (top == "bench" && first == "tests" && fs::exists(kRoot / inc));
  return named ? std::string() : file + " includes " + inc + " without naming the folder it lives in";
}

TEST(TreeRules, IncludesNameTheFolderTheyCrossInto) {
  for (const char* top : {"engine", "services", "Db", "vsa", "app", "include", "host", "tests", "bench"}) {
    for (const std::string& file : Sources(top)) {
      for (const std::string& inc : Includes(file)) {
        const std::string fault = IncludeFault(top, file, inc);
        EXPECT_TRUE(fault.empty()) << fault;
      }
    }
  }
}

TEST(TreeRules, TheIncludeRuleSeesALongIncludeOfTheOwnFolderAndAnUnnamedCrossing) {
  EXPECT_FALSE(IncludeFault("Db", "Db/Proc/SprocWrappers.cpp", "Db/Proc/AppGetVSMemberServers.h").empty());
  EXPECT_TRUE(IncludeFault("Db", "Db/Proc/SprocWrappers.cpp", "AppGetVSMemberServers.h").empty());
  EXPECT_FALSE(IncludeFault("vsa", "vsa/VSADRBase.cpp", "DRHelper.h").empty()) << "engine's header, unnamed";
  EXPECT_TRUE(IncludeFault("vsa", "vsa/VSADRBase.cpp", "engine/DRHelper.h").empty());
}

// Files outside include/drorch/ that mark anything for export.
std::vector<std::string> ExportsOutsideThePublicHeaders(const std::map<std::string, std::string>& textByFile) {
  std::vector<std::string> out;
  for (const auto& f : textByFile) {
    if (f.first.rfind("include/drorch/", 0) == 0) continue;
    if (NamesWord(f.second, "DR_EXPORT")) out.push_back(f.first);
  }
  return out;
}

TEST(TreeRules, OnlyThePublicHeadersMarkAnythingForExport) {
  std::map<std::string, std::string> tree;
  for (const char* top : {"engine", "services", "Db", "vsa", "app", "include", "host", "platform"}) {
    for (const std::string& file : Sources(top)) tree[file] = Read(kRoot / file);
  }
  EXPECT_EQ(std::vector<std::string>(), ExportsOutsideThePublicHeaders(tree));
  // The rule sees a mark elsewhere.
  EXPECT_EQ(std::vector<std::string>{"services/X.h"},
            ExportsOutsideThePublicHeaders({{"services/X.h", "class DR_EXPORT X {};"},
                                            {"include/drorch/Y.h", "class DR_EXPORT Y {};"}}));
}

// The classes and C entries the public headers declare: what the system
// library may export.
std::set<std::string> PublicNames() {
  std::set<std::string> names;
  static const std::regex declared(R"((?:class|struct)\s+(?:DR_\w+(?:\([^)]*\))?\s+)*(\w+)\s*[:{]|extern "C"[^;(]*\b(\w+)\s*\()");
  for (const std::string& file : Sources("include/drorch")) {
    const std::string text = Read(kRoot / file);
    for (std::sregex_iterator it(text.begin(), text.end(), declared), end; it != end; ++it) {
      names.insert((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
    }
  }
  return names;
}

// Exported symbols (demangled) not declared by the public headers.
std::vector<std::string> UndeclaredExports(const std::vector<std::string>& symbols, const std::set<std::string>& names) {
  std::vector<std::string> out;
  for (const std::string& symbol : symbols) {
    const size_t end = symbol.find_first_of(":(");
    if (!names.count(symbol.substr(0, end))) out.push_back(symbol);
  }
  return out;
}

TEST(TreeRules, TheSystemLibraryExportsOnlyWhatThePublicHeadersDeclare) {
  FILE* pipe = popen("nm -D --defined-only --demangle '" DR_DRORCH_LIBRARY "'", "r");
  ASSERT_NE(nullptr, pipe);
  std::vector<std::string> symbols;
  char line[4096];
  while (fgets(line, sizeof(line), pipe) != nullptr) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // "<address> <kind> <name>"; the linker's own markers are not symbols of the code.
    const size_t kind = text.find(' ');
    if (kind == std::string::npos || text.size() < kind + 3) continue;
    const std::string name = text.substr(kind + 3);
    if (name.empty() || name[0] == '_') continue;
    symbols.push_back(name);
  }
  ASSERT_EQ(0, pclose(pipe));
  const std::set<std::string> names = PublicNames();
  ASSERT_TRUE(names.count("CDRJobManager") && names.count("IDROrchestrator") && names.count("DRChildJobDone"));
  EXPECT_FALSE(symbols.empty());
  EXPECT_EQ(std::vector<std::string>(), UndeclaredExports(symbols, names));
  // The check sees a symbol of a class the headers do not declare.
  EXPECT_EQ(std::vector<std::string>{"CDRAppManager::Initialize(int)"},
            UndeclaredExports({"CDRJobManager::IsQuitFlagSet()", "CDRAppManager::Initialize(int)", "DRChildJobDone"},
                              names));
}

TEST(TreeRules, PlatformAreasOnlyReachDownAndNeverIntoTheSystem) {
  std::set<std::pair<std::string, std::string>> reaches;
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
      if (to != area) reaches.insert({area, to});
    }
  }
  // Areas of one level may use each other one way only.
  for (const auto& r : reaches) EXPECT_FALSE(reaches.count({r.second, r.first})) << r.first << " and " << r.second;
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
