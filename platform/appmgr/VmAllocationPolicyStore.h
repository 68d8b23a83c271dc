// The one owner of the management server's VM allocation policies (App_VmAllocationPolicy). The system
// reads and writes its rows through its own binding; the platform describes
// the table and creates it.
#pragma once

class CVmAllocationPolicyStore {
 public:
  static constexpr const char* kTable = "App_VmAllocationPolicy";

  // Tells the database how the table looks (CSimulators::Install).
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
