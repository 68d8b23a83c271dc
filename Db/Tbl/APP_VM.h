// Virtual machines known to the management server, one row per VM client:
// its host, GUID, name, description XML, time stamps, status and allocation
// policy. removalTimeStamp stays null while the VM is present.
// Binding of the table "APP_VM".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"
#include "db/DBDateTime.h"

// One row.
struct APP_VM_t {
  int id;
  int vHostId;
  int clientId;
  char GUID[257];
  char name[513];
  char* vxml;  // owned, null when empty
  DB_DATETIME timeStamp;
  DB_DATETIME addTimeStamp;
  DB_DATETIME removalTimeStamp;
  int status;
  int vmAllocationPolicyId;

  APP_VM_t();
  ~APP_VM_t();
  APP_VM_t(const APP_VM_t&) = delete;
  APP_VM_t& operator=(const APP_VM_t&) = delete;
};

class APP_VM_t2 : public ZNDBGeneratedRow<APP_VM_t2> {
 public:
  APP_VM_t2() = default;
  ~APP_VM_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_VM : public ZNDBGeneratedBinding<APP_VM, APP_VM_t, APP_VM_t2, 11> {
 public:
  explicit APP_VM(DBtran* tran);
  ~APP_VM() override;
  static const SDBBindingDesc& Desc();
};
