// The member servers of a virtualisation instance, as XML.
// Binding of the stored procedure "AppGetVSMemberServers".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row of the output columns.
struct AppGetVSMemberServers_t {

  AppGetVSMemberServers_t();
  ~AppGetVSMemberServers_t();
  AppGetVSMemberServers_t(const AppGetVSMemberServers_t&) = delete;
  AppGetVSMemberServers_t& operator=(const AppGetVSMemberServers_t&) = delete;
};

class AppGetVSMemberServers_t2 : public ZNDBGeneratedRow<AppGetVSMemberServers_t2> {
 public:
  AppGetVSMemberServers_t2() = default;
  ~AppGetVSMemberServers_t2() override;
  static const SDBBindingDesc& Desc();
};

class AppGetVSMemberServers : public ZNDBGeneratedBinding<AppGetVSMemberServers, AppGetVSMemberServers_t, AppGetVSMemberServers_t2, 0> {
 public:
  explicit AppGetVSMemberServers(DBtran* tran);
  ~AppGetVSMemberServers() override;
  static const SDBBindingDesc& Desc();
  // Typed mode binds the text as one value; text mode prints it quoted.
  void setValues(char const* text);
  void setZNDBValues(ZNDB_string* text);
};
