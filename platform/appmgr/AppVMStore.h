// The one owner of the management server's VMs (APP_VM): the VMs it knows as
// clients of their own (a VM client, a DR VM's clone), each with its client,
// GUID and name, the time it was added and, once it is gone, the time it
// was removed (the row stays). Writes join the caller's transaction.
#pragma once

#include <string>

#include "core/StoreResult.h"

struct SAppVMRecord {
  int id = 0;  // given by the table
  int clientId = 0;
  std::string guid;
  std::string name;
  std::string descriptionXml;  // the VM's description as the hypervisor gave it
  int allocationPolicyId = 0;
  bool removed = false;  // removalTimeStamp is set
};

class CAppVMStore {
 public:
  static constexpr const char* kTable = "APP_VM";

  // Adds a VM row, stamped added now; record.id is set.
  static bool AddVM(SAppVMRecord& record);
  // Stamps the removal of every present row of the client's VM; kMissing
  // when it had none.
  static EStoreResult MarkRemoved(int clientId);
  // The newest row of a client.
  static EStoreResult FindByClient(int clientId, SAppVMRecord& out);

  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
