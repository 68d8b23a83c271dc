// The one owner of the properties of the management server's instances
// (APP_InstanceProp): named text attributes of an instance (the
// virtualization instance's host, its file-recovery media agent, ...), one
// current row per name (modified 0; a replaced value keeps its old row
// marked with the time it was replaced).
//
// Writes join the caller's transaction.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "core/StoreResult.h"

class CInstancePropStore {
 public:
  static constexpr const char* kTable = "APP_InstanceProp";

  static bool SetAttribute(long long instanceId, const std::string& name, const std::string& value);
  static EStoreResult GetAttribute(long long instanceId, const std::string& name, std::string& value);
  // Every current attribute of the instance, by name.
  static EStoreResult Attributes(long long instanceId, std::vector<std::pair<std::string, std::string>>& out);

  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
