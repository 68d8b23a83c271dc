#include "host/TypeRuns.h"

#include <algorithm>
#include <map>

#include "db/ZNGlobalParam.h"
#include "host/CrashMatrixTypes.h"
#include "host/SeedReplications.h"

namespace typeruns {

using crashmatrix::SType;

namespace {

// The end labs of this process, made once each, gone with the process.
struct SEndLabs {
  std::string dir;
  std::map<const SType*, std::string> made;
  ~SEndLabs() {
    if (!dir.empty()) drtest::RemoveTree(dir);
  }
};
SEndLabs& EndLabs() {
  static SEndLabs labs;
  return labs;
}

// The DR VM of a VM replication of the group (empty: none).
std::string DRVMOf(const std::string& group, int id) {
  auto find = [id](const auto& vms) {
    for (const auto& vm : vms) {
      if (vm.replicationId == id) return std::string(vm.destination);
    }
    return std::string();
  };
  if (group == "Sample") return find(kSampleVMs);
  if (group == "SampleTest") return find(kSampleTestVMs);
  return std::string();
}

}  // namespace

const std::vector<std::string>& Groups() {
  static const std::vector<std::string> groups = {"Sample", "SampleArray", "SampleDB", "SampleTest"};
  return groups;
}

std::vector<const SType*> EntriesOf(const std::string& group) {
  std::vector<const SType*> entries;
  for (const SType* type : crashmatrix::AllTypes()) {
    if (type->group == group) entries.push_back(type);
  }
  return entries;
}

std::string EntryName(const SType& entry) { return EntryName(entry.group, entry.type, entry.options); }

std::string EntryName(const std::string& group, const std::string& type, const std::vector<std::string>& options) {
  std::string name = type;
  // The options of another entry of the type, which tell the two apart.
  for (const SType* other : EntriesOf(group)) {
    if (other->type != type) continue;
    for (const std::string& option : other->options) {
      if (option.rfind("--", 0) == 0 && std::find(options.begin(), options.end(), option) != options.end() &&
          name.find(" " + option) == std::string::npos && option != "--point-in-time") {
        name += " " + option;
      }
    }
  }
  return name;
}

std::string CTypeRuns::EndLab(const SType& entry) {
  SEndLabs& labs = EndLabs();
  const auto made = labs.made.find(&entry);
  if (made != labs.made.end()) return made->second;
  if (labs.dir.empty()) labs.dir = drtest::MakeTempDir("typelabs");
  const std::string db = LabFor(entry);
  int signal = 0;
  const drtest::SResult r = RunHost({}, RunArgs(entry, db), signal);
  EXPECT_EQ(entry.exitCode, r.code) << "making the lab " << EntryName(entry) << " leaves: " << r.output;
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  const std::string path = labs.dir + "/after-" + std::to_string(labs.made.size()) + ".db";
  EXPECT_TRUE(drtest::WriteFile(path, drtest::ReadFile(db)));
  const std::string wal = drtest::ReadFile(db + "-wal");
  if (!wal.empty()) {
    EXPECT_TRUE(drtest::WriteFile(path + "-wal", wal));
  }
  labs.made[&entry] = path;
  return path;
}

std::string CTypeRuns::ColumnLab(const std::string& group, const std::string& column) {
  if (column == "fresh") return FreshLab(crashmatrix::EStartLab::kSeeded);
  for (const SType* entry : EntriesOf(group)) {
    if (EntryName(*entry) == column) return CopyOf(EndLab(*entry));
  }
  ADD_FAILURE() << "no entry [" << column << "] of group " << group;
  return FreshLab(crashmatrix::EStartLab::kSeeded);
}

std::vector<std::string> CTypeRuns::WriteRunning(const std::string& db, const std::string& group) {
  std::vector<std::string> written;
  if (group == "SampleDB") return written;
  CDBConnection::SetPath(db);
  const std::map<int, typejudge::SStanding> standings =
      typejudge::Standings(group, crashmatrix::Picture(group));
  std::vector<SLabVM> vms;
  EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::VMs(0, vms));
  for (const auto& m : standings) {
    for (const typejudge::SVM* vm : {&m.second.source, &m.second.dr}) {
      // A storage-array machine's mounted VM has its source's name: the
      // source is the one written.
      if (!vm->exists || !vm->on || (group == "SampleArray" && vm == &m.second.dr)) continue;
      for (const SLabVM& lab : vms) {
        if (lab.name != vm->name || lab.clone || lab.guid.rfind("mount-", 0) == 0) continue;
        EXPECT_EQ(EStoreResult::kOk, CHypervisorLab::BumpContent(lab.instanceId, lab.guid));
        written.push_back(lab.name);
      }
    }
  }
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  return written;
}

std::string CTypeRuns::PictureOf(const std::string& db, const std::string& group) {
  CDBConnection::SetPath(db);
  const std::string picture = crashmatrix::Picture(group);
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  return picture;
}

std::vector<std::string> CTypeRuns::EntryArgs(const SType& entry, const std::string& db, long long job,
                                              std::mt19937* random) {
  std::vector<std::string> args = {"run", "--db", db, "--group", entry.group, "--type", entry.type};
  if (job > 0) args.insert(args.end(), {"--job-id", std::to_string(job)});
  if (entry.type != "point-in-time-failover") {
    args.insert(args.end(), entry.options.begin(), entry.options.end());
    return args;
  }
  // The entry's own time of each replication, where its DR VM lists none.
  std::map<int, std::string> times;
  for (size_t i = 0; i + 1 < entry.options.size(); i += 2) {
    const std::string& given = entry.options[i + 1];
    times[atoi(given.c_str())] = given.substr(given.find('=') + 1);
  }
  CDBConnection::SetPath(db);
  for (const auto& m : typejudge::Standings(entry.group, crashmatrix::Picture(entry.group))) {
    std::vector<std::string> pits = m.second.PointInTimeSnapshots();
    if (DRVMOf(entry.group, m.first).empty() || pits.empty()) continue;
    const size_t pick = random == nullptr ? 0 : std::uniform_int_distribution<size_t>(0, pits.size() - 1)(*random);
    times[m.first] = pits[pick].substr(pits[pick].rfind('_') + 1);
  }
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
  for (const auto& t : times) {
    args.push_back("--point-in-time");
    args.push_back(std::to_string(t.first) + "=" + t.second);
  }
  return args;
}

void CTypeRuns::Serialise(const SType& entry, const std::string& db) {
  if (!entry.serial) return;
  CDBConnection::SetPath(db);
  EXPECT_TRUE(ZNGlobalParam::set(DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT, "1"));
  CDBConnection::CloseThreadConnections();
  CDBConnection::SetPath("");
}

bool CTypeRuns::Excused(const typejudge::SFinding& finding, const std::vector<const typecells::SCell*>& cells,
                        const typejudge::SStanding& before) {
  // Each column's machines as they stand there, read once per process.
  static std::map<std::string, std::map<int, typejudge::SStanding>> columns;
  for (const typecells::SCell* cell : cells) {
    if (!cell->Breaks(finding.rule) || (cell->machine != 0 && cell->machine != finding.machine)) continue;
    const std::string key = std::string(cell->group) + "/" + cell->after;
    if (columns.count(key) == 0) {
      columns[key] = typejudge::Standings(cell->group, PictureOf(ColumnLab(cell->group, cell->after), cell->group));
    }
    const auto there = columns[key].find(before.id);
    if (there != columns[key].end() && there->second.Signature() == before.Signature()) return true;
  }
  return false;
}

}  // namespace typeruns
