#include "vm/HypervisorStore.h"

#include <stdlib.h>

#include <set>

#include "core/ProcessIdentity.h"
#include "db/DBWriteScope.h"
#include "jobsim/SimSql.h"
#include "time/PlatformClock.h"

namespace {

int CreateSchema(CDBConnection& c) {
  static const char* const kSchema[] = {
      "CREATE TABLE IF NOT EXISTS PLT_HvInstances (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
      " vendor INTEGER NOT NULL, host TEXT, user TEXT, clientId INTEGER NOT NULL DEFAULT 0,"
      " fbrClientId INTEGER NOT NULL DEFAULT 0, down INTEGER NOT NULL DEFAULT 0)",
      "CREATE TABLE IF NOT EXISTS PLT_HvRegions (instanceId INTEGER NOT NULL, name TEXT NOT NULL,"
      " datastores TEXT, networks TEXT, sizes TEXT, PRIMARY KEY (instanceId, name))",
      "CREATE TABLE IF NOT EXISTS PLT_HvProxies (clientId INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
      " down INTEGER NOT NULL DEFAULT 0, installDirectory TEXT)",
      "CREATE TABLE IF NOT EXISTS PLT_HvProxyInstances (clientId INTEGER NOT NULL, instanceId INTEGER NOT NULL,"
      " position INTEGER NOT NULL, PRIMARY KEY (clientId, instanceId))",
      "CREATE TABLE IF NOT EXISTS PLT_HvVMs (instanceId INTEGER NOT NULL, guid TEXT NOT NULL, name TEXT NOT NULL,"
      " poweredOn INTEGER NOT NULL, tools INTEGER NOT NULL, ip TEXT, host TEXT, datastores TEXT, nics TEXT,"
      " size TEXT, diskCount INTEGER NOT NULL, diskSizeMB INTEGER NOT NULL, content INTEGER NOT NULL,"
      " clientId INTEGER NOT NULL, clone INTEGER NOT NULL, projectId TEXT, placement TEXT,"
      " PRIMARY KEY (instanceId, guid))",
      "CREATE INDEX IF NOT EXISTS idx_PLT_HvVMs_guid ON PLT_HvVMs (guid)",
      // A look-up by name reads the VMs of that name, in the order it
      // takes the first of them, not every VM of its instance.
      "CREATE INDEX IF NOT EXISTS idx_PLT_HvVMs_name ON PLT_HvVMs (instanceId, name, guid)",
      "CREATE TABLE IF NOT EXISTS PLT_HvSnapshots (ref TEXT PRIMARY KEY, instanceId INTEGER NOT NULL,"
      " vmGuid TEXT NOT NULL, name TEXT, description TEXT, position INTEGER NOT NULL, content INTEGER NOT NULL,"
      " poweredOn INTEGER NOT NULL, nics TEXT)",
      "CREATE INDEX IF NOT EXISTS idx_PLT_HvSnapshots_vm ON PLT_HvSnapshots (instanceId, vmGuid)",
      "CREATE TABLE IF NOT EXISTS PLT_HvReplicas (replicationId INTEGER PRIMARY KEY,"
      " sourceInstanceId INTEGER NOT NULL, sourceGuid TEXT, destInstanceId INTEGER NOT NULL, destGuid TEXT,"
      " destName TEXT, backedUpContent INTEGER NOT NULL, syncedContent INTEGER NOT NULL)",
      "CREATE INDEX IF NOT EXISTS idx_PLT_HvReplicas_source ON PLT_HvReplicas (sourceGuid)",
      "CREATE INDEX IF NOT EXISTS idx_PLT_HvReplicas_dest ON PLT_HvReplicas (destInstanceId, destGuid)",
      "CREATE TABLE IF NOT EXISTS PLT_HvCalls (seq INTEGER PRIMARY KEY AUTOINCREMENT, at INTEGER NOT NULL,"
      " opType INTEGER NOT NULL, instanceId INTEGER NOT NULL, vmGuid TEXT, vmName TEXT,"
      " proxyId INTEGER NOT NULL, result INTEGER NOT NULL, errorText TEXT, detail TEXT, jobId INTEGER NOT NULL)",
      "CREATE TABLE IF NOT EXISTS PLT_HvFaults (id INTEGER PRIMARY KEY AUTOINCREMENT, opType INTEGER NOT NULL,"
      " vm TEXT, fromCall INTEGER NOT NULL, toCall INTEGER NOT NULL, kind INTEGER NOT NULL,"
      " code INTEGER NOT NULL, text TEXT)",
      "CREATE TABLE IF NOT EXISTS PLT_HvCounters (name TEXT PRIMARY KEY, value INTEGER NOT NULL)",
      "CREATE TABLE IF NOT EXISTS PLT_HvDatastores (instanceId INTEGER NOT NULL, name TEXT NOT NULL,"
      " holderProxyId INTEGER NOT NULL, mountedVm TEXT, testFailover INTEGER NOT NULL,"
      " PRIMARY KEY (instanceId, name))",
      "CREATE TABLE IF NOT EXISTS PLT_HvMountsInFlight (token INTEGER NOT NULL, instanceId INTEGER NOT NULL,"
      " datastore TEXT NOT NULL, since INTEGER NOT NULL, ownerHost TEXT, ownerPid INTEGER NOT NULL DEFAULT 0,"
      " ownerStart INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (token, instanceId, datastore))",
      "CREATE INDEX IF NOT EXISTS idx_PLT_HvMountsInFlight_datastore ON PLT_HvMountsInFlight (instanceId, datastore)",
  };
  for (const char* sql : kSchema) {
    const int rc = c.Exec(sql);
    if (rc != DB_OK) return rc;
  }
  // A lab made before a later change lacks its columns, which it gains here
  // on first use: a mount in flight naming its process; a snapshot keeping
  // the VM's cards (NULL in a snapshot taken before: none kept).
  static const char* const kAddedColumns[][3] = {{"PLT_HvMountsInFlight", "ownerHost", "TEXT"},
                                                 {"PLT_HvMountsInFlight", "ownerPid", "INTEGER NOT NULL DEFAULT 0"},
                                                 {"PLT_HvMountsInFlight", "ownerStart", "INTEGER NOT NULL DEFAULT 0"},
                                                 {"PLT_HvSnapshots", "nics", "TEXT"}};
  std::set<std::string> columns;  // "table.column"
  for (const char* table : {"PLT_HvMountsInFlight", "PLT_HvSnapshots"}) {
    sqlite3_stmt* s = c.Prepare(std::string("PRAGMA table_info(") + table + ")", false);
    if (s == nullptr) return DB_ERROR;
    while (sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(s, 1);
      if (name != nullptr) columns.insert(std::string(table) + "." + reinterpret_cast<const char*>(name));
    }
    c.Release(s);
  }
  for (const auto& column : kAddedColumns) {
    if (columns.count(std::string(column[0]) + "." + column[1]) != 0) continue;
    const int rc =
        c.Exec(std::string("ALTER TABLE ") + column[0] + " ADD COLUMN " + column[1] + " " + column[2]);
    if (rc != DB_OK) return rc;
  }
  return DB_OK;
}

CDBConnection* Ready(const char* function) {
  return SimReady(function, CHypervisorStore::kTables[0], CreateSchema);
}

// Short lists are kept one entry a line, the fields of an entry apart by tabs.
std::string JoinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += (out.empty() ? "" : "\n") + line;
  return out;
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  size_t from = 0;
  for (;;) {
    const size_t at = text.find(separator, from);
    out.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + 1;
  }
  return out;
}

std::string JoinOn(const std::vector<std::string>& parts, char separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? std::string(1, separator) : std::string()) + parts[i];
  return out;
}

std::string NetworksText(const std::vector<SLabNetwork>& networks) {
  std::vector<std::string> lines;
  for (const SLabNetwork& n : networks) lines.push_back(n.name + "\t" + JoinOn(n.subnets, ','));
  return JoinLines(lines);
}

std::vector<SLabNetwork> NetworksOf(const std::string& text) {
  std::vector<SLabNetwork> out;
  for (const std::string& line : SplitOn(text, '\n')) {
    const std::vector<std::string> parts = SplitOn(line, '\t');
    SLabNetwork n;
    n.name = parts.empty() ? "" : parts[0];
    if (parts.size() > 1) n.subnets = SplitOn(parts[1], ',');
    out.push_back(n);
  }
  return out;
}

std::string SizesText(const std::vector<SLabVMSize>& sizes) {
  std::vector<std::string> lines;
  for (const SLabVMSize& s : sizes) {
    lines.push_back(s.name + "\t" + std::to_string(s.cpus) + "\t" + std::to_string(s.memoryMB) + "\t" +
                    std::to_string(s.disks));
  }
  return JoinLines(lines);
}

std::vector<SLabVMSize> SizesOf(const std::string& text) {
  std::vector<SLabVMSize> out;
  for (const std::string& line : SplitOn(text, '\n')) {
    const std::vector<std::string> parts = SplitOn(line, '\t');
    SLabVMSize s;
    s.name = parts.empty() ? "" : parts[0];
    if (parts.size() > 3) {
      s.cpus = atoi(parts[1].c_str());
      s.memoryMB = atoi(parts[2].c_str());
      s.disks = atoi(parts[3].c_str());
    }
    out.push_back(s);
  }
  return out;
}

std::string NicsText(const std::vector<SLabNic>& nics) {
  std::vector<std::string> lines;
  for (const SLabNic& n : nics) lines.push_back(n.network + "\t" + (n.connected ? "1" : "0"));
  return JoinLines(lines);
}

std::vector<SLabNic> NicsOf(const std::string& text) {
  std::vector<SLabNic> out;
  for (const std::string& line : SplitOn(text, '\n')) {
    const std::vector<std::string> parts = SplitOn(line, '\t');
    SLabNic n;
    n.network = parts.empty() ? "" : parts[0];
    n.connected = parts.size() < 2 || parts[1] != "0";
    out.push_back(n);
  }
  return out;
}

// A statement of one numeric argument (a delete by id).
bool RunWith(CDBConnection* c, const char* function, const std::string& sql, long long id) {
  CSimStatement s(c, function, sql);
  s.Bind(id);
  return s.Run() == EStoreResult::kOk;
}

// ---- instances

const char kInstanceColumns[] = "SELECT id, name, vendor, host, user, clientId, fbrClientId, down FROM PLT_HvInstances";

SLabInstance InstanceOf(const CSimStatement& s) {
  SLabInstance i;
  i.id = s.Int(0);
  i.name = s.Text(1);
  i.vendor = static_cast<int>(s.Int(2));
  i.host = s.Text(3);
  i.user = s.Text(4);
  i.clientId = static_cast<int>(s.Int(5));
  i.fbrClientId = static_cast<int>(s.Int(6));
  i.down = s.Int(7) != 0;
  return i;
}

EStoreResult LoadRegions(CDBConnection* c, SLabInstance& instance) {
  CSimStatement s(c, "LoadRegions",
                  "SELECT name, datastores, networks, sizes FROM PLT_HvRegions WHERE instanceId = ? ORDER BY name");
  s.Bind(instance.id);
  instance.regions.clear();
  while (s.Next()) {
    SLabRegion r;
    r.name = s.Text(0);
    r.datastores = SplitOn(s.Text(1), '\n');
    r.networks = NetworksOf(s.Text(2));
    r.sizes = SizesOf(s.Text(3));
    instance.regions.push_back(r);
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kOk;
}

template <class Bind>
EStoreResult ReadInstances(const char* function, const std::string& where, Bind bind, std::vector<SLabInstance>& out) {
  CDBConnection* c = Ready(function);
  std::vector<SLabInstance> rows;
  {
    CSimStatement s(c, function, std::string(kInstanceColumns) + where + " ORDER BY id");
    bind(s);
    while (s.Next()) rows.push_back(InstanceOf(s));
    if (s.Failed()) return EStoreResult::kFailed;
  }
  for (SLabInstance& i : rows) {
    if (LoadRegions(c, i) != EStoreResult::kOk) return EStoreResult::kFailed;
  }
  out.swap(rows);
  return EStoreResult::kOk;
}

template <class Bind>
EStoreResult ReadOneInstance(const char* function, const std::string& where, Bind bind, SLabInstance& out) {
  std::vector<SLabInstance> rows;
  const EStoreResult read = ReadInstances(function, where, bind, rows);
  if (read != EStoreResult::kOk) return read;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows[0];
  return EStoreResult::kOk;
}

// ---- proxies

template <class Bind>
EStoreResult ReadProxies(const char* function, const std::string& sql, Bind bind, std::vector<SLabProxy>& out) {
  CDBConnection* c = Ready(function);
  std::vector<SLabProxy> rows;
  {
    CSimStatement s(c, function, sql);
    bind(s);
    while (s.Next()) {
      SLabProxy p;
      p.clientId = s.Int(0);
      p.name = s.Text(1);
      p.down = s.Int(2) != 0;
      p.installDirectory = s.Text(3);
      rows.push_back(p);
    }
    if (s.Failed()) return EStoreResult::kFailed;
  }
  for (SLabProxy& p : rows) {
    CSimStatement s(c, function,
                    "SELECT instanceId, position FROM PLT_HvProxyInstances WHERE clientId = ? ORDER BY instanceId");
    s.Bind(p.clientId);
    while (s.Next()) p.instances.push_back(SLabProxyInstance{s.Int(0), static_cast<int>(s.Int(1))});
    if (s.Failed()) return EStoreResult::kFailed;
  }
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult OneProxy(EStoreResult read, const std::vector<SLabProxy>& rows, SLabProxy& out) {
  if (read != EStoreResult::kOk) return read;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows[0];
  return EStoreResult::kOk;
}

const char kProxyColumns[] = "SELECT p.clientId, p.name, p.down, p.installDirectory FROM PLT_HvProxies p";

// ---- VMs

const char kVMColumns[] =
    "SELECT instanceId, guid, name, poweredOn, tools, ip, host, datastores, nics, size, diskCount, diskSizeMB,"
    " content, clientId, clone, projectId, placement FROM PLT_HvVMs";

SLabVM VMOf(const CSimStatement& s) {
  SLabVM vm;
  vm.instanceId = s.Int(0);
  vm.guid = s.Text(1);
  vm.name = s.Text(2);
  vm.poweredOn = s.Int(3) != 0;
  vm.toolsInstalled = s.Int(4) != 0;
  vm.ip = s.Text(5);
  vm.host = s.Text(6);
  vm.datastores = SplitOn(s.Text(7), '\n');
  vm.nics = NicsOf(s.Text(8));
  vm.size = s.Text(9);
  vm.diskCount = static_cast<int>(s.Int(10));
  vm.diskSizeMB = s.Int(11);
  vm.content = s.Int(12);
  vm.clientId = static_cast<int>(s.Int(13));
  vm.clone = s.Int(14) != 0;
  vm.projectId = s.Text(15);
  vm.placementXml = s.Text(16);
  return vm;
}

template <class Bind>
EStoreResult ReadVMs(const char* function, const std::string& where, Bind bind, std::vector<SLabVM>& out) {
  CSimStatement s(Ready(function), function, std::string(kVMColumns) + where);
  bind(s);
  std::vector<SLabVM> rows;
  while (s.Next()) rows.push_back(VMOf(s));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

template <class Bind>
EStoreResult ReadOneVM(const char* function, const std::string& where, Bind bind, SLabVM& out) {
  std::vector<SLabVM> rows;
  const EStoreResult read = ReadVMs(function, where + " LIMIT 1", bind, rows);
  if (read != EStoreResult::kOk) return read;
  if (rows.empty()) return EStoreResult::kMissing;
  out = rows[0];
  return EStoreResult::kOk;
}

EStoreResult Changed(const CSimStatement& s, EStoreResult run) {
  if (run != EStoreResult::kOk) return run;
  return s.Changes() > 0 ? EStoreResult::kOk : EStoreResult::kMissing;
}

}  // namespace

bool CHypervisorStore::PutInstance(const SLabInstance& i) {
  CDBConnection* c = Ready("PutInstance");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  if (!RunWith(c, "PutInstance", "DELETE FROM PLT_HvInstances WHERE id = ?", i.id) ||
      !RunWith(c, "PutInstance", "DELETE FROM PLT_HvRegions WHERE instanceId = ?", i.id)) {
    return false;
  }
  CSimStatement add(c, "PutInstance",
                    "INSERT INTO PLT_HvInstances (id, name, vendor, host, user, clientId, fbrClientId, down)"
                    " VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  add.Bind(i.id).Bind(i.name).Bind(i.vendor).Bind(i.host).Bind(i.user).Bind(i.clientId).Bind(i.fbrClientId);
  add.Bind(i.down ? 1 : 0);
  if (add.Run() != EStoreResult::kOk) return false;
  for (const SLabRegion& r : i.regions) {
    CSimStatement region(c, "PutInstance",
                         "INSERT INTO PLT_HvRegions (instanceId, name, datastores, networks, sizes)"
                         " VALUES (?, ?, ?, ?, ?)");
    region.Bind(i.id).Bind(r.name).Bind(JoinLines(r.datastores)).Bind(NetworksText(r.networks));
    region.Bind(SizesText(r.sizes));
    if (region.Run() != EStoreResult::kOk) return false;
  }
  return scope.Commit();
}

EStoreResult CHypervisorStore::GetInstance(long long id, SLabInstance& out) {
  return ReadOneInstance("GetInstance", " WHERE id = ?", [&](CSimStatement& s) { s.Bind(id); }, out);
}

EStoreResult CHypervisorStore::FindInstanceByName(const std::string& name, SLabInstance& out) {
  return ReadOneInstance("FindInstanceByName", " WHERE name = ?", [&](CSimStatement& s) { s.Bind(name); }, out);
}

EStoreResult CHypervisorStore::Instances(std::vector<SLabInstance>& out) {
  return ReadInstances("Instances", "", [](CSimStatement&) {}, out);
}

EStoreResult CHypervisorStore::SetInstanceDown(long long id, bool down) {
  CSimStatement s(Ready("SetInstanceDown"), "SetInstanceDown", "UPDATE PLT_HvInstances SET down = ? WHERE id = ?");
  s.Bind(down ? 1 : 0).Bind(id);
  return Changed(s, s.Run());
}

bool CHypervisorStore::PutProxy(const SLabProxy& p) {
  CDBConnection* c = Ready("PutProxy");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  if (!RunWith(c, "PutProxy", "DELETE FROM PLT_HvProxies WHERE clientId = ?", p.clientId) ||
      !RunWith(c, "PutProxy", "DELETE FROM PLT_HvProxyInstances WHERE clientId = ?", p.clientId)) {
    return false;
  }
  CSimStatement add(c, "PutProxy",
                    "INSERT INTO PLT_HvProxies (clientId, name, down, installDirectory) VALUES (?, ?, ?, ?)");
  add.Bind(p.clientId).Bind(p.name).Bind(p.down ? 1 : 0).Bind(p.installDirectory);
  if (add.Run() != EStoreResult::kOk) return false;
  for (const SLabProxyInstance& served : p.instances) {
    CSimStatement s(c, "PutProxy",
                    "INSERT INTO PLT_HvProxyInstances (clientId, instanceId, position) VALUES (?, ?, ?)");
    s.Bind(p.clientId).Bind(served.instanceId).Bind(served.position);
    if (s.Run() != EStoreResult::kOk) return false;
  }
  return scope.Commit();
}

EStoreResult CHypervisorStore::GetProxy(long long clientId, SLabProxy& out) {
  std::vector<SLabProxy> rows;
  const EStoreResult read = ReadProxies("GetProxy", std::string(kProxyColumns) + " WHERE p.clientId = ?",
                                        [&](CSimStatement& s) { s.Bind(clientId); }, rows);
  return OneProxy(read, rows, out);
}

EStoreResult CHypervisorStore::FindProxyByName(const std::string& name, SLabProxy& out) {
  std::vector<SLabProxy> rows;
  const EStoreResult read = ReadProxies("FindProxyByName", std::string(kProxyColumns) + " WHERE p.name = ?",
                                        [&](CSimStatement& s) { s.Bind(name); }, rows);
  return OneProxy(read, rows, out);
}

EStoreResult CHypervisorStore::Proxies(std::vector<SLabProxy>& out) {
  return ReadProxies("Proxies", std::string(kProxyColumns) + " ORDER BY p.clientId", [](CSimStatement&) {}, out);
}

EStoreResult CHypervisorStore::ProxiesOfInstance(long long instanceId, std::vector<SLabProxy>& out) {
  return ReadProxies("ProxiesOfInstance",
                     std::string(kProxyColumns) +
                         " JOIN PLT_HvProxyInstances i ON i.clientId = p.clientId WHERE i.instanceId = ?"
                         " ORDER BY i.position, p.clientId",
                     [&](CSimStatement& s) { s.Bind(instanceId); }, out);
}

EStoreResult CHypervisorStore::SetProxyDown(long long clientId, bool down) {
  CSimStatement s(Ready("SetProxyDown"), "SetProxyDown", "UPDATE PLT_HvProxies SET down = ? WHERE clientId = ?");
  s.Bind(down ? 1 : 0).Bind(clientId);
  return Changed(s, s.Run());
}

bool CHypervisorStore::PutVM(const SLabVM& vm) {
  CSimStatement s(Ready("PutVM"), "PutVM",
                  "INSERT OR REPLACE INTO PLT_HvVMs (instanceId, guid, name, poweredOn, tools, ip, host, datastores,"
                  " nics, size, diskCount, diskSizeMB, content, clientId, clone, projectId, placement)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(vm.instanceId).Bind(vm.guid).Bind(vm.name).Bind(vm.poweredOn ? 1 : 0).Bind(vm.toolsInstalled ? 1 : 0);
  s.Bind(vm.ip).Bind(vm.host).Bind(JoinLines(vm.datastores)).Bind(NicsText(vm.nics)).Bind(vm.size);
  s.Bind(vm.diskCount).Bind(vm.diskSizeMB).Bind(vm.content).Bind(vm.clientId).Bind(vm.clone ? 1 : 0);
  s.Bind(vm.projectId).Bind(vm.placementXml);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CHypervisorStore::GetVM(long long instanceId, const std::string& guid, SLabVM& out) {
  return ReadOneVM("GetVM", " WHERE instanceId = ? AND guid = ?",
                   [&](CSimStatement& s) { s.Bind(instanceId).Bind(guid); }, out);
}

EStoreResult CHypervisorStore::FindVMByName(long long instanceId, const std::string& name, SLabVM& out) {
  return ReadOneVM("FindVMByName", " WHERE instanceId = ? AND name = ? ORDER BY guid",
                   [&](CSimStatement& s) { s.Bind(instanceId).Bind(name); }, out);
}

EStoreResult CHypervisorStore::FindVM(const std::string& guid, SLabVM& out) {
  return ReadOneVM("FindVM", " WHERE guid = ? ORDER BY instanceId", [&](CSimStatement& s) { s.Bind(guid); }, out);
}

EStoreResult CHypervisorStore::VMs(long long instanceId, std::vector<SLabVM>& out) {
  if (instanceId == 0) return ReadVMs("VMs", " ORDER BY instanceId, name, guid", [](CSimStatement&) {}, out);
  return ReadVMs("VMs", " WHERE instanceId = ? ORDER BY name, guid", [&](CSimStatement& s) { s.Bind(instanceId); },
                 out);
}

EStoreResult CHypervisorStore::RemoveVM(long long instanceId, const std::string& guid) {
  CDBConnection* c = Ready("RemoveVM");
  if (c == nullptr) return EStoreResult::kFailed;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return EStoreResult::kFailed;
  CSimStatement vm(c, "RemoveVM", "DELETE FROM PLT_HvVMs WHERE instanceId = ? AND guid = ?");
  vm.Bind(instanceId).Bind(guid);
  const EStoreResult removed = Changed(vm, vm.Run());
  if (removed != EStoreResult::kOk) return removed;
  CSimStatement snaps(c, "RemoveVM", "DELETE FROM PLT_HvSnapshots WHERE instanceId = ? AND vmGuid = ?");
  snaps.Bind(instanceId).Bind(guid);
  if (snaps.Run() != EStoreResult::kOk) return EStoreResult::kFailed;
  return scope.Commit() ? EStoreResult::kOk : EStoreResult::kFailed;
}

bool CHypervisorStore::AddSnapshot(SLabSnapshot& snap) {
  CDBConnection* c = Ready("AddSnapshot");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  CSimStatement last(c, "AddSnapshot",
                     "SELECT COALESCE(MAX(position), 0) FROM PLT_HvSnapshots WHERE instanceId = ? AND vmGuid = ?");
  last.Bind(snap.instanceId).Bind(snap.vmGuid);
  if (!last.Next()) return false;
  snap.position = static_cast<int>(last.Int(0)) + 1;
  CSimStatement add(c, "AddSnapshot",
                    "INSERT INTO PLT_HvSnapshots (ref, instanceId, vmGuid, name, description, position, content,"
                    " poweredOn, nics) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  add.Bind(snap.ref).Bind(snap.instanceId).Bind(snap.vmGuid).Bind(snap.name).Bind(snap.description);
  add.Bind(snap.position).Bind(snap.content).Bind(snap.poweredOn ? 1 : 0);
  if (snap.cardsKept) {
    add.Bind(NicsText(snap.nics));
  } else {
    add.BindNull();
  }
  if (add.Run() != EStoreResult::kOk) return false;
  return scope.Commit();
}

EStoreResult CHypervisorStore::Snapshots(long long instanceId, const std::string& vmGuid,
                                         std::vector<SLabSnapshot>& out) {
  CSimStatement s(Ready("Snapshots"), "Snapshots",
                  "SELECT ref, instanceId, vmGuid, name, description, position, content, poweredOn, nics FROM"
                  " PLT_HvSnapshots WHERE instanceId = ? AND vmGuid = ? ORDER BY position");
  s.Bind(instanceId).Bind(vmGuid);
  std::vector<SLabSnapshot> rows;
  while (s.Next()) {
    SLabSnapshot snap;
    snap.ref = s.Text(0);
    snap.instanceId = s.Int(1);
    snap.vmGuid = s.Text(2);
    snap.name = s.Text(3);
    snap.description = s.Text(4);
    snap.position = static_cast<int>(s.Int(5));
    snap.content = s.Int(6);
    snap.poweredOn = s.Int(7) != 0;
    snap.cardsKept = !s.IsNull(8);
    if (snap.cardsKept) snap.nics = NicsOf(s.Text(8));
    rows.push_back(snap);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

EStoreResult CHypervisorStore::RemoveSnapshot(const std::string& ref) {
  CSimStatement s(Ready("RemoveSnapshot"), "RemoveSnapshot", "DELETE FROM PLT_HvSnapshots WHERE ref = ?");
  s.Bind(ref);
  return Changed(s, s.Run());
}

bool CHypervisorStore::PutReplica(const SLabReplica& r) {
  CSimStatement s(Ready("PutReplica"), "PutReplica",
                  "INSERT OR REPLACE INTO PLT_HvReplicas (replicationId, sourceInstanceId, sourceGuid, destInstanceId,"
                  " destGuid, destName, backedUpContent, syncedContent) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(r.replicationId).Bind(r.sourceInstanceId).Bind(r.sourceGuid).Bind(r.destInstanceId).Bind(r.destGuid);
  s.Bind(r.destName).Bind(r.backedUpContent).Bind(r.syncedContent);
  return s.Run() == EStoreResult::kOk;
}

namespace {

const char kReplicaColumns[] =
    "SELECT replicationId, sourceInstanceId, sourceGuid, destInstanceId, destGuid, destName, backedUpContent,"
    " syncedContent FROM PLT_HvReplicas";

SLabReplica ReplicaOf(const CSimStatement& s) {
  SLabReplica r;
  r.replicationId = static_cast<int>(s.Int(0));
  r.sourceInstanceId = s.Int(1);
  r.sourceGuid = s.Text(2);
  r.destInstanceId = s.Int(3);
  r.destGuid = s.Text(4);
  r.destName = s.Text(5);
  r.backedUpContent = s.Int(6);
  r.syncedContent = s.Int(7);
  return r;
}

}  // namespace

EStoreResult CHypervisorStore::GetReplica(int replicationId, SLabReplica& out) {
  CSimStatement s(Ready("GetReplica"), "GetReplica", std::string(kReplicaColumns) + " WHERE replicationId = ?");
  s.Bind(replicationId);
  if (s.Next()) {
    out = ReplicaOf(s);
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

namespace {

EStoreResult ReplicaRows(CSimStatement& s, std::vector<SLabReplica>& out) {
  std::vector<SLabReplica> rows;
  while (s.Next()) rows.push_back(ReplicaOf(s));
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

}  // namespace

EStoreResult CHypervisorStore::Replicas(std::vector<SLabReplica>& out) {
  CSimStatement s(Ready("Replicas"), "Replicas", std::string(kReplicaColumns) + " ORDER BY replicationId");
  return ReplicaRows(s, out);
}

EStoreResult CHypervisorStore::ReplicasOfSource(const std::string& sourceGuid, std::vector<SLabReplica>& out) {
  CSimStatement s(Ready("ReplicasOfSource"), "ReplicasOfSource",
                  std::string(kReplicaColumns) + " WHERE sourceGuid = ? ORDER BY replicationId");
  s.Bind(sourceGuid);
  return ReplicaRows(s, out);
}

EStoreResult CHypervisorStore::ReplicasOfDest(long long destInstanceId, const std::string& destGuid,
                                              std::vector<SLabReplica>& out) {
  CSimStatement s(Ready("ReplicasOfDest"), "ReplicasOfDest",
                  std::string(kReplicaColumns) + " WHERE destInstanceId = ? AND destGuid = ? ORDER BY replicationId");
  s.Bind(destInstanceId).Bind(destGuid);
  return ReplicaRows(s, out);
}

bool CHypervisorStore::AddCall(SLabCall& call) {
  CDBConnection* c = Ready("AddCall");
  if (c == nullptr) return false;
  call.at = CPlatformClock::Instance().NowEpochSeconds();
  CSimStatement s(c, "AddCall",
                  "INSERT INTO PLT_HvCalls (at, opType, instanceId, vmGuid, vmName, proxyId, result, errorText,"
                  " detail, jobId) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(call.at).Bind(call.opType).Bind(call.instanceId).Bind(call.vmGuid).Bind(call.vmName).Bind(call.proxyId);
  s.Bind(call.result).Bind(call.errorText).Bind(call.detail).Bind(call.jobId);
  if (s.Run() != EStoreResult::kOk) return false;
  call.seq = sqlite3_last_insert_rowid(c->Handle());
  return true;
}

EStoreResult CHypervisorStore::Calls(std::vector<SLabCall>& out) {
  CSimStatement s(Ready("Calls"), "Calls",
                  "SELECT seq, at, opType, instanceId, vmGuid, vmName, proxyId, result, errorText, detail, jobId"
                  " FROM PLT_HvCalls ORDER BY seq");
  std::vector<SLabCall> rows;
  while (s.Next()) {
    SLabCall call;
    call.seq = s.Int(0);
    call.at = s.Int(1);
    call.opType = static_cast<int>(s.Int(2));
    call.instanceId = s.Int(3);
    call.vmGuid = s.Text(4);
    call.vmName = s.Text(5);
    call.proxyId = s.Int(6);
    call.result = static_cast<int>(s.Int(7));
    call.errorText = s.Text(8);
    call.detail = s.Text(9);
    call.jobId = s.Int(10);
    rows.push_back(call);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

long long CHypervisorStore::CountCalls(int opType, const std::string& vm) {
  CSimStatement s(Ready("CountCalls"), "CountCalls",
                  "SELECT COUNT(*) FROM PLT_HvCalls WHERE (? < 0 OR opType = ?) AND (? = '' OR vmGuid = ? OR"
                  " vmName = ?)");
  s.Bind(opType).Bind(opType).Bind(vm).Bind(vm).Bind(vm);
  return s.Next() ? s.Int(0) : -1;
}

bool CHypervisorStore::AddFault(SLabFault& f) {
  CDBConnection* c = Ready("AddFault");
  if (c == nullptr) return false;
  CSimStatement s(c, "AddFault",
                  "INSERT INTO PLT_HvFaults (opType, vm, fromCall, toCall, kind, code, text)"
                  " VALUES (?, ?, ?, ?, ?, ?, ?)");
  s.Bind(f.opType).Bind(f.vm).Bind(f.fromCall).Bind(f.toCall).Bind(static_cast<int>(f.kind)).Bind(f.code);
  s.Bind(f.text);
  if (s.Run() != EStoreResult::kOk) return false;
  f.id = static_cast<int>(sqlite3_last_insert_rowid(c->Handle()));
  return true;
}

EStoreResult CHypervisorStore::Faults(std::vector<SLabFault>& out) {
  CSimStatement s(Ready("Faults"), "Faults",
                  "SELECT id, opType, vm, fromCall, toCall, kind, code, text FROM PLT_HvFaults ORDER BY id");
  std::vector<SLabFault> rows;
  while (s.Next()) {
    SLabFault f;
    f.id = static_cast<int>(s.Int(0));
    f.opType = static_cast<int>(s.Int(1));
    f.vm = s.Text(2);
    f.fromCall = static_cast<int>(s.Int(3));
    f.toCall = static_cast<int>(s.Int(4));
    f.kind = static_cast<ELabFault>(s.Int(5));
    f.code = static_cast<int>(s.Int(6));
    f.text = s.Text(7);
    rows.push_back(f);
  }
  if (s.Failed()) return EStoreResult::kFailed;
  out.swap(rows);
  return EStoreResult::kOk;
}

bool CHypervisorStore::ClearFaults() {
  CSimStatement s(Ready("ClearFaults"), "ClearFaults", "DELETE FROM PLT_HvFaults");
  return s.Run() == EStoreResult::kOk;
}

long long CHypervisorStore::NextValue(const std::string& name) {
  CDBConnection* c = Ready("NextValue");
  if (c == nullptr) return 0;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return 0;
  CSimStatement bump(c, "NextValue",
                     "INSERT INTO PLT_HvCounters (name, value) VALUES (?, 1)"
                     " ON CONFLICT(name) DO UPDATE SET value = value + 1");
  bump.Bind(name);
  if (bump.Run() != EStoreResult::kOk) return 0;
  CSimStatement read(c, "NextValue", "SELECT value FROM PLT_HvCounters WHERE name = ?");
  read.Bind(name);
  if (!read.Next()) return 0;
  const long long value = read.Int(0);
  return scope.Commit() ? value : 0;
}

long long CHypervisorStore::Counter(const std::string& name) {
  CSimStatement s(Ready("Counter"), "Counter", "SELECT value FROM PLT_HvCounters WHERE name = ?");
  s.Bind(name);
  if (s.Next()) return s.Int(0);
  return s.Failed() ? -1 : 0;
}

bool CHypervisorStore::SetCounter(const std::string& name, long long value) {
  CSimStatement s(Ready("SetCounter"), "SetCounter",
                  "INSERT INTO PLT_HvCounters (name, value) VALUES (?, ?) ON CONFLICT(name) DO UPDATE SET value ="
                  " excluded.value");
  s.Bind(name).Bind(value);
  return s.Run() == EStoreResult::kOk;
}

bool CHypervisorStore::BeginMountInFlight(long long instanceId, const std::vector<std::string>& datastores,
                                          long long token, int& overlaps) {
  overlaps = 0;
  CDBConnection* c = Ready("BeginMountInFlight");
  if (c == nullptr) return false;
  CDBWriteScope scope(c);
  if (!scope.Ok()) return false;
  // A call whose process died (killed during its mount) left its records:
  // they hold nothing any more and are dropped, not counted. All of them,
  // not only those this call meets: a datastore nobody mounts again would
  // keep them for good.
  std::vector<long long> gone;
  {
    CSimStatement others(c, "BeginMountInFlight",
                         "SELECT DISTINCT token, ownerHost, ownerPid, ownerStart FROM PLT_HvMountsInFlight"
                         " WHERE token <> ?");
    others.Bind(token);
    while (others.Next()) {
      SProcessId owner;
      owner.host = others.Text(1);
      owner.pid = others.Int(2);
      owner.startTicks = others.Int(3);
      if (!owner.Empty() && CProcessIdentity::StateOf(owner) == CProcessIdentity::kGone) gone.push_back(others.Int(0));
    }
    if (others.Failed()) return false;
  }
  for (long long dead : gone) {
    CSimStatement drop(c, "BeginMountInFlight", "DELETE FROM PLT_HvMountsInFlight WHERE token = ?");
    drop.Bind(dead);
    if (drop.Run() != EStoreResult::kOk) return false;
  }
  const SProcessId self = CProcessIdentity::Self();
  for (const std::string& datastore : datastores) {
    {
      CSimStatement held(c, "BeginMountInFlight",
                         "SELECT COUNT(*) FROM PLT_HvMountsInFlight WHERE instanceId = ? AND datastore = ?"
                         " AND token <> ?");
      held.Bind(instanceId).Bind(datastore).Bind(token);
      if (!held.Next()) return false;
      if (held.Int(0) > 0) ++overlaps;
    }
    CSimStatement add(c, "BeginMountInFlight",
                      "INSERT OR IGNORE INTO PLT_HvMountsInFlight (token, instanceId, datastore, since, ownerHost,"
                      " ownerPid, ownerStart) VALUES (?, ?, ?, ?, ?, ?, ?)");
    add.Bind(token).Bind(instanceId).Bind(datastore).Bind(static_cast<long long>(CPlatformClock::Instance().NowEpochSeconds()));
    add.Bind(self.host).Bind(self.pid).Bind(self.startTicks);
    if (add.Run() != EStoreResult::kOk) return false;
  }
  return scope.Commit();
}

bool CHypervisorStore::EndMountInFlight(long long token) {
  CSimStatement s(Ready("EndMountInFlight"), "EndMountInFlight", "DELETE FROM PLT_HvMountsInFlight WHERE token = ?");
  s.Bind(token);
  return s.Run() == EStoreResult::kOk;
}

long long CHypervisorStore::MountsInFlight() {
  CSimStatement s(Ready("MountsInFlight"), "MountsInFlight", "SELECT COUNT(DISTINCT token) FROM PLT_HvMountsInFlight");
  return s.Next() ? s.Int(0) : -1;
}

bool CHypervisorStore::PutDatastore(const SLabDatastore& d) {
  CSimStatement s(Ready("PutDatastore"), "PutDatastore",
                  "INSERT OR REPLACE INTO PLT_HvDatastores (instanceId, name, holderProxyId, mountedVm, testFailover)"
                  " VALUES (?, ?, ?, ?, ?)");
  s.Bind(d.instanceId).Bind(d.name).Bind(d.holderProxyId).Bind(d.mountedVm).Bind(d.testFailover ? 1 : 0);
  return s.Run() == EStoreResult::kOk;
}

EStoreResult CHypervisorStore::GetDatastore(long long instanceId, const std::string& name, SLabDatastore& out) {
  CSimStatement s(Ready("GetDatastore"), "GetDatastore",
                  "SELECT holderProxyId, mountedVm, testFailover FROM PLT_HvDatastores WHERE instanceId = ? AND"
                  " name = ?");
  s.Bind(instanceId).Bind(name);
  if (s.Next()) {
    out.instanceId = instanceId;
    out.name = name;
    out.holderProxyId = s.Int(0);
    out.mountedVm = s.Text(1);
    out.testFailover = s.Int(2) != 0;
    return EStoreResult::kOk;
  }
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kMissing;
}

bool CHypervisorStore::CreateTables() { return Ready("CreateTables") != nullptr; }
