// The one owner of the management server's VM allocation policies (App_VmAllocationPolicy). The system
// reads and writes its rows through its own binding; the platform describes
// the table, creates it and adds the policies a lab starts with.
#pragma once

#include <string>

class CVmAllocationPolicyStore {
 public:
  static constexpr const char* kTable = "App_VmAllocationPolicy";

  // Adds a live policy (its Ida::VMAllocationPolicy as XML); false when
  // the id is taken or the row cannot be stored.
  static bool AddPolicy(int id, const std::string& name, const std::string& policyXml);

  // Tells the database how the table looks (CSimulators::Install).
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
