// Name/value properties of an application instance.
// Binding of the table "APP_InstanceProp".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct APP_InstanceProp_t {
  int id;
  int componentNameId;
  char attrName[2049];
  int attrType;
  char* attrVal;  // owned, null when empty
  long long created;
  long long modified;
  int hdpId;

  APP_InstanceProp_t();
  ~APP_InstanceProp_t();
  APP_InstanceProp_t(const APP_InstanceProp_t&) = delete;
  APP_InstanceProp_t& operator=(const APP_InstanceProp_t&) = delete;
};

class APP_InstanceProp_t2 : public ZNDBGeneratedRow<APP_InstanceProp_t2> {
 public:
  APP_InstanceProp_t2() = default;
  ~APP_InstanceProp_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_InstanceProp : public ZNDBGeneratedBinding<APP_InstanceProp, APP_InstanceProp_t, APP_InstanceProp_t2, 8> {
 public:
  explicit APP_InstanceProp(DBtran* tran);
  ~APP_InstanceProp() override;
  static const SDBBindingDesc& Desc();
};
