// A task's details, as XML.
// Binding of the stored procedure "TM_GetTaskDetail".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row of the output columns.
struct TM_GetTaskDetail_t {
  char* xmlText;  // owned, null when empty

  TM_GetTaskDetail_t();
  ~TM_GetTaskDetail_t();
  TM_GetTaskDetail_t(const TM_GetTaskDetail_t&) = delete;
  TM_GetTaskDetail_t& operator=(const TM_GetTaskDetail_t&) = delete;
};

class TM_GetTaskDetail_t2 : public ZNDBGeneratedRow<TM_GetTaskDetail_t2> {
 public:
  TM_GetTaskDetail_t2() = default;
  ~TM_GetTaskDetail_t2() override;
  static const SDBBindingDesc& Desc();
};

class TM_GetTaskDetail : public ZNDBGeneratedBinding<TM_GetTaskDetail, TM_GetTaskDetail_t, TM_GetTaskDetail_t2, 1> {
 public:
  explicit TM_GetTaskDetail(DBtran* tran);
  ~TM_GetTaskDetail() override;
  static const SDBBindingDesc& Desc();
  // Typed mode binds the three numbers in order; text mode prints them.
  void setValues(int taskId, int second, int third);
  void setZNDBValues(ZNDB_int* taskId, ZNDB_int* second, ZNDB_int* third);
};
