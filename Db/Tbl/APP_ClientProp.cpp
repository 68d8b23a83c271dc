#include "APP_ClientProp.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(APP_ClientProp_t, id)},
    {"componentNameId", "i", offsetof(APP_ClientProp_t, componentNameId)},
    {"attrName", "s2049", offsetof(APP_ClientProp_t, attrName)},
    {"attrType", "i", offsetof(APP_ClientProp_t, attrType)},
    {"attrVal", "s2049", offsetof(APP_ClientProp_t, attrVal)},
    {"created", "x", offsetof(APP_ClientProp_t, created)},
    {"modified", "x", offsetof(APP_ClientProp_t, modified)},
    {"hdpId", "i", offsetof(APP_ClientProp_t, hdpId)},
};
const SDBRelation kRelations[] = {
    {"APP_Client", "componentNameId", "id"},
};

const SDBBindingDesc kDesc = {
    "APP_ClientProp",
    1,
    "1.11.278.10",
    "Db/Tbl/APP_ClientProp.h",
    kColumns,
    8,
    nullptr,
    0,
    "id",
    "id",
    kRelations,
    1,
};


}  // namespace

APP_ClientProp_t::APP_ClientProp_t() : id(0), componentNameId(0), attrType(0), created(0), modified(0), hdpId(0) {
  attrName[0] = 0;
  attrVal[0] = 0;
}

APP_ClientProp_t::~APP_ClientProp_t() {
}

APP_ClientProp_t2::~APP_ClientProp_t2() = default;

const SDBBindingDesc& APP_ClientProp_t2::Desc() { return kDesc; }

APP_ClientProp::APP_ClientProp(DBtran* tran) : ZNDBGeneratedBinding<APP_ClientProp, APP_ClientProp_t, APP_ClientProp_t2, 8>(tran) {
}

APP_ClientProp::~APP_ClientProp() = default;

const SDBBindingDesc& APP_ClientProp::Desc() { return kDesc; }
