// The LUNs of the array lab's volumes, and the one owner of PLT_ArrayLuns
// (a LUN: its array, volume, path, whether it is mapped, whether its unmap
// fails) and PLT_ArrayLunFaults (the volumes whose LUN listing fails).
//
// Threads and processes: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "array/ArrayCallJournal.h"
#include "core/StoreResult.h"

struct SLabLun {
  int controlHostId = 0;
  std::string volume;
  std::string path;
  bool mapped = true;
  bool unmapFails = false;
};

class CArrayLunStore {
 public:
  static constexpr const char* kTables[] = {"PLT_ArrayLuns", "PLT_ArrayLunFaults"};

  // Adds a LUN; false (logged) without array, volume or path, or when the
  // array already has a LUN of that path.
  static bool Add(const SLabLun& lun);
  static EStoreResult Get(int controlHostId, const std::string& path, SLabLun& out);
  static EStoreResult All(std::vector<SLabLun>& out);
  static EStoreResult SetMapped(int controlHostId, const std::string& path, bool mapped);
  static EStoreResult SetUnmapFails(int controlHostId, const std::string& path, bool fails);
  // The volume's LUN listing fails (or works again).
  static bool SetListingFails(int controlHostId, const std::string& volume, bool fails);

  // The array's answers. Mapped: the paths of the volume's mapped LUNs, in
  // path order. Unmap: an unmapped LUN is accepted as it is.
  static EArrayAnswer Mapped(int controlHostId, const std::string& volume, std::vector<std::string>& paths);
  static EArrayAnswer Unmap(int controlHostId, const std::string& path);

  static bool CreateTables();
};
