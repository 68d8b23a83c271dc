// The identity of one application (subclient) of the management server: the
// application id and the ids of the instance, backup set, client and
// subclient it belongs to.
//
// Built from a Halden id and a subclient id, it asks the installed resolver
// (the management database installs one) for the rest; without a resolver,
// or when the resolver does not know the subclient, only the subclient and
// application ids are known and the others read 0.
#pragma once

#include <functional>

struct SApplicationIds {
  long appId = 0;
  long instanceId = 0;
  long backupSetId = 0;
  long clientId = 0;
  long subclientId = 0;
};

class ApplicationId {
 public:
  using Resolver = std::function<bool(int haldenId, long subclientId, SApplicationIds& out)>;

  ApplicationId(int haldenId, long subclientId);
  explicit ApplicationId(const SApplicationIds& ids) : m_haldenId(0), m_ids(ids), m_resolved(true) {}

  long getApplicationId() const { return m_ids.appId; }
  long getInstanceId() const { return m_ids.instanceId; }
  long getBackupSetId() const { return m_ids.backupSetId; }
  long getClientId() const { return m_ids.clientId; }
  long getSubclientId() const { return m_ids.subclientId; }
  int getHaldenId() const { return m_haldenId; }
  // True when every id is known.
  bool isResolved() const { return m_resolved; }

  // Installs the lookup used by the (haldenId, subclientId) constructor.
  static void SetResolver(Resolver resolver);

 private:
  int m_haldenId;
  SApplicationIds m_ids;
  bool m_resolved;
};
