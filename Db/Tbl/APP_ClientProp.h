// Named attributes of clients, one row per attribute.
// Binding of the table "APP_ClientProp".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct APP_ClientProp_t {
  int id;
  int componentNameId;
  char attrName[2049];
  int attrType;
  char attrVal[2049];
  long long created;
  long long modified;
  int hdpId;

  APP_ClientProp_t();
  ~APP_ClientProp_t();
  APP_ClientProp_t(const APP_ClientProp_t&) = delete;
  APP_ClientProp_t& operator=(const APP_ClientProp_t&) = delete;
};

class APP_ClientProp_t2 : public ZNDBGeneratedRow<APP_ClientProp_t2> {
 public:
  APP_ClientProp_t2() = default;
  ~APP_ClientProp_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_ClientProp : public ZNDBGeneratedBinding<APP_ClientProp, APP_ClientProp_t, APP_ClientProp_t2, 8> {
 public:
  explicit APP_ClientProp(DBtran* tran);
  ~APP_ClientProp() override;
  static const SDBBindingDesc& Desc();
};
