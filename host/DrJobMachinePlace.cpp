#include "DrJobMachinePlace.h"

#include <string>

#include "DrJobArgs.h"
#include "DrJobOutput.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/OracleInstance.h"
#include "msg/MsgClasses.h"
#include "repl/ReplicaSyncStore.h"
#include "repl/ReplicationSources.h"
#include "repl/ReplicationStatusTexts.h"
#include "vm/HypervisorLab.h"

namespace {

std::string FailoverText(int status) {
  if (status <= 0) return "no failover status";
  const char* text = CReplicationStatusTexts::Failover(status);
  return "failover status [" + (*text != 0 ? std::string(text) : std::to_string(status)) + "]";
}

// "source VM [NAME] on"; on is -1 when the VM cannot be read, else whether
// it runs.
std::string VMState(const char* role, long long instanceId, const std::string& guid, int& on) {
  SLabVM vm;
  const EStoreResult read = CHypervisorLab::GetVM(instanceId, guid, vm);
  if (read != EStoreResult::kOk) {
    on = -1;
    return std::string(role) + " [" + CDrJobArgs::ShownName(guid) + "] cannot be read";
  }
  on = vm.poweredOn ? 1 : 0;
  const char* power = vm.poweredOn ? "on" : "off";
  // The machine is named by its source VM (its DR VM's name most often
  // adds a suffix), at the head of every line that tells where it stands:
  // a name too long to show whole is shown there alone, once per line.
  if (vm.name.size() > CDrJobArgs::kNameShown) return std::string(role) + " " + power;
  return std::string(role) + " [" + CDrJobArgs::ShownName(vm.name) + "] " + power;
}

// Which VM runs the machine's workload, when both could be read.
std::string Runs(int sourceOn, int drOn) {
  if (sourceOn < 0 || drOn < 0) return std::string();
  if (sourceOn == 1 && drOn == 1) return ": both VMs run";
  if (sourceOn == 1) return ": the source VM runs";
  if (drOn == 1) return ": the DR VM runs";
  return ": neither VM runs";
}

// "source database [src1] stopped"; on is -1 when the database cannot be
// read, else whether it runs.
std::string DatabaseState(const char* role, const CNMessageBase& entity, int& on) {
  using Entity = ZnEntities::SubClientEntity;
  const std::string name = CDrJobArgs::ShownName(entity.GetString(Entity::kClientName));
  std::string home;
  bool running = false;
  on = -1;
  if (OracleInstance(static_cast<unsigned long>(entity.GetInt32(Entity::kInstanceId))).getOracleHome(home, nullptr) !=
          0 ||
      CDatabaseHosts::IsRunning(entity.GetInt32(Entity::kClientId), home, running) != EStoreResult::kOk) {
    return std::string(role) + " [" + name + "] cannot be read";
  }
  on = running ? 1 : 0;
  return std::string(role) + " [" + name + "] " + (running ? "running" : "stopped");
}

// Which database runs the machine's workload, when both could be read.
std::string DatabaseRuns(int sourceOn, int drOn) {
  if (sourceOn < 0 || drOn < 0) return std::string();
  if (sourceOn == 1 && drOn == 1) return ": both databases run";
  if (sourceOn == 1) return ": the source database runs";
  if (drOn == 1) return ": the DR database runs";
  return ": neither database runs";
}

std::string SyncText(int status) {
  const char* text = CReplicationStatusTexts::Sync(status);
  return "sync status [" + (*text != 0 ? std::string(text) : std::to_string(status)) + "]";
}

// The replication's record; false, with text set to what stands in its place,
// when there is none or it cannot be read.
bool ReadStored(int replicationId, SSourcedReplication& stored, std::string& text) {
  const EStoreResult read = CReplicationSources::Get(replicationId, stored);
  // A clean-up removes the replications it cleaned.
  if (read == EStoreResult::kMissing) text = "no replication record";
  if (read == EStoreResult::kFailed) text = "its replication cannot be read (" + CDrJobOutput::DatabaseReason() + ")";
  return read == EStoreResult::kOk;
}

std::string StatusesOf(const SSourcedReplication& stored) {
  std::string text = FailoverText(stored.failoverStatus);
  if (stored.syncStatus >= 0) text += ", " + SyncText(stored.syncStatus);
  return text;
}

std::string TextOf(int replicationId, const SSourcedReplication& stored) {
  std::string text = FailoverText(stored.failoverStatus);
  // A test failover keeps a status of its own, which its next step reads.
  if (stored.testFailoverStatus > 0) {
    const char* test = CReplicationStatusTexts::TestFailover(stored.testFailoverStatus);
    text += ", test failover status [" + (*test != 0 ? std::string(test) : std::to_string(stored.testFailoverStatus)) +
            "]";
  }
  SLabReplica replica;
  App::ReplicaSyncReplicationInfo database;
  if (CReplicaSyncStore::Find(replicationId, database) == EStoreResult::kOk) {
    using Info = App::ReplicaSyncReplicationInfo;
    int sourceOn = -1;
    int drOn = -1;
    const std::string source = DatabaseState("source database", database.GetMsg(Info::kSourceEntity), sourceOn);
    const std::string dr = DatabaseState("DR database", database.GetMsg(Info::kDestinationEntity), drOn);
    text += ", " + source + ", " + dr + DatabaseRuns(sourceOn, drOn);
  } else if (CHypervisorLab::GetReplica(replicationId, replica) == EStoreResult::kOk) {
    int sourceOn = -1;
    int drOn = -1;
    const std::string source = VMState("source VM", replica.sourceInstanceId, replica.sourceGuid, sourceOn);
    const std::string dr = VMState("DR VM", replica.destInstanceId, replica.destGuid, drOn);
    text += ", " + source + ", " + dr + Runs(sourceOn, drOn);
  }
  return text;
}

}  // namespace

SMachineStanding CMachinePlace::Read(int replicationId) {
  SSourcedReplication stored;
  SMachineStanding standing;
  if (!ReadStored(replicationId, stored, standing.now)) {
    standing.statuses = standing.now;
    return standing;
  }
  standing.now = TextOf(replicationId, stored);
  standing.statuses = StatusesOf(stored);
  return standing;
}

const SMachineStanding& CMachineStandings::Of(int replicationId) {
  const auto found = m_read.find(replicationId);
  if (found != m_read.end()) return found->second;
  return m_read.emplace(replicationId, CMachinePlace::Read(replicationId)).first->second;
}
