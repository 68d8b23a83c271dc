#include "OBGlobalParam.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(OBGlobalParam_t, id)},
    {"name", "s129", offsetof(OBGlobalParam_t, name)},
    {"value", "s", offsetof(OBGlobalParam_t, value)},
    {"created", "x", offsetof(OBGlobalParam_t, created)},
    {"modified", "x", offsetof(OBGlobalParam_t, modified)},
};

const SDBBindingDesc kDesc = {
    "OBGlobalParam",
    1,
    "1.120.88.3",
    "Db/Tbl/OBGlobalParam.h",
    kColumns,
    5,
    nullptr,
    0,
    "id",
    "id",
    nullptr,
    0,
};


}  // namespace

OBGlobalParam_t::OBGlobalParam_t() : id(0), value(nullptr), created(0), modified(0) {
  name[0] = 0;
}

OBGlobalParam_t::~OBGlobalParam_t() {
  delete[] value;
  value = nullptr;
}

OBGlobalParam_t2::~OBGlobalParam_t2() = default;

const SDBBindingDesc& OBGlobalParam_t2::Desc() { return kDesc; }

OBGlobalParam::OBGlobalParam(DBtran* tran) : ZNDBGeneratedBinding<OBGlobalParam, OBGlobalParam_t, OBGlobalParam_t2, 5>(tran) {
}

OBGlobalParam::~OBGlobalParam() = default;

const SDBBindingDesc& OBGlobalParam::Desc() { return kDesc; }
