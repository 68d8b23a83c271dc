#include "tasksim/DatabaseLabSeed.h"

#include <set>

#include "appmgr/ClientStore.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/InstanceProperties.h"
#include "jobs/TaskStore.h"
#include "jobsim/StoragePolicyStore.h"
#include "repl/ReplicaSyncStore.h"

SSeedDBReplication CDatabaseLabSeed::Simple(int replicationId, int subclientId, int taskId) {
  SSeedDBReplication r;
  r.replicationId = replicationId;
  r.subclientId = subclientId;
  r.taskId = taskId;
  const std::string n = std::to_string(replicationId);
  r.source = SSeedDBSite{10 + replicationId, "src" + n, 100 + replicationId, "ORCL" + n, "/u01/src" + n, true};
  r.destination = SSeedDBSite{20 + replicationId, "dst" + n, 200 + replicationId, "ORCL" + n + "DR", "/u01/dst" + n,
                              false};
  return r;
}

SSeedDBLab CDatabaseLabSeed::Sample() {
  SSeedDBLab lab;
  lab.taskId = 41;
  lab.storagePolicyId = 6;
  lab.primaryCopyId = 61;
  for (int id : {1, 2}) lab.replications.push_back(Simple(id, 30 + id, lab.taskId));
  return lab;
}

ZnEntities::SubClientEntity CDatabaseLabSeed::Entity(const SSeedDBSite& site, int subclientId, int applicationId) {
  using Entity = ZnEntities::SubClientEntity;
  Entity e;
  e.SetInt32(Entity::kSubclientId, subclientId);
  e.SetInt32(Entity::kClientId, site.clientId);
  e.SetString(Entity::kClientName, site.clientName);
  e.SetInt32(Entity::kInstanceId, site.instanceId);
  e.SetString(Entity::kName, site.instanceName);
  e.SetInt32(Entity::kApplicationId, applicationId);
  return e;
}

App::ReplicaSyncReplicationInfo CDatabaseLabSeed::Replication(const SSeedDBReplication& r) {
  using Info = App::ReplicaSyncReplicationInfo;
  Info info;
  info.SetInt32(Info::kReplicationId, r.replicationId);
  CNMessageBase& subtask = info.MutableMsg(Info::kSubtask);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, r.taskId * 10);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, r.taskId);
  info.SetMsg(Info::kSourceEntity, Entity(r.source, r.subclientId, r.applicationId));
  info.SetMsg(Info::kDestinationEntity, Entity(r.destination, r.subclientId, r.applicationId));
  info.SetInt32(Info::kSyncStatus, r.syncStatus);
  info.SetInt32(Info::kFailoverStatus, r.failoverStatus);
  info.SetString(Info::kSourceGuid, "db-src-" + std::to_string(r.replicationId));
  info.SetString(Info::kDestinationGuid, "db-dst-" + std::to_string(r.replicationId));
  return info;
}

bool CDatabaseLabSeed::AddSite(const SSeedDBSite& site, bool withHome) {
  SClientRecord client;
  client.id = site.clientId;
  client.name = site.clientName;
  if (!CClientStore::PutClient(client)) return false;
  InstanceProperties instance(site.instanceId);
  if (instance.putInstance(site.clientId, site.instanceName) != 0) return false;
  if (withHome && instance.setAttribute(ZN_PROP_ORACLE_HOME, site.home) != 0) return false;
  return CDatabaseHosts::PutDatabase(site.clientId, withHome ? site.home : std::string(), site.running);
}

bool CDatabaseLabSeed::StoreReplication(const SSeedDBReplication& r) {
  return CReplicaSyncStore::Create(Replication(r));
}

bool CDatabaseLabSeed::AddReplication(const SSeedDBReplication& r) {
  return AddSite(r.source) && AddSite(r.destination) && StoreReplication(r);
}

bool CDatabaseLabSeed::AddLab(const SSeedDBLab& lab) {
  SStoragePolicy policy;
  policy.policyId = lab.storagePolicyId;
  policy.copies = {SStorageCopy{lab.primaryCopyId, 1, true, true}};
  if (!CStoragePolicyStore::PutPolicy(policy)) return false;
  std::set<int> subclients;
  for (const SSeedDBReplication& r : lab.replications) subclients.insert(r.subclientId);
  for (int subclient : subclients) {
    if (!CStoragePolicyStore::AssignSubclient(SSubclientPolicy{subclient, lab.storagePolicyId, false})) return false;
  }
  // The replica-sync task a sync start names: a schedule with restore
  // options (no bucketing).
  TMMsg::TaskInfo task;
  task.AddMsg(TMMsg::TaskInfo::kSubTasks)
      .MutableMsg(TMMsg::SubTaskInfo::kJobOptions)
      .MutableMsg(TMMsg::JobOption::kRestoreOptions)
      .MutableMsg(TMMsg::RestoreOptionFields::kVirtualServerRestoreOptions)
      .MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  if (!CTaskStore::PutTask(lab.taskId, ETaskKind::kSchedule, task)) return false;
  for (const SSeedDBReplication& r : lab.replications) {
    if (!AddReplication(r)) return false;
  }
  return true;
}
