// The one owner of the management server's DR group properties (App_VirtualAppProp). The system
// reads and writes its rows through its own binding; the platform describes
// the table and creates it.
#pragma once

class CVirtualAppPropStore {
 public:
  static constexpr const char* kTable = "App_VirtualAppProp";

  // Tells the database how the table looks (CSimulators::Install).
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
