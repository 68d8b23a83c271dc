// The rows the replica-group report procedure answers, one per storage copy
// and replica group, and the one owner of PLT_SnapReplicaGroups. The row is
// the procedure's: eleven texts, then eight numbers.
//
// Threads and processes: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

struct SReplicaGroupRow {
  std::string spName;
  std::string copyName;
  std::string copyType;
  std::string clientName;
  std::string subclientName;
  std::string relationshipId;
  std::string relationshipType;
  std::string sourcePath;   // "vserver:volume"
  std::string sourceArray;
  std::string targetPath;   // "vserver:volume"
  std::string targetArray;
  int snapCount = 0;
  int subclientId = 0;
  int copyId = 0;
  int replicaGroupId = 0;
  int storagePolicyId = 0;
  int defaultSPCopy = 0;
  int controlHostId = 0;    // the destination array
  int replicaPairId = 0;
};

class CReplicaGroupReportStore {
 public:
  static constexpr const char* kTable = "PLT_SnapReplicaGroups";

  // Adds a row; false (logged) without copy or group id, or when the copy
  // already has a row of that group.
  static bool Add(const SReplicaGroupRow& row);
  // The rows of a copy, by replica group id.
  static EStoreResult OfCopy(int copyId, std::vector<SReplicaGroupRow>& out);
  static EStoreResult All(std::vector<SReplicaGroupRow>& out);

  // The row's texts and numbers in the procedure's column order.
  static std::vector<std::string> Texts(const SReplicaGroupRow& row);
  static std::vector<int> Numbers(const SReplicaGroupRow& row);

  static bool CreateTables();
};
