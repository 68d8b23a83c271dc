// Name/value properties of a DR group.
// Binding of the table "App_VirtualAppProp".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct App_VirtualAppProp_t {
  int componentNameId;
  char attrName[2049];
  int attrType;
  char attrVal[2049];
  long long created;
  long long modified;

  App_VirtualAppProp_t();
  ~App_VirtualAppProp_t();
  App_VirtualAppProp_t(const App_VirtualAppProp_t& other);
  // Copies every field in order; a fixed text keeps its terminator.
  App_VirtualAppProp_t& operator=(const App_VirtualAppProp_t& other);
};

class App_VirtualAppProp_t2 : public ZNDBGeneratedRow<App_VirtualAppProp_t2> {
 public:
  App_VirtualAppProp_t2() = default;
  ~App_VirtualAppProp_t2() override;
  static const SDBBindingDesc& Desc();
};

class App_VirtualAppProp : public ZNDBGeneratedBinding<App_VirtualAppProp, App_VirtualAppProp_t, App_VirtualAppProp_t2, 6> {
 public:
  explicit App_VirtualAppProp(DBtran* tran);
  ~App_VirtualAppProp() override;
  static const SDBBindingDesc& Desc();
  // Copies the given row into the one to insert.
  void setValues(App_VirtualAppProp_t* row);
};
