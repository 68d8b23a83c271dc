// VM allocation policies; vxml holds the policy as an XML document.
// Binding of the table "App_VmAllocationPolicy".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct App_VmAllocationPolicy_t {
  int id;
  char name[513];
  int vDataCenterId;
  char* description;  // owned, null when empty
  char* vxml;  // owned, null when empty
  int ownerId;
  long long created;
  long long modified;
  int alive;
  int flags;

  App_VmAllocationPolicy_t();
  ~App_VmAllocationPolicy_t();
  App_VmAllocationPolicy_t(const App_VmAllocationPolicy_t&) = delete;
  App_VmAllocationPolicy_t& operator=(const App_VmAllocationPolicy_t&) = delete;
};

class App_VmAllocationPolicy_t2 : public ZNDBGeneratedRow<App_VmAllocationPolicy_t2> {
 public:
  App_VmAllocationPolicy_t2() = default;
  ~App_VmAllocationPolicy_t2() override;
  static const SDBBindingDesc& Desc();
};

class App_VmAllocationPolicy : public ZNDBGeneratedBinding<App_VmAllocationPolicy, App_VmAllocationPolicy_t, App_VmAllocationPolicy_t2, 10> {
 public:
  explicit App_VmAllocationPolicy(DBtran* tran);
  ~App_VmAllocationPolicy() override;
  static const SDBBindingDesc& Desc();
};
