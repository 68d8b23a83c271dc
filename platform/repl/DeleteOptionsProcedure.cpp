#include "repl/DeleteOptionsProcedure.h"

#include "db/DBWriteScope.h"
#include "jobs/LabStore.h"
#include "jobs/StandIns.h"
#include "msg/MsgClasses.h"
#include "repl/ReplicationStore.h"

namespace {

int DeleteReplications(const std::vector<SDBProcValue>& inputs, SStandInAnswer& answer) {
  TMMsg::DROrchestrationOption options;
  std::string error;
  if (inputs.empty() || inputs[0].isNull || !options.Unserialize(inputs[0].text, &error)) {
    answer.message = "DR options not readable: " + error;
    return -1;
  }
  const CNMessageBase& info = options.GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
  CDBConnection* c = CDBConnection::ForThread();
  if (c == nullptr) {
    answer.message = "no database";
    return -1;
  }
  // All of them or none, and out of their DR groups with them: a group
  // naming a replication that is gone cannot be set up by any later job.
  CDBWriteScope scope(c);
  std::vector<int> ids;
  for (size_t i = 0; scope.Ok() && i < info.ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds); ++i) {
    const int id = info.GetListInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, i);
    if (CReplicationStore::Remove(id) == EStoreResult::kFailed) {
      answer.errorCode = 1;
      answer.message = "Cannot delete replication [" + std::to_string(id) + "]";
      return 0;
    }
    ids.push_back(id);
  }
  if (scope.Ok() && !CLabStore::RemoveReplicationsFromDRGroups(ids)) {
    answer.errorCode = 1;
    answer.message = "Cannot take the replications out of their DR groups";
    return 0;
  }
  if (!scope.Ok() || !scope.Commit()) {
    answer.errorCode = 1;
    answer.message = "Cannot delete the replications: " + c->LastErrorText();
  }
  return 0;
}

}  // namespace

void CDeleteOptionsProcedure::Register() {
  CDBProcRegistry::Register(kName, [](const std::vector<SDBProcValue>& inputs, SDBProcResult& result) {
    return CStandIns::RunGenericProcedure(kName, inputs, result, DeleteReplications);
  });
}
