// Named global parameters, one row per parameter.
// Binding of the table "OBGlobalParam".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct OBGlobalParam_t {
  int id;
  char name[129];
  char* value;  // owned, null when empty
  long long created;
  long long modified;

  OBGlobalParam_t();
  ~OBGlobalParam_t();
  OBGlobalParam_t(const OBGlobalParam_t&) = delete;
  OBGlobalParam_t& operator=(const OBGlobalParam_t&) = delete;
};

class OBGlobalParam_t2 : public ZNDBGeneratedRow<OBGlobalParam_t2> {
 public:
  OBGlobalParam_t2() = default;
  ~OBGlobalParam_t2() override;
  static const SDBBindingDesc& Desc();
};

class OBGlobalParam : public ZNDBGeneratedBinding<OBGlobalParam, OBGlobalParam_t, OBGlobalParam_t2, 5> {
 public:
  explicit OBGlobalParam(DBtran* tran);
  ~OBGlobalParam() override;
  static const SDBBindingDesc& Desc();
};
