#include "DrJobLab.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "DrJobArgs.h"
#include "SeedArrays.h"
#include "SeedGroups.h"
#include "SeedLab.h"
#include "SeedReplications.h"
#include "appmgr/ClientStore.h"
#include "db/DBConnection.h"
#include "jobs/JobStore.h"
#include "jobs/LabStore.h"
#include "jobs/MachineVerdictStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "settings/ZNPlatformInfo.h"
#include "sim/Simulators.h"
#include "tasksim/DatabaseLabSeed.h"

namespace {

const char kOwnerKnob[] = "drjob.owner";
const int kClientId = 1;

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

// The tables every lab seed ever made holds: what tells a lab from another
// database.
std::vector<std::string> LabIdentity() {
  std::vector<std::string> tables = {CJobStore::kTable};
  for (const char* t : CLabStore::kTables) tables.push_back(t);
  return tables;
}

bool IsIdentity(const std::string& table) {
  for (const std::string& t : LabIdentity()) {
    if (t == table) return true;
  }
  return false;
}

// The sample rows, written through their owners.
bool SeedRows(std::string& error) {
  // The client the DR job runs on is this machine.
  SClientRecord client;
  client.id = kClientId;
  client.name = ZNPlatformInfo::getPhysicalMachine();
  if (client.name.empty()) return Fail(error, "cannot tell this machine's name");
  client.hostName = client.name;
  client.displayName = client.name;
  if (!CClientStore::PutClient(client)) return Fail(error, "cannot store the client [" + client.name + "]");
  if (!SeedHypervisorLab(error) || !SeedSampleReplications(error) || !SeedSampleArrays(kSampleArrayGroup.id, error) ||
      !SeedSampleGroups(error)) {
    return false;
  }
  if (!CDatabaseLabSeed::AddLab(CDatabaseLabSeed::Sample())) {
    return Fail(error, "cannot store the sample database replications");
  }
  if (!CLabStore::AddUser(CDrJobLab::kSampleOwnerId, "dr-operator", CDrJobLab::kSampleOwnerEmail)) {
    return Fail(error, "cannot add the owner");
  }
  if (!CLabStore::SetKnob(kOwnerKnob, std::to_string(CDrJobLab::kSampleOwnerId))) {
    return Fail(error, "cannot record the owner");
  }
  return true;
}

// SQLite keeps a database's -wal and -shm beside the name it was opened by:
// processes that open one file by two names (hard links) each keep their
// own, do not see each other's writes, and damage the file when both write.
// A symbolic link is no such name: SQLite follows it.
bool OneName(const std::string& path, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || st.st_nlink <= 1) return true;
  return Fail(error, "[" + path + "] has [" + std::to_string(st.st_nlink) +
                         "] hard links: processes that opened it by different names would split and damage it, so "
                         "drjob uses only a database with one name");
}

// Only a regular file is a database: SQLite would open a FIFO and wait for
// a writer for ever, and a folder would be reported by its link count.
// Judged by stat, which neither opens nor blocks.
bool RegularFile(const std::string& path, const struct stat& st, std::string& error) {
  if (S_ISREG(st.st_mode)) return true;
  if (S_ISDIR(st.st_mode)) return Fail(error, "[" + path + "] is a folder, not a database file");
  return Fail(error, "[" + path + "] is not a regular file: only a database file is used");
}

// Why a write of the calling thread's connection failed.
std::string WriteFailure(CDBConnection* c, const std::string& path) {
  if (c->LastErrorCode() == DB_BUSY) return CDrJobLab::LockedText(path);
  return c->LastErrorText();
}

}  // namespace

std::string CDrJobLab::LockedText(const std::string& path) {
  return "the database [" + path + "] is locked by another process (waited [" +
         std::to_string(CDBConnection::BusyTimeoutMs()) + "] ms)";
}

bool CDrJobLab::Open(const std::string& path, std::string& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || access(path.c_str(), R_OK) != 0) {
    return Fail(error, "cannot read the database [" + path + "]");
  }
  if (!RegularFile(path, st, error) || !OneName(path, error)) return false;
  // Only seed makes a lab: anything else is checked without being opened
  // for writing, so a wrong file is left exactly as it was.
  SDBSchemaCheck check;
  check.tables = LabIdentity();
  for (const std::string& t : CSimulators::TableNames()) check.tables.push_back(t);
  for (const char* column : CJobStore::kLeaseColumns) check.columns.emplace_back(CJobStore::kTable, column);
  for (const char* column : CMachineVerdictStore::kAddedColumns) {
    check.columns.emplace_back(CMachineVerdictStore::kTable, column);
  }
  const int rc = CDBConnection::CheckSchema(path, check);
  if (rc == DB_BUSY) return Fail(error, LockedText(path));
  if (rc == DB_NOT_FOUND && check.missingColumn.empty() && IsIdentity(check.missingTable)) {
    return Fail(error, "[" + path + "] is not a management database: it has no table [" + check.missingTable +
                           "] (drjob seed makes one)");
  }
  if (rc == DB_NOT_FOUND && !check.missingColumn.empty()) {
    return Fail(error, "[" + path + "] was seeded before table [" + check.missingTable +
                           "] changed: it has no column [" + check.missingColumn +
                           "] (drjob seed --replace seeds it again)");
  }
  if (rc == DB_NOT_FOUND) {
    return Fail(error, "[" + path + "] was seeded before table [" + check.missingTable +
                           "] was added (drjob seed --replace seeds it again)");
  }
  if (rc != DB_OK) return Fail(error, "[" + path + "] is not a readable management database: " + check.error);
  CDBConnection::SetPath(path);
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return Fail(error, "cannot open the database [" + path + "]");
  // Any read proves the file is a database at all.
  if (c->Exec("SELECT count(*) FROM sqlite_master") != 0) {
    return Fail(error, "[" + path + "] is not a readable management database: " + c->LastErrorText());
  }
  return true;
}

bool CDrJobLab::Seed(const std::string& path, bool replace, bool& replaced, std::string& error) {
  replaced = false;
  struct stat st;
  const bool existed = stat(path.c_str(), &st) == 0;
  bool lab = false;
  if (existed) {
    if (!RegularFile(path, st, error) || !OneName(path, error)) return false;
    SDBSchemaCheck check;
    check.tables = LabIdentity();
    const int rc = CDBConnection::CheckSchema(path, check);
    if (rc == DB_BUSY) return Fail(error, LockedText(path));
    if (rc != DB_OK && rc != DB_NOT_FOUND) {
      return Fail(error, "[" + path + "] is not a readable database (" + check.error + "); seed leaves it as it is");
    }
    if (check.objects > 0 && rc == DB_NOT_FOUND) {
      return Fail(error, "[" + path + "] holds a database that is not a lab (it has no table [" + check.missingTable +
                             "]); seed leaves it as it is, with --replace too");
    }
    if (check.objects > 0 && !replace) {
      return Fail(error, "[" + path + "] already holds a lab; seed --replace replaces it whole");
    }
    lab = check.objects > 0;
  }
  CDBConnection::SetPath(path);
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return Fail(error, "cannot open the database [" + path + "]");
  bool ok = c->BeginWrite() == DB_OK;
  if (!ok) error = "cannot seed [" + path + "]: " + WriteFailure(c, path);
  // What was examined above may have changed before the write lock was
  // taken: judged again under it.
  int objects = -1;
  sqlite3_stmt* s =
      ok ? c->Prepare("SELECT count(*) FROM sqlite_master WHERE substr(name, 1, 7) != 'sqlite_'") : nullptr;
  if (s != nullptr && sqlite3_step(s) == SQLITE_ROW) objects = sqlite3_column_int(s, 0);
  if (s != nullptr) c->Release(s);
  if (ok && objects < 0) {
    ok = Fail(error, "cannot seed [" + path + "]: " + WriteFailure(c, path));
  } else if (ok && objects > 0 && !lab) {
    ok = Fail(error, "[" + path + "] was filled by another process meanwhile; seed leaves it as it is");
  }
  if (ok && lab) {
    long long jobId = 0;
    SProcessId runner;
    const EStoreResult live = CJobStore::FindLiveRunner(jobId, runner);
    if (live == EStoreResult::kOk) {
      ok = Fail(error, "[" + path + "] is in use: DR job [" + std::to_string(jobId) + "] runs in " +
                           CProcessIdentity::Text(runner) + "; the lab is not replaced");
    } else if (live == EStoreResult::kFailed) {
      ok = Fail(error, "cannot tell whether a DR job runs on [" + path + "]: " + WriteFailure(c, path));
    } else if (c->DropSchema() != DB_OK) {
      ok = Fail(error, "cannot clear the lab [" + path + "]: " + WriteFailure(c, path));
    }
  }
  if (ok && !CSimulators::CreateTables(error)) ok = Fail(error, "[" + path + "]: " + error);
  if (ok && !SeedRows(error)) ok = Fail(error, "cannot seed the lab: " + error);
  if (ok && c->Commit() != DB_OK) ok = Fail(error, "cannot seed [" + path + "]: " + WriteFailure(c, path));
  replaced = ok && lab;
  if (ok) return true;
  c->Rollback();
  if (!existed) {
    // Nothing of a seed that failed stays behind, the file it made included.
    CDBConnection::CloseThreadConnections();
    unlink(path.c_str());
  }
  return false;
}

int CDrJobLab::FindGroup(const std::string& nameOrId) {
  bool digits = !nameOrId.empty() && nameOrId.size() < 10;
  for (char ch : nameOrId) digits = digits && ch >= '0' && ch <= '9';
  if (digits) {
    int id = atoi(nameOrId.c_str());
    std::string xml;
    if (id > 0 && CLabStore::GetDRGroup(id, xml)) return id;
  }
  return CLabStore::FindDRGroup(nameOrId);
}

std::string CDrJobLab::StoredGroupName(int groupId) {
  const std::string name = CLabStore::DRGroupName(groupId);
  return name.empty() ? std::to_string(groupId) : CDrJobArgs::CutName(name);
}

std::string CDrJobLab::GroupName(int groupId) { return CDrJobArgs::Printable(StoredGroupName(groupId)); }

int CDrJobLab::OwnerId() {
  int owner = atoi(CLabStore::GetKnob(kOwnerKnob, "1").c_str());
  return owner > 0 ? owner : 1;
}

std::string CDrJobLab::JobOptionsXml(int groupId, TMMsg::DROrchestrationType type, bool deleteFromHypervisor) {
  TMMsg::JobOption options;
  CNMessageBase& dr = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                          .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  dr.SetInt32(TMMsg::DROrchestrationOption::kInitiatedFromMonitor, 0);
  dr.MutableMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity)
      .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, groupId);
  // Kept with the job, so that running the job again runs the same type.
  dr.SetInt32(TMMsg::DROrchestrationOption::kOrchestrationType, type);
  if (type == TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM) {
    // The clean-up removes the replications its options list: the group's.
    dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo)
        .SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, GroupReplications(groupId));
    dr.SetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor, deleteFromHypervisor ? 1 : 0);
  }
  std::string xml;
  options.serializeUTF8(xml);
  return xml;
}

std::vector<SGroupMachine> CDrJobLab::GroupMachines(int groupId) {
  std::vector<SGroupMachine> machines;
  std::string xml;
  Api::VirtualApp app;
  if (!CLabStore::GetDRGroup(groupId, xml) || !app.Unserialize(xml)) return machines;
  const CNMessageBase& config = app.GetMsg(Api::VirtualApp::kConfig);
  for (size_t p = 0; p < config.ListSize(TMMsg::DRGroupConfigFields::kPriorities); ++p) {
    const CNMessageBase& group = config.GetListMsg(TMMsg::DRGroupConfigFields::kPriorities, p);
    for (size_t v = 0; v < group.ListSize(TMMsg::VMGroup::kVMSequence); ++v) {
      const CNMessageBase& entry = group.GetListMsg(TMMsg::VMGroup::kVMSequence, v);
      SGroupMachine machine;
      machine.priority = static_cast<int>(p);
      machine.replicationId = static_cast<int32_t>(entry.GetInt64(TMMsg::VMDependencyOrder::kReplicationId));
      machine.source =
          static_cast<TMMsg::DROpSourceType>(entry.GetInt32(TMMsg::VMDependencyOrder::kInformationSource));
      if (entry.Has(TMMsg::VMDependencyOrder::kVMEntity)) {
        machine.name =
            entry.GetMsg(TMMsg::VMDependencyOrder::kVMEntity).GetString(ZnEntities::VirtualMachineEntity::kName);
      }
      machines.push_back(machine);
    }
  }
  return machines;
}

std::vector<int32_t> CDrJobLab::GroupReplications(int groupId) {
  std::vector<int32_t> ids;
  for (const SGroupMachine& machine : GroupMachines(groupId)) ids.push_back(machine.replicationId);
  return ids;
}
