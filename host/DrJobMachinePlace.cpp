#include "DrJobMachinePlace.h"

#include <string>

#include "DrJobOutput.h"
#include "repl/ReplicationSources.h"
#include "repl/ReplicationStatusTexts.h"
#include "vm/HypervisorLab.h"

namespace {

std::string FailoverText(int status) {
  if (status == 0) return "no failover status";
  const char* text = CReplicationStatusTexts::Failover(status);
  return "failover status [" + (*text != 0 ? std::string(text) : std::to_string(status)) + "]";
}

std::string VMState(const char* role, long long instanceId, const std::string& guid) {
  SLabVM vm;
  const EStoreResult read = CHypervisorLab::GetVM(instanceId, guid, vm);
  if (read != EStoreResult::kOk) return std::string(role) + " [" + guid + "] cannot be read";
  return std::string(role) + " [" + vm.name + "] " + (vm.poweredOn ? "on" : "off");
}

}  // namespace

std::string CMachinePlace::Text(int replicationId) {
  SSourcedReplication stored;
  const EStoreResult read = CReplicationSources::Get(replicationId, stored);
  // A clean-up removes the replications it cleaned.
  if (read == EStoreResult::kMissing) return "no replication record";
  if (read != EStoreResult::kOk) {
    return "its replication cannot be read (" + CDrJobOutput::DatabaseReason() + ")";
  }
  std::string text = FailoverText(stored.failoverStatus);
  SLabReplica replica;
  if (CHypervisorLab::GetReplica(replicationId, replica) == EStoreResult::kOk) {
    text += ", " + VMState("source VM", replica.sourceInstanceId, replica.sourceGuid) + ", " +
            VMState("DR VM", replica.destInstanceId, replica.destGuid);
  }
  return text;
}
