// Deletes replication entries as an XML document of DR options directs; answers one XML text.
// Binding of the stored procedure "AppVSAReplicationsDeleteOptions".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row of the output columns.
struct AppVSAReplicationsDeleteOptions_t {
  char* o_xmlString;  // owned, null when empty

  AppVSAReplicationsDeleteOptions_t();
  ~AppVSAReplicationsDeleteOptions_t();
  AppVSAReplicationsDeleteOptions_t(const AppVSAReplicationsDeleteOptions_t&) = delete;
  AppVSAReplicationsDeleteOptions_t& operator=(const AppVSAReplicationsDeleteOptions_t&) = delete;
};

class AppVSAReplicationsDeleteOptions_t2 : public ZNDBGeneratedRow<AppVSAReplicationsDeleteOptions_t2> {
 public:
  AppVSAReplicationsDeleteOptions_t2() = default;
  ~AppVSAReplicationsDeleteOptions_t2() override;
  static const SDBBindingDesc& Desc();
};

class AppVSAReplicationsDeleteOptions : public ZNDBGeneratedBinding<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t, AppVSAReplicationsDeleteOptions_t2, 1> {
 public:
  explicit AppVSAReplicationsDeleteOptions(DBtran* tran);
  ~AppVSAReplicationsDeleteOptions() override;
  static const SDBBindingDesc& Desc();
  // Typed mode binds the text as one value; text mode prints it quoted.
  void setValues(char const* text);
  void setZNDBValues(ZNDB_string* text);
};
