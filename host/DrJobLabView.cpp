#include "DrJobLabView.h"

#include <stdio.h>

#include <vector>

#include "appmgr/ClientStore.h"
#include "appmgr/DatabaseHosts.h"
#include "appmgr/RemoteExecStore.h"
#include "array/AfileStore.h"
#include "array/ArrayCallJournal.h"
#include "array/ArrayLunStore.h"
#include "array/ArrayRelationshipStore.h"
#include "array/ArrayStore.h"
#include "msg/MsgClasses.h"
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

// A status as the console names it; "-" for none.
std::string StatusText(const char* text, int status) {
  if (status == 0) return "-";
  return *text != 0 ? std::string(text) : "[" + std::to_string(status) + "]";
}

// The stored statuses of the VM replications the lab holds, with the
// snapshot and point-in-time properties a DR job leaves.
bool ShowReplications() {
  std::vector<SLabReplica> replicas;
  if (CHypervisorLab::Replicas(replicas) != EStoreResult::kOk) return false;
  printf("replications:\n%-8s %-28s %-18s %-12s %-12s %s\n", "id", "failover", "sync", "source-snap", "dest-snap",
         "point-in-time");
  for (const SLabReplica& r : replicas) {
    App::VSAReplicationInfo info;
    const EStoreResult read = CReplicationStore::Find(r.replicationId, info);
    if (read == EStoreResult::kMissing) continue;
    if (read != EStoreResult::kOk) return false;
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
  std::vector<SArrayCall> calls;
  if (CArrayStore::All(arrays) != EStoreResult::kOk || CArrayRelationshipStore::All(relationships) != EStoreResult::kOk ||
      CArrayLunStore::All(luns) != EStoreResult::kOk || CAfileStore::All(afiles) != EStoreResult::kOk ||
      CArrayCallJournal::All(calls) != EStoreResult::kOk) {
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
  printf("array calls:\n%-6s %-6s %-42s %-12s %s\n", "seq", "host", "call", "result", "arguments");
  for (const SArrayCall& c : calls) {
    printf("%-6lld %-6d %-42s %-12s %s\n", c.seq, c.controlHostId, c.call.c_str(), Text(c.result),
           Text(c.arguments));
  }
  return true;
}

}  // namespace

bool CDrJobLabView::Show() {
  return ShowHypervisors() && ShowReplications() && ShowDatabaseHosts() && ShowArrays();
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
