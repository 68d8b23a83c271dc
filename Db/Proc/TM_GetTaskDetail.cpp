#include "TM_GetTaskDetail.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"xmlText", "s", offsetof(TM_GetTaskDetail_t, xmlText)},
};

const SDBBindingDesc kDesc = {
    "TM_GetTaskDetail",
    2,
    "v1.62.2.30.4.1",
    "Db/Proc/TM_GetTaskDetail.h",
    kColumns,
    1,
    nullptr,
    0,
    nullptr,
    nullptr,
    nullptr,
    0,
};

}  // namespace

TM_GetTaskDetail_t::TM_GetTaskDetail_t() : xmlText(nullptr) {
}

TM_GetTaskDetail_t::~TM_GetTaskDetail_t() {
  delete[] xmlText;
  xmlText = nullptr;
}

TM_GetTaskDetail_t2::~TM_GetTaskDetail_t2() = default;

const SDBBindingDesc& TM_GetTaskDetail_t2::Desc() { return kDesc; }

TM_GetTaskDetail::TM_GetTaskDetail(DBtran* tran) : ZNDBGeneratedBinding<TM_GetTaskDetail, TM_GetTaskDetail_t, TM_GetTaskDetail_t2, 1>(tran) {}

TM_GetTaskDetail::~TM_GetTaskDetail() = default;

const SDBBindingDesc& TM_GetTaskDetail::Desc() { return kDesc; }

void TM_GetTaskDetail::setValues(int taskId, int second, int third) {
  if (DBtable::b_newDBBase) {
    setZNDBValues(new ZNDB_int(taskId), new ZNDB_int(second), new ZNDB_int(third));
    m_inputsBound = true;
  } else {
    valuesClauseCheck(44);
    CallDBsprintfWrapper("%d,%d,%d", taskId, second, third);
  }
}

void TM_GetTaskDetail::setZNDBValues(ZNDB_int* taskId, ZNDB_int* second, ZNDB_int* third) {
  ClearBoundInputs();
  BindInput(taskId);
  BindInput(second);
  BindInput(third);
}
