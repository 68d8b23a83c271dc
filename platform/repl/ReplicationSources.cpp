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
