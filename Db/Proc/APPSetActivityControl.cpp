#include "APPSetActivityControl.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind* const kColumns = nullptr;

const SDBBindingDesc kDesc = {
    "APPSetActivityControl",
    2,
    "00010017000200190000",
    "Db/Proc/APPSetActivityControl.h",
    kColumns,
    0,
    nullptr,
    0,
    nullptr,
    nullptr,
    nullptr,
    0,
};

// Room for the user id (at most 11 characters), the comma, the two quotes
// and a few to spare.
const unsigned long kValuesRoomBeyondText = 19;

}  // namespace

APPSetActivityControl_t::APPSetActivityControl_t() {
}

APPSetActivityControl_t::~APPSetActivityControl_t() {
}

APPSetActivityControl_t2::~APPSetActivityControl_t2() = default;

const SDBBindingDesc& APPSetActivityControl_t2::Desc() { return kDesc; }

APPSetActivityControl::APPSetActivityControl(DBtran* tran)
    : ZNDBGeneratedBinding<APPSetActivityControl, APPSetActivityControl_t, APPSetActivityControl_t2, 0>(tran) {}

APPSetActivityControl::~APPSetActivityControl() = default;

const SDBBindingDesc& APPSetActivityControl::Desc() { return kDesc; }

void APPSetActivityControl::setValues(int userId, char const* xml) {
  if (!xml) xml = "";
  if (DBtable::b_newDBBase) {
    setZNDBValues(new ZNDB_int(userId), new ZNDB_string(xml));
    m_inputsBound = true;
  } else {
    valuesClauseCheck(strlen(xml) + kValuesRoomBeyondText);
    CallDBsprintfWrapper("%d,'%s'", userId, xml);
  }
}

void APPSetActivityControl::setZNDBValues(ZNDB_int* userId, ZNDB_string* xml) {
  ClearBoundInputs();
  BindInput(userId);
  BindInput(xml);
}
