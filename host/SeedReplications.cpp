#include "SeedReplications.h"

#include "msg/MsgClasses.h"
#include "msg/MsgEnums.h"
#include "jobs/TaskStore.h"
#include "repl/ReplicationStore.h"

namespace {

const int kReplicationTaskId = 11;
const int kReplicationSubclientId = 21;
const int kClientId = 1;
// Both sites are hypervisors of vendor 1.
const int kVendor = 1;

}  // namespace

bool SeedSampleReplications(std::string& error) {
  // The replication task: VM restore options with every DR switch off.
  TMMsg::TaskInfo task;
  CNMessageBase& vmOptions =
      task.AddMsg(5, 5).MutableMsg(4, 4).MutableMsg(2, 2).MutableMsg(25, 25).MutableMsg(1, 1);
  vmOptions.SetInt32(37, 67, 0);
  vmOptions.SetInt32(41, 74, 0);
  std::string taskXml;
  if (!task.serializeUTF8(taskXml) || !CTaskStore::PutTask(kReplicationTaskId, taskXml)) {
    error = "cannot store replication task [" + std::to_string(kReplicationTaskId) + "]";
    return false;
  }
  for (const SSampleVM& r : kSampleVMs) {
    const std::string id = std::to_string(r.replicationId);
    App::VSAReplicationInfo info;
    info.SetInt32(1, 1, r.replicationId);
    info.SetString(2, 2, "repl-" + id);
    info.SetString(3, 3, "src-" + id);
    info.SetString(4, 4, r.source);
    info.SetString(5, 5, "dst-" + id);
    info.SetString(6, 6, r.destination);
    info.MutableMsg(9, 9).SetInt32(0, 0, kReplicationTaskId * 10);
    info.MutableMsg(9, 9).SetInt32(1, 1, kReplicationTaskId);
    CNMessageBase& subclient = info.MutableMsg(38, 38);
    subclient.SetInt32(0, 0, kReplicationSubclientId);
    subclient.SetInt32(2, 2, kClientId);
    info.SetInt32(17, 17, App::VSA_REPL_STATUS_IN_SYNC);
    info.SetInt32(23, 23, App::VSA_FAILOVER_STATUS_NONE);
    info.SetInt32(54, 54, kVendor);
    info.SetInt32(58, 58, kVendor);
    info.SetInt32(64, 64, 1);
    if (!CReplicationStore::Put(info, kReplicationTaskId)) {
      error = "cannot store replication [" + id + "]";
      return false;
    }
  }
  return true;
}
