// The simulated server's storage policies, and the one owner of their table
// (PLT_StoragePolicies): the copies of each policy with their precedence,
// which is the primary copy (where a backup writes) and which the default
// copy (where replication reads unless told otherwise), and which policy each
// subclient backs up to, with its snap flag.
//
// One table holds both kinds of row: a copy row has a copy id and subclient
// 0, a subclient row a subclient id and copy 0.
#pragma once

#include <vector>

#include "core/StoreResult.h"

struct SStorageCopy {
  int copyId = 0;
  int precedence = 0;  // 1 is the primary copy's
  bool primary = false;
  bool isDefault = false;
};

struct SStoragePolicy {
  int policyId = 0;
  std::vector<SStorageCopy> copies;  // by precedence

  // 0 when the policy has no such copy.
  int PrimaryCopyId() const;
  int DefaultCopyId() const;
  int CopyIdOfPrecedence(int precedence) const;
};

struct SSubclientPolicy {
  int subclientId = 0;
  int policyId = 0;
  bool snap = false;  // the subclient takes snap backups
};

class CStoragePolicyStore {
 public:
  static constexpr const char* kTable = "PLT_StoragePolicies";

  // Stores a policy's copies, replacing the copies it had (a policy is
  // defined as a whole). False (logged) on a policy id of 0 or a copy id
  // of 0, or when it cannot be stored.
  static bool PutPolicy(const SStoragePolicy& policy);
  // Which policy a subclient backs up to, replacing its earlier one.
  static bool AssignSubclient(const SSubclientPolicy& assignment);

  static EStoreResult GetPolicy(int policyId, SStoragePolicy& out);
  static EStoreResult GetSubclient(int subclientId, SSubclientPolicy& out);
  static EStoreResult SubclientsOfPolicy(int policyId, std::vector<SSubclientPolicy>& out);

  static bool CreateTables();
};
