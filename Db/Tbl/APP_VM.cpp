#include "APP_VM.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(APP_VM_t, id)},
    {"vHostId", "i", offsetof(APP_VM_t, vHostId)},
    {"clientId", "i", offsetof(APP_VM_t, clientId)},
    {"GUID", "s257", offsetof(APP_VM_t, GUID)},
    {"name", "s513", offsetof(APP_VM_t, name)},
    {"vxml", "s", offsetof(APP_VM_t, vxml)},
    {"timeStamp", "t", offsetof(APP_VM_t, timeStamp)},
    {"addTimeStamp", "t", offsetof(APP_VM_t, addTimeStamp)},
    {"removalTimeStamp", "t", offsetof(APP_VM_t, removalTimeStamp)},
    {"status", "i", offsetof(APP_VM_t, status)},
    {"vmAllocationPolicyId", "i", offsetof(APP_VM_t, vmAllocationPolicyId)},
};
const SDBRelation kRelations[] = {
    {"App_VMHost", "vHostId", "id"},
    {"APP_Client", "clientId", "id"},
};

const SDBBindingDesc kDesc = {
    "APP_VM",
    1,
    "1.9.50.3",
    "Db/Tbl/APP_VM.h",
    kColumns,
    11,
    nullptr,
    0,
    "id",
    "id",
    kRelations,
    2,
};


}  // namespace

APP_VM_t::APP_VM_t() : id(0), vHostId(0), clientId(0), vxml(nullptr), status(0), vmAllocationPolicyId(0) {
  strcpy_s(GUID, sizeof(GUID), "");
  name[0] = 0;
}

APP_VM_t::~APP_VM_t() {
  delete[] vxml;
  vxml = nullptr;
}

APP_VM_t2::~APP_VM_t2() = default;

const SDBBindingDesc& APP_VM_t2::Desc() { return kDesc; }

APP_VM::APP_VM(DBtran* tran) : ZNDBGeneratedBinding<APP_VM, APP_VM_t, APP_VM_t2, 11>(tran) {
}

APP_VM::~APP_VM() = default;

const SDBBindingDesc& APP_VM::Desc() { return kDesc; }
