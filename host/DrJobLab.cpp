#include "DrJobLab.h"

#include <stdlib.h>
#include <unistd.h>

#include <vector>

#include "SeedLab.h"
#include "SeedReplications.h"
#include "appmgr/ClientStore.h"
#include "db/DBConnection.h"
#include "jobs/LabStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "settings/ZNPlatformInfo.h"
#include "sim/Simulators.h"

namespace {

const char kOwnerKnob[] = "drjob.owner";
const int kClientId = 1;

bool Fail(std::string& error, const std::string& text) {
  error = text;
  return false;
}

std::string SampleGroupXml() {
  Api::VirtualApp app;
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  for (int priority = 1; priority <= 2; ++priority) {
    CNMessageBase& group = config.AddMsg(TMMsg::DRGroupConfigFields::kPriorities);
    group.SetInt32(TMMsg::VMGroup::kPriority, priority);
    group.SetInt32(TMMsg::VMGroup::kDelayMinutes, 1);
    group.SetInt32(TMMsg::VMGroup::kContinueOnFailure, 1);
    for (const SSampleVM& vm : kSampleVMs) {
      if (vm.priority != priority) continue;
      CNMessageBase& entry = group.AddMsg(TMMsg::VMGroup::kVMSequence);
      entry.MutableMsg(TMMsg::VMDependencyOrder::kVMEntity).SetString(ZnEntities::VirtualMachineEntity::kName, vm.source);
      entry.SetInt32(TMMsg::VMDependencyOrder::kBootOrder, priority);
      entry.SetInt64(TMMsg::VMDependencyOrder::kReplicationId, vm.replicationId);
      entry.SetInt32(TMMsg::VMDependencyOrder::kInformationSource, TMMsg::DR_OP_SOURCE_VSA_REPLICATION);
    }
  }
  // No approval workflow for the sample group.
  app.SetInt32(Api::VirtualApp::kApprovalRequired, 0);
  std::string xml;
  app.serializeUTF8(xml);
  return xml;
}

}  // namespace

bool CDrJobLab::Open(const std::string& path, bool create, std::string& error) {
  if (!create) {
    if (access(path.c_str(), R_OK) != 0) return Fail(error, "cannot read the database [" + path + "]");
    // Only seed makes a lab: anything else is checked without being opened
    // for writing, so a wrong file is left exactly as it was.
    std::string missing, reason;
    const int rc = CDBConnection::CheckTables(path, CSimulators::TableNames(), missing, reason);
    if (rc == DB_NOT_FOUND) {
      return Fail(error, "[" + path + "] is not a management database: it has no table [" + missing +
                             "] (drjob seed makes one)");
    }
    if (rc != DB_OK) return Fail(error, "[" + path + "] is not a readable management database: " + reason);
  }
  CDBConnection::SetPath(path);
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) return Fail(error, "cannot open the database [" + path + "]");
  // Any read proves the file is a database at all.
  if (c->Exec("SELECT count(*) FROM sqlite_master") != 0) {
    return Fail(error, "[" + path + "] is not a readable management database: " + c->LastErrorText());
  }
  if (create && !CSimulators::CreateTables(error)) return Fail(error, "[" + path + "]: " + error);
  return true;
}

bool CDrJobLab::Seed(std::string& error) {
  // The client the DR job runs on is this machine.
  SClientRecord client;
  client.id = kClientId;
  client.name = ZNPlatformInfo::getPhysicalMachine();
  if (client.name.empty()) return Fail(error, "cannot tell this machine's name");
  client.hostName = client.name;
  client.displayName = client.name;
  if (!CClientStore::PutClient(client)) return Fail(error, "cannot store the client [" + client.name + "]");
  if (!SeedSampleReplications(error) || !SeedHypervisorLab(error)) return false;
  if (!CLabStore::AddUser(kSampleOwnerId, "dr-operator", kSampleOwnerEmail)) return Fail(error, "cannot add the owner");
  if (!CLabStore::SetKnob(kOwnerKnob, std::to_string(kSampleOwnerId))) return Fail(error, "cannot record the owner");
  if (!CLabStore::PutDRGroup(kSampleGroupId, kSampleGroup, SampleGroupXml())) {
    return Fail(error, "cannot store the DR group");
  }
  return true;
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

int CDrJobLab::OwnerId() {
  int owner = atoi(CLabStore::GetKnob(kOwnerKnob, "1").c_str());
  return owner > 0 ? owner : 1;
}

std::string CDrJobLab::JobOptionsXml(int groupId) {
  TMMsg::JobOption options;
  CNMessageBase& dr = options.MutableMsg(TMMsg::JobOption::kBackupOptions)
                          .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  dr.SetInt32(TMMsg::DROrchestrationOption::kInitiatedFromMonitor, 0);
  dr.MutableMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity)
      .SetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId, groupId);
  std::string xml;
  options.serializeUTF8(xml);
  return xml;
}

int CDrJobLab::GroupOfJob(const std::string& optionsXml) {
  TMMsg::JobOption options;
  std::string error;
  if (!options.Unserialize(optionsXml, &error) || !options.Has(TMMsg::JobOption::kBackupOptions)) return 0;
  const CNMessageBase& job = options.GetMsg(TMMsg::JobOption::kBackupOptions);
  if (!job.Has(TMMsg::BackupOptionFields::kDROrchestrationOption)) return 0;
  const CNMessageBase& dr = job.GetMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  if (!dr.Has(TMMsg::DROrchestrationOption::kVirtualAppEntity)) return 0;
  const CNMessageBase& entity = dr.GetMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity);
  return entity.Has(ZnEntities::VirtualAppEntity::kVirtualAppId)
             ? entity.GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId)
             : 0;
}
