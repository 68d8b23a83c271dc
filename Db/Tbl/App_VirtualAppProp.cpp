#include "App_VirtualAppProp.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"componentNameId", "i", offsetof(App_VirtualAppProp_t, componentNameId)},
    {"attrName", "s2049", offsetof(App_VirtualAppProp_t, attrName)},
    {"attrType", "i", offsetof(App_VirtualAppProp_t, attrType)},
    {"attrVal", "s2049", offsetof(App_VirtualAppProp_t, attrVal)},
    {"created", "x", offsetof(App_VirtualAppProp_t, created)},
    {"modified", "x", offsetof(App_VirtualAppProp_t, modified)},
};
const SDBRelation kRelations[] = {
    {"App_VirtualApp", "componentNameId", "id"},
};

const SDBBindingDesc kDesc = {
    "App_VirtualAppProp",
    1,
    "1.1.2.4",
    "Db/Tbl/App_VirtualAppProp.h",
    kColumns,
    6,
    nullptr,
    0,
    nullptr,
    "",
    kRelations,
    1,
};


}  // namespace

App_VirtualAppProp_t::App_VirtualAppProp_t() : componentNameId(0), attrType(0), created(0), modified(0) {
  attrName[0] = 0;
  attrVal[0] = 0;
}

App_VirtualAppProp_t::~App_VirtualAppProp_t() {
}

App_VirtualAppProp_t::App_VirtualAppProp_t(const App_VirtualAppProp_t& other) : App_VirtualAppProp_t() { *this = other; }

App_VirtualAppProp_t& App_VirtualAppProp_t::operator=(const App_VirtualAppProp_t& other) {
  if (this == &other) return *this;
  componentNameId = other.componentNameId;
  strcpy_s(attrName, sizeof(attrName), other.attrName);
  attrType = other.attrType;
  strcpy_s(attrVal, sizeof(attrVal), other.attrVal);
  created = other.created;
  modified = other.modified;
  return *this;
}

App_VirtualAppProp_t2::~App_VirtualAppProp_t2() = default;

const SDBBindingDesc& App_VirtualAppProp_t2::Desc() { return kDesc; }

App_VirtualAppProp::App_VirtualAppProp(DBtran* tran) : ZNDBGeneratedBinding<App_VirtualAppProp, App_VirtualAppProp_t, App_VirtualAppProp_t2, 6>(tran) {
}

App_VirtualAppProp::~App_VirtualAppProp() = default;

const SDBBindingDesc& App_VirtualAppProp::Desc() { return kDesc; }

void App_VirtualAppProp::setValues(App_VirtualAppProp_t* row) {
  if (row) m_data = *row;
}
