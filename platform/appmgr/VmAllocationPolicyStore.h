// The one owner of the management server's VM allocation policies (App_VmAllocationPolicy). The system
// reads and writes its rows through its own binding; the platform describes
// the table, creates it and adds the policies a lab starts with.
#pragma once

#include <string>

// A recovery target for test failover as a lab starts with it: found (its
// region), how long a test VM is kept, the VM's own size and the test size,
// the test network with its subnet and the network the DR VMs use.
struct SRecoveryTarget {
  std::string region;
  int testVMHours = 0;
  std::string vmSize;
  std::string testVMSize;
  std::string testNetwork;
  std::string testSubnet;
  std::string destinationNetwork;
};

class CVmAllocationPolicyStore {
 public:
  static constexpr const char* kTable = "App_VmAllocationPolicy";

  // Adds a live policy (its Ida::VMAllocationPolicy as XML); false when
  // the id is taken or the row cannot be stored.
  static bool AddPolicy(int id, const std::string& name, const std::string& policyXml);
  // Adds the policy of a recovery target (above).
  static bool AddRecoveryTarget(int id, const std::string& name, const SRecoveryTarget& target);

  // Tells the database how the table looks (CSimulators::Install).
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
