#include "App_VmAllocationPolicy.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(App_VmAllocationPolicy_t, id)},
    {"name", "s513", offsetof(App_VmAllocationPolicy_t, name)},
    {"vDataCenterId", "i", offsetof(App_VmAllocationPolicy_t, vDataCenterId)},
    {"description", "s", offsetof(App_VmAllocationPolicy_t, description)},
    {"vxml", "s", offsetof(App_VmAllocationPolicy_t, vxml)},
    {"ownerId", "i", offsetof(App_VmAllocationPolicy_t, ownerId)},
    {"created", "x", offsetof(App_VmAllocationPolicy_t, created)},
    {"modified", "x", offsetof(App_VmAllocationPolicy_t, modified)},
    {"alive", "i", offsetof(App_VmAllocationPolicy_t, alive)},
    {"flags", "i", offsetof(App_VmAllocationPolicy_t, flags)},
};
const char* const kKeys[] = {"id"};
const SDBRelation kRelations[] = {
    {"UMUsers", "ownerId", "id"},
    {"App_VMDataCenter", "vDataCenterId", "id"},
};

const SDBBindingDesc kDesc = {
    "App_VmAllocationPolicy",
    1,
    "1.5.50.1",
    "Db/Tbl/App_VmAllocationPolicy.h",
    kColumns,
    10,
    kKeys,
    1,
    "id",
    "id",
    kRelations,
    2,
};


}  // namespace

App_VmAllocationPolicy_t::App_VmAllocationPolicy_t() : id(0), vDataCenterId(0), description(nullptr), vxml(nullptr), ownerId(0), created(0), modified(0), alive(0), flags(0) {
  name[0] = 0;
}

App_VmAllocationPolicy_t::~App_VmAllocationPolicy_t() {
  delete[] description;
  description = nullptr;
  delete[] vxml;
  vxml = nullptr;
}

App_VmAllocationPolicy_t2::~App_VmAllocationPolicy_t2() = default;

const SDBBindingDesc& App_VmAllocationPolicy_t2::Desc() { return kDesc; }

App_VmAllocationPolicy::App_VmAllocationPolicy(DBtran* tran) : ZNDBGeneratedBinding<App_VmAllocationPolicy, App_VmAllocationPolicy_t, App_VmAllocationPolicy_t2, 10>(tran) {
}

App_VmAllocationPolicy::~App_VmAllocationPolicy() = default;

const SDBBindingDesc& App_VmAllocationPolicy::Desc() { return kDesc; }
