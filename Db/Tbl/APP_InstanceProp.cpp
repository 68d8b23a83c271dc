#include "APP_InstanceProp.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(APP_InstanceProp_t, id)},
    {"componentNameId", "i", offsetof(APP_InstanceProp_t, componentNameId)},
    {"attrName", "s2049", offsetof(APP_InstanceProp_t, attrName)},
    {"attrType", "i", offsetof(APP_InstanceProp_t, attrType)},
    {"attrVal", "s", offsetof(APP_InstanceProp_t, attrVal)},
    {"created", "x", offsetof(APP_InstanceProp_t, created)},
    {"modified", "x", offsetof(APP_InstanceProp_t, modified)},
    {"hdpId", "i", offsetof(APP_InstanceProp_t, hdpId)},
};
const char* const kKeys[] = {"id"};
const SDBRelation kRelations[] = {
    {"APP_InstanceName", "componentNameId", "id"},
};

const SDBBindingDesc kDesc = {
    "APP_InstanceProp",
    1,
    "1.13.278.3",
    "Db/Tbl/APP_InstanceProp.h",
    kColumns,
    8,
    kKeys,
    1,
    "id",
    "id",
    kRelations,
    1,
};


}  // namespace

APP_InstanceProp_t::APP_InstanceProp_t() : id(0), componentNameId(0), attrType(0), attrVal(nullptr), created(0), modified(0), hdpId(0) {
  attrName[0] = 0;
}

APP_InstanceProp_t::~APP_InstanceProp_t() {
  delete[] attrVal;
  attrVal = nullptr;
}

APP_InstanceProp_t2::~APP_InstanceProp_t2() = default;

const SDBBindingDesc& APP_InstanceProp_t2::Desc() { return kDesc; }

APP_InstanceProp::APP_InstanceProp(DBtran* tran) : ZNDBGeneratedBinding<APP_InstanceProp, APP_InstanceProp_t, APP_InstanceProp_t2, 8>(tran) {
}

APP_InstanceProp::~APP_InstanceProp() = default;

const SDBBindingDesc& APP_InstanceProp::Desc() { return kDesc; }
