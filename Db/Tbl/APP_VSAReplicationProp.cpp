#include "APP_VSAReplicationProp.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(APP_VSAReplicationProp_t, id)},
    {"replicationId", "i", offsetof(APP_VSAReplicationProp_t, replicationId)},
    {"propertyTypeId", "i", offsetof(APP_VSAReplicationProp_t, propertyTypeId)},
    {"propertyValue", "s", offsetof(APP_VSAReplicationProp_t, propertyValue)},
    {"created", "x", offsetof(APP_VSAReplicationProp_t, created)},
    {"modified", "x", offsetof(APP_VSAReplicationProp_t, modified)},
};
const char* const kKeys[] = {"id"};

const SDBBindingDesc kDesc = {
    "APP_VSAReplicationProp",
    1,
    "1.1.2.4",
    "Db/Tbl/APP_VSAReplicationProp.h",
    kColumns,
    6,
    kKeys,
    1,
    "id",
    "id",
    nullptr,
    0,
};


}  // namespace

APP_VSAReplicationProp_t::APP_VSAReplicationProp_t() : id(0), replicationId(0), propertyTypeId(0), propertyValue(nullptr), created(0), modified(0) {
}

APP_VSAReplicationProp_t::~APP_VSAReplicationProp_t() {
  delete[] propertyValue;
  propertyValue = nullptr;
}

APP_VSAReplicationProp_t2::~APP_VSAReplicationProp_t2() = default;

const SDBBindingDesc& APP_VSAReplicationProp_t2::Desc() { return kDesc; }

APP_VSAReplicationProp::APP_VSAReplicationProp(DBtran* tran) : ZNDBGeneratedBinding<APP_VSAReplicationProp, APP_VSAReplicationProp_t, APP_VSAReplicationProp_t2, 6>(tran) {
}

APP_VSAReplicationProp::~APP_VSAReplicationProp() = default;

const SDBBindingDesc& APP_VSAReplicationProp::Desc() { return kDesc; }
