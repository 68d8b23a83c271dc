// Sets the activity control of a client (an App::EntityActivityControl
// document, run as a user); answers one XML text, an App::GenericResp.
// Binding of the stored procedure "APPSetActivityControl".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// The procedure has no output columns: its answer is the text result.
struct APPSetActivityControl_t {
  APPSetActivityControl_t();
  ~APPSetActivityControl_t();
  APPSetActivityControl_t(const APPSetActivityControl_t&) = delete;
  APPSetActivityControl_t& operator=(const APPSetActivityControl_t&) = delete;
};

class APPSetActivityControl_t2 : public ZNDBGeneratedRow<APPSetActivityControl_t2> {
 public:
  APPSetActivityControl_t2() = default;
  ~APPSetActivityControl_t2() override;
  static const SDBBindingDesc& Desc();
};

class APPSetActivityControl
    : public ZNDBGeneratedBinding<APPSetActivityControl, APPSetActivityControl_t, APPSetActivityControl_t2, 0> {
 public:
  explicit APPSetActivityControl(DBtran* tran);
  ~APPSetActivityControl() override;
  static const SDBBindingDesc& Desc();
  // Typed mode binds the user id and the text in that order; text mode
  // prints them (the library keeps the text one literal, quotes and all).
  void setValues(int userId, char const* xml);
  void setZNDBValues(ZNDB_int* userId, ZNDB_string* xml);
};
