// The one owner of the simulated management server's clients (APP_Client):
// the machines a DR job runs on or reaches. ZNClient reads through it and
// the lab seeding writes through it.
#pragma once

#include <string>

#include "core/StoreResult.h"

struct SClientRecord {
  int id = 0;
  std::string name;
  std::string hostName;
  std::string displayName;
};

class CClientStore {
 public:
  static constexpr const char* kTable = "APP_Client";

  // Adds the client or replaces the one with its id.
  static bool PutClient(const SClientRecord& client);
  // Adds a client under the lowest free id from lowestId on (written into
  // client.id): the server's numbering of a machine it has just learnt of (a
  // VM clone). Joins the caller's transaction; false (logged) on failure.
  static bool AddClient(SClientRecord& client, int lowestId);
  // Removes the client: kMissing when there was none.
  static EStoreResult RemoveClient(int clientId);
  // By id, or by name without regard to case.
  static EStoreResult FindById(int clientId, SClientRecord& out);
  static EStoreResult FindByName(const std::string& name, SClientRecord& out);
  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
