// The arrays of the array lab, by control host id (the number the
// management server knows an array by), and the one owner of PLT_Arrays.
//
// An array has a name, a vserver (empty: the array answers with none), a
// management entry or none (without one the library cannot find the array
// by its control host id), and is reachable or down (a down array refuses
// every connection and every call on an object connected to it before).
//
// Threads and processes: every member may be called from any thread; the
// state is in the management database.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

struct SLabArray {
  int controlHostId = 0;
  std::string name;
  std::string vserver;
  bool managed = true;    // has a management entry
  bool reachable = true;
};

class CArrayStore {
 public:
  static constexpr const char* kTable = "PLT_Arrays";

  // Adds an array; false (logged) for id 0, an empty name or an id taken.
  static bool Add(const SLabArray& array);
  static EStoreResult Get(int controlHostId, SLabArray& out);
  static EStoreResult All(std::vector<SLabArray>& out);
  // kMissing when there is no such array.
  static EStoreResult SetReachable(int controlHostId, bool reachable);
  static EStoreResult SetManaged(int controlHostId, bool managed);
  static EStoreResult SetVServer(int controlHostId, const std::string& vserver);
  // The array of a name; kMissing when none has it.
  static EStoreResult FindByName(const std::string& name, SLabArray& out);

  static bool CreateTables();
};
