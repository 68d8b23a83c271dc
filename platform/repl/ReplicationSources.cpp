#include "repl/ReplicationSources.h"

#include <algorithm>

namespace {

using Lookup = std::function<EStoreResult(const SReplicationSource&, std::vector<SSourcedReplication>&)>;

// Every source's answer, together, in replication id order.
EStoreResult Collect(const Lookup& lookup, std::vector<SSourcedReplication>& out) {
  std::vector<SSourcedReplication> all;
  for (const auto& source : CReplicationSources::Sources().All()) {
    std::vector<SSourcedReplication> part;
    if (lookup(source.second, part) != EStoreResult::kOk) return EStoreResult::kFailed;
    all.insert(all.end(), part.begin(), part.end());
  }
  std::sort(all.begin(), all.end(), [](const SSourcedReplication& x, const SSourcedReplication& y) {
    return x.replicationId < y.replicationId;
  });
  out.swap(all);
  return EStoreResult::kOk;
}

EStoreResult Ids(EStoreResult read, const std::vector<SSourcedReplication>& found, std::vector<int>& out) {
  if (read != EStoreResult::kOk) return read;
  std::vector<int> ids;
  for (const SSourcedReplication& r : found) ids.push_back(r.replicationId);
  out.swap(ids);
  return EStoreResult::kOk;
}

}  // namespace

ReplicationSourceRegistry& CReplicationSources::Sources() {
  static auto* registry = new ReplicationSourceRegistry();
  return *registry;
}

void CReplicationSources::Register(const std::string& kind, SReplicationSource source) {
  Sources().Register(kind, std::move(source));
}

namespace {

EStoreResult GetEach(const ReplicationIdsLookup& lookup, const ReplicationGet& get, int key,
                     std::vector<SSourcedReplication>& out) {
  std::vector<int> ids;
  const EStoreResult read = lookup(key, ids);
  if (read != EStoreResult::kOk) return read;
  std::vector<SSourcedReplication> all;
  for (int id : ids) {
    SSourcedReplication r;
    const EStoreResult one = get(id, r);
    if (one == EStoreResult::kFailed) return one;
    if (one == EStoreResult::kOk) all.push_back(r);
  }
  out.swap(all);
  return EStoreResult::kOk;
}

}  // namespace

SReplicationSource CReplicationSources::FromIds(ReplicationIdsLookup ofTask, ReplicationIdsLookup ofSubclient,
                                                ReplicationGet get) {
  SReplicationSource source;
  source.ofTask = [ofTask, get](int taskId, std::vector<SSourcedReplication>& out) {
    return GetEach(ofTask, get, taskId, out);
  };
  source.ofSubclient = [ofSubclient, get](int subclientId, std::vector<SSourcedReplication>& out) {
    return GetEach(ofSubclient, get, subclientId, out);
  };
  source.get = get;
  return source;
}

EStoreResult CReplicationSources::OfTask(int taskId, std::vector<SSourcedReplication>& out) {
  return Collect(
      [taskId](const SReplicationSource& s, std::vector<SSourcedReplication>& part) {
        return s.ofTask ? s.ofTask(taskId, part) : EStoreResult::kOk;
      },
      out);
}

EStoreResult CReplicationSources::OfSubclient(int subclientId, std::vector<SSourcedReplication>& out) {
  return Collect(
      [subclientId](const SReplicationSource& s, std::vector<SSourcedReplication>& part) {
        return s.ofSubclient ? s.ofSubclient(subclientId, part) : EStoreResult::kOk;
      },
      out);
}

EStoreResult CReplicationSources::IdsOfTask(int taskId, std::vector<int>& out) {
  std::vector<SSourcedReplication> found;
  const EStoreResult read = OfTask(taskId, found);
  return Ids(read, found, out);
}

EStoreResult CReplicationSources::IdsOfSubclient(int subclientId, std::vector<int>& out) {
  std::vector<SSourcedReplication> found;
  const EStoreResult read = OfSubclient(subclientId, found);
  return Ids(read, found, out);
}

EStoreResult CReplicationSources::Get(int replicationId, SSourcedReplication& out) {
  for (const auto& source : Sources().All()) {
    if (!source.second.get) continue;
    const EStoreResult read = source.second.get(replicationId, out);
    if (read != EStoreResult::kMissing) return read;
  }
  return EStoreResult::kMissing;
}
