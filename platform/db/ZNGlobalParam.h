// Global parameters of the management database (table OBGlobalParam: one
// row per name, the value as text).
#pragma once

#include <string>

// Name of the global parameter that caps the DR threads run in parallel.
static const char* const DRPLAN_SETTINGS_PARALLEL_THREAD_COUNT = "DRPlanMaxParallelThreadCount";

class ZNGlobalParam {
 public:
  // True when the parameter exists (and, for the number forms, its value is
  // a whole number); the output is left unchanged otherwise.
  static bool get(const char* name, std::string& value);
  static bool get(const char* name, int& value);
  static bool get(const char* name, long long& value);
  // "nDelayTimeBeforeSync" in seconds.
  static bool getDelayTimeBeforeSync(int& value);

  // Creates or replaces the parameter (fixtures, the host's set-up). True on
  // success.
  static bool set(const char* name, const std::string& value);

  // The one owner of OBGlobalParam.
  static constexpr const char* kTable = "OBGlobalParam";
  // Tells the database how its tables look (CSimulators::Install): the
  // one description a table of the simulated server is created from.
  static void DescribeTables();
  // Creates the table on the calling thread's database.
  static bool CreateTables();
};
