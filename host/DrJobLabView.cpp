#include "DrJobLabView.h"

#include <stdio.h>

#include <map>
#include <set>
#include <utility>
#include <vector>

#include "appmgr/ClientStore.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/RemoteExecStore.h"
#include "appmgr/SubclientActivityStore.h"
#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "array/SnapReplicationStore.h"
#include "msg/MsgClasses.h"
#include "repl/ReplicaSyncStore.h"
#include "repl/ReplicationStatusTexts.h"
#include "repl/ReplicationStore.h"
#include "vm/HypervisorLab.h"

namespace {

const char* UpDown(bool down) { return down ? "down" : "up"; }

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ",") + p;
  return out.empty() ? "-" : out;
}

bool ShowHypervisors() {
  std::vector<SLabInstance> instances;
  std::vector<SLabProxy> proxies;
  std::vector<SLabVM> vms;
  std::vector<SLabReplica> replicas;
  if (CHypervisorLab::Instances(instances) != EStoreResult::kOk || CHypervisorLab::Proxies(proxies) != EStoreResult::kOk ||
      CHypervisorLab::VMs(0, vms) != EStoreResult::kOk || CHypervisorLab::Replicas(replicas) != EStoreResult::kOk) {
    return false;
  }
  printf("instances:\n%-8s %-12s %-6s %-18s %-5s %s\n", "id", "name", "vendor", "host", "state", "proxies");
  for (const SLabInstance& i : instances) {
    std::vector<std::string> served;
    for (const SLabProxy& p : proxies) {
      for (const SLabProxyInstance& s : p.instances) {
        if (s.instanceId == i.id) served.push_back(std::to_string(p.clientId));
      }
    }
    printf("%-8lld %-12s %-6d %-18s %-5s %s\n", i.id, i.name.c_str(), i.vendor, i.host.c_str(), UpDown(i.down),
           Joined(served).c_str());
  }
  printf("proxies:\n%-8s %-12s %-5s %s\n", "id", "name", "state", "instances");
  for (const SLabProxy& p : proxies) {
    std::vector<std::string> served;
    for (const SLabProxyInstance& s : p.instances) served.push_back(std::to_string(s.instanceId));
    printf("%-8lld %-12s %-5s %s\n", p.clientId, p.name.c_str(), UpDown(p.down), Joined(served).c_str());
  }
  printf("VMs:\n%-8s %-12s %-16s %-5s %-5s %-15s %-8s %s\n", "instance", "guid", "name", "power", "tools", "ip",
         "content", "snapshots");
  for (const SLabVM& vm : vms) {
    std::vector<SLabSnapshot> snaps;
    if (CHypervisorLab::Snapshots(vm.instanceId, vm.guid, snaps) != EStoreResult::kOk) return false;
    std::vector<std::string> names;
    for (const SLabSnapshot& s : snaps) names.push_back(s.name);
    const std::string ip = CHypervisorLab::ReportedIp(vm);
    printf("%-8lld %-12s %-16s %-5s %-5s %-15s %-8lld %s\n", vm.instanceId, vm.guid.c_str(), vm.name.c_str(),
           vm.poweredOn ? "on" : "off", vm.toolsInstalled ? "yes" : "no", ip.empty() ? "-" : ip.c_str(), vm.content,
           Joined(names).c_str());
  }
  printf("replicas:\n%-8s %-20s %-20s %-10s %s\n", "id", "source", "destination", "backed-up", "synced");
  for (const SLabReplica& r : replicas) {
    printf("%-8d %-20s %-20s %-10lld %lld\n", r.replicationId,
           (std::to_string(r.sourceInstanceId) + ":" + r.sourceGuid).c_str(),
           (std::to_string(r.destInstanceId) + ":" + r.destGuid).c_str(), r.backedUpContent, r.syncedContent);
  }
  return true;
}

const char* Text(const std::string& s) { return s.empty() ? "-" : s.c_str(); }

// A status as the console names it; "-" for none, "[N]" for one without a
// name.
std::string StatusText(const char* text, int status) {
  if (status == 0) return "-";
  return *text != 0 ? std::string(text) : "[" + std::to_string(status) + "]";
}

// A listed record that cannot be read: one line in its section, counted, and
// the view goes on (the record's owner logged why).
void Unreadable(int id, int& unreadable) {
  printf("%-8d cannot be read (see the log)\n", id);
  ++unreadable;
}

// The stored statuses of the VM replications the lab holds, with the
// snapshot and point-in-time properties a DR job leaves.
bool ShowReplications(int& unreadable) {
  std::vector<SLabReplica> replicas;
  if (CHypervisorLab::Replicas(replicas) != EStoreResult::kOk) return false;
  printf("replications:\n%-8s %-28s %-18s %-12s %-12s %s\n", "id", "failover", "sync", "source-snap", "dest-snap",
         "point-in-time");
  for (const SLabReplica& r : replicas) {
    App::VSAReplicationInfo info;
    const EStoreResult read = CReplicationStore::Find(r.replicationId, info);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) {
      Unreadable(r.replicationId, unreadable);
      continue;
    }
    printf("%-8d %-28s %-18s %-12s %-12s %s\n", r.replicationId,
           StatusText(CReplicationStatusTexts::Failover(info.GetInt32(App::VSAReplicationInfo::kFailoverStatus)),
                      info.GetInt32(App::VSAReplicationInfo::kFailoverStatus)).c_str(),
           StatusText(CReplicationStatusTexts::Sync(info.GetInt32(App::VSAReplicationInfo::kSyncStatus)),
                      info.GetInt32(App::VSAReplicationInfo::kSyncStatus)).c_str(),
           Text(CReplicationStore::PropertyOf(info, CReplicationStore::kPropSourceSnapMoref)),
           Text(CReplicationStore::PropertyOf(info, CReplicationStore::kPropDestSnapMoref)),
           Text(CReplicationStore::PropertyOf(info, CReplicationStore::kPropPitSnapshotId)));
  }
  return true;
}

// The database replications' statuses, which a database failover changes;
// no section in a lab without them.
bool ShowDatabaseReplications(int& unreadable) {
  using Info = App::ReplicaSyncReplicationInfo;
  std::vector<int> ids;
  if (CReplicaSyncStore::Ids(ids) != EStoreResult::kOk) return false;
  if (ids.empty()) return true;
  printf("database replications:\n%-8s %-10s %-28s %s\n", "id", "subclient", "failover", "sync");
  for (int id : ids) {
    Info info;
    const EStoreResult read = CReplicaSyncStore::Find(id, info);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) {
      Unreadable(id, unreadable);
      continue;
    }
    const int subclient = info.GetMsg(Info::kSourceEntity).GetInt32(ZnEntities::SubClientEntity::kSubclientId);
    const int failover = info.GetInt32(Info::kFailoverStatus);
    const int sync = info.GetInt32(Info::kSyncStatus);
    printf("%-8d %-10d %-28s %s\n", id, subclient,
           StatusText(CReplicationStatusTexts::Failover(failover), failover).c_str(),
           StatusText(CReplicationStatusTexts::Sync(sync), sync).c_str());
  }
  return true;
}

bool ShowDatabaseHosts() {
  std::vector<SDatabaseHost> hosts;
  if (CDatabaseHosts::Databases(hosts) != EStoreResult::kOk) return false;
  printf("database hosts:\n%-8s %-12s %-20s %-9s %s\n", "client", "name", "home", "database", "state");
  for (const SDatabaseHost& h : hosts) {
    SClientRecord client;
    bool reachable = true;
    if (CClientStore::FindById(h.clientId, client) == EStoreResult::kFailed ||
        CRemoteExecStore::IsReachable(h.clientId, reachable) != EStoreResult::kOk) {
      return false;
    }
    printf("%-8d %-12s %-20s %-9s %s\n", h.clientId, Text(client.name), Text(h.home), h.running ? "running" : "stopped",
           UpDown(!reachable));
  }
  return true;
}

bool ShowArrays() {
  std::vector<SLabArray> arrays;
  std::vector<SLabRelationship> relationships;
  std::vector<SLabLun> luns;
  std::vector<SSnapAfile> afiles;
  if (CArrayStore::All(arrays) != EStoreResult::kOk || CArrayRelationshipStore::All(relationships) != EStoreResult::kOk ||
      CArrayLunStore::All(luns) != EStoreResult::kOk || CAfileStore::All(afiles) != EStoreResult::kOk) {
    return false;
  }
  printf("arrays:\n%-8s %-12s %-10s %-8s %s\n", "id", "name", "vserver", "managed", "state");
  for (const SLabArray& a : arrays) {
    printf("%-8d %-12s %-10s %-8s %s\n", a.controlHostId, a.name.c_str(), Text(a.vserver), a.managed ? "yes" : "no",
           UpDown(!a.reachable));
  }
  printf("relationships:\n%-8s %-20s %-20s %-14s %s\n", "array", "source", "destination", "mirror", "status");
  for (const SLabRelationship& r : relationships) {
    printf("%-8d %-20s %-20s %-14s %s\n", r.controlHostId, Text(r.sourcePath), r.destPath.c_str(),
           Text(r.mirrorState), Text(r.status));
  }
  printf("LUNs:\n%-8s %-12s %-20s %s\n", "array", "volume", "path", "mapped");
  for (const SLabLun& l : luns) {
    printf("%-8d %-12s %-20s %s\n", l.controlHostId, l.volume.c_str(), l.path.c_str(), l.mapped ? "yes" : "no");
  }
  printf("afiles:\n%-6s %-12s %-12s %-14s %-6s %-6s %s\n", "id", "master-job", "job", "vm", "copy", "mount",
         "host");
  for (const SSnapAfile& f : afiles) {
    printf("%-6d %-12lld %-12lld %-14s %-6d %-6d %d\n", f.afileId, f.masterJobId, f.jobId, Text(f.vmName), f.copyId,
           f.mountStatus, f.mountHostId);
  }
  return true;
}

// The storage-array replications' statuses, which the storage-array DR
// types change; subclients collects the subclients they back up from. No
// section in a lab without them.
bool ShowArrayReplications(std::set<int>& subclients, int& unreadable) {
  using Info = Api::SnapDRReplicationInfo;
  std::vector<int> ids;
  if (CSnapReplicationStore::Ids(ids) != EStoreResult::kOk) return false;
  if (ids.empty()) return true;
  printf("storage-array replications:\n%-8s %-14s %-10s %-28s %s\n", "id", "vm", "subclient", "failover",
         "test-failover");
  for (int id : ids) {
    SSnapReplication r;
    const EStoreResult read = CSnapReplicationStore::Get(id, r);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) {
      Unreadable(id, unreadable);
      continue;
    }
    const int subclient = r.info.GetMsg(Info::kSourceEntity).GetInt32(ZnEntities::SubClientEntity::kSubclientId);
    if (subclient != 0) subclients.insert(subclient);
    const int failover = r.info.GetInt32(Info::kFailoverStatus);
    const int test = r.info.GetInt32(Info::kTestFailoverStatus);
    printf("%-8d %-14s %-10d %-28s %s\n", id, Text(r.info.GetString(Info::kSourceVMName)), subclient,
           StatusText(CReplicationStatusTexts::Failover(failover), failover).c_str(),
           StatusText(CReplicationStatusTexts::TestFailover(test), test).c_str());
  }
  return true;
}

// Whether each subclient's activity is enabled: the backups of the
// subclients the storage-array replications are backed up by (a failover
// switches them off, its undo on again; no record is enabled), and every
// switch stored for any subclient. No section when there is none.
bool ShowSubclientActivity(const std::set<int>& subclients) {
  std::vector<SSubclientActivity> switches;
  if (CSubclientActivityStore::All(switches) != EStoreResult::kOk) return false;
  std::map<std::pair<int, int>, bool> enabled;
  for (int subclient : subclients) enabled[{subclient, CSubclientActivityStore::kBackupOpType}] = true;
  for (const SSubclientActivity& a : switches) enabled[{a.appId, a.opType}] = a.enabled;
  if (enabled.empty()) return true;
  printf("subclient activity:\n%-10s %-10s %s\n", "subclient", "operation", "state");
  for (const auto& e : enabled) {
    const int opType = e.first.second;
    const std::string operation =
        opType == CSubclientActivityStore::kBackupOpType ? std::string("backup") : "[" + std::to_string(opType) + "]";
    printf("%-10d %-10s %s\n", e.first.first, operation.c_str(), e.second ? "enabled" : "disabled");
  }
  return true;
}

// Last: the journal grows with every call a DR job makes.
bool ShowArrayCalls() {
  std::vector<SArrayCall> calls;
  if (CArrayCallJournal::All(calls) != EStoreResult::kOk) return false;
  printf("array calls:\n%-6s %-6s %-42s %-12s %s\n", "seq", "host", "call", "result", "arguments");
  for (const SArrayCall& c : calls) {
    printf("%-6lld %-6d %-42s %-12s %s\n", c.seq, c.controlHostId, c.call.c_str(), Text(c.result),
           Text(c.arguments));
  }
  return true;
}

}  // namespace

bool CDrJobLabView::Show(int& unreadable) {
  unreadable = 0;
  std::set<int> arraySubclients;
  return ShowHypervisors() && ShowReplications(unreadable) && ShowDatabaseReplications(unreadable) &&
         ShowDatabaseHosts() && ShowArrays() && ShowArrayReplications(arraySubclients, unreadable) &&
         ShowSubclientActivity(arraySubclients) && ShowArrayCalls();
}

EStoreResult CDrJobLabView::FindVM(const std::string& name, SLabVM& out) {
  std::vector<SLabVM> vms;
  if (CHypervisorLab::VMs(0, vms) != EStoreResult::kOk) return EStoreResult::kFailed;
  for (const SLabVM& vm : vms) {
    if (vm.name != name) continue;
    out = vm;
    return EStoreResult::kOk;
  }
  return EStoreResult::kMissing;
}

EStoreResult CDrJobLabView::SetDown(const std::string& name, bool down) {
  const EStoreResult site = CHypervisorLab::SetDown(name, down);
  if (site != EStoreResult::kMissing) return site;
  SLabArray array;
  const EStoreResult found = CArrayStore::FindByName(name, array);
  if (found == EStoreResult::kOk) return CArrayStore::SetReachable(array.controlHostId, !down);
  if (found != EStoreResult::kMissing) return found;
  SClientRecord client;
  const EStoreResult known = CClientStore::FindByName(name, client);
  if (known != EStoreResult::kOk) return known;
  return CRemoteExecStore::SetReachable(client.id, !down) ? EStoreResult::kOk : EStoreResult::kFailed;
}
