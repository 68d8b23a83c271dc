#include "SeedGroups.h"

#include <vector>

#include "SeedArrays.h"
#include "SeedReplications.h"
#include "jobs/LabStore.h"
#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "tasksim/DatabaseLabSeed.h"

namespace {

// One entry of a priority: the replication, the name the group shows and
// where its records come from.
struct SEntry {
  int priority;
  int replicationId;
  std::string name;
  TMMsg::DROpSourceType source;
  std::string guid;  // the VM's, when the mounts find it by GUID; empty: none
};

// A DR group of the entries' priorities, in order, each waiting a minute
// after the one before and going on after a failure; no approval workflow.
std::string GroupXml(const std::vector<SEntry>& entries, int priorities) {
  Api::VirtualApp app;
  CNMessageBase& config = app.MutableMsg(Api::VirtualApp::kConfig);
  for (int priority = 1; priority <= priorities; ++priority) {
    CNMessageBase& group = config.AddMsg(TMMsg::DRGroupConfigFields::kPriorities);
    group.SetInt32(TMMsg::VMGroup::kPriority, priority);
    group.SetInt32(TMMsg::VMGroup::kDelayMinutes, 1);
    group.SetInt32(TMMsg::VMGroup::kContinueOnFailure, 1);
    for (const SEntry& e : entries) {
      if (e.priority != priority) continue;
      CNMessageBase& entry = group.AddMsg(TMMsg::VMGroup::kVMSequence);
      CNMessageBase& vm = entry.MutableMsg(TMMsg::VMDependencyOrder::kVMEntity);
      vm.SetString(ZnEntities::VirtualMachineEntity::kName, e.name);
      if (!e.guid.empty()) vm.SetString(ZnEntities::VirtualMachineEntity::kGuid, e.guid);
      entry.SetInt32(TMMsg::VMDependencyOrder::kBootOrder, priority);
      entry.SetInt64(TMMsg::VMDependencyOrder::kReplicationId, e.replicationId);
      entry.SetInt32(TMMsg::VMDependencyOrder::kInformationSource, e.source);
    }
  }
  app.SetInt32(Api::VirtualApp::kApprovalRequired, 0);
  std::string xml;
  app.serializeUTF8(xml);
  return xml;
}

bool Store(const SSampleGroup& group, const std::vector<SEntry>& entries, int priorities, std::string& error) {
  if (CLabStore::PutDRGroup(group.id, group.name, GroupXml(entries, priorities))) return true;
  error = std::string("cannot store the DR group [") + group.name + "]";
  return false;
}

}  // namespace

bool SeedSampleGroups(std::string& error) {
  std::vector<SEntry> vms;
  for (const SSampleVM& vm : kSampleVMs) {
    vms.push_back(SEntry{vm.priority, vm.replicationId, vm.source, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, ""});
  }
  std::vector<SEntry> databases;
  for (const SSeedDBReplication& r : CDatabaseLabSeed::Sample().replications) {
    databases.push_back(SEntry{1, r.replicationId, r.source.instanceName, TMMsg::DR_OP_SOURCE_DB_REPLICATION, ""});
  }
  std::vector<SEntry> arrays;
  for (const SSampleArrayVM& vm : kSampleArrayVMs) {
    arrays.push_back(SEntry{1, vm.replicationId, vm.name, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION,
                            SampleArrayVMGuid(vm.replicationId)});
  }
  std::vector<SEntry> tests;
  int testPriorities = 0;
  for (const SSampleVM& vm : kSampleTestVMs) {
    tests.push_back(SEntry{vm.priority, vm.replicationId, vm.source, TMMsg::DR_OP_SOURCE_VSA_REPLICATION, ""});
    testPriorities = vm.priority > testPriorities ? vm.priority : testPriorities;
  }
  return Store(kSampleVMGroup, vms, 2, error) && Store(kSampleDBGroup, databases, 1, error) &&
         Store(kSampleArrayGroup, arrays, 1, error) && Store(kSampleTestGroup, tests, testPriorities, error);
}
