// Typed properties of a VM replication, one row per property value.
// Binding of the table "APP_VSAReplicationProp".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct APP_VSAReplicationProp_t {
  int id;
  int replicationId;
  int propertyTypeId;
  char* propertyValue;  // owned, null when empty
  long long created;
  long long modified;

  APP_VSAReplicationProp_t();
  ~APP_VSAReplicationProp_t();
  APP_VSAReplicationProp_t(const APP_VSAReplicationProp_t&) = delete;
  APP_VSAReplicationProp_t& operator=(const APP_VSAReplicationProp_t&) = delete;
};

class APP_VSAReplicationProp_t2 : public ZNDBGeneratedRow<APP_VSAReplicationProp_t2> {
 public:
  APP_VSAReplicationProp_t2() = default;
  ~APP_VSAReplicationProp_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_VSAReplicationProp : public ZNDBGeneratedBinding<APP_VSAReplicationProp, APP_VSAReplicationProp_t, APP_VSAReplicationProp_t2, 6> {
 public:
  explicit APP_VSAReplicationProp(DBtran* tran);
  ~APP_VSAReplicationProp() override;
  static const SDBBindingDesc& Desc();
};
