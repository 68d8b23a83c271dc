#include "AppGetVSMemberServers.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind* const kColumns = nullptr;

const SDBBindingDesc kDesc = {
    "AppGetVSMemberServers",
    2,
    "00d:0000000000000000",
    "Db/Proc/AppGetVSMemberServers.h",
    kColumns,
    0,
    nullptr,
    0,
    nullptr,
    nullptr,
    nullptr,
    0,
};

}  // namespace

AppGetVSMemberServers_t::AppGetVSMemberServers_t() {
}

AppGetVSMemberServers_t::~AppGetVSMemberServers_t() {
}

AppGetVSMemberServers_t2::~AppGetVSMemberServers_t2() = default;

const SDBBindingDesc& AppGetVSMemberServers_t2::Desc() { return kDesc; }

AppGetVSMemberServers::AppGetVSMemberServers(DBtran* tran) : ZNDBGeneratedBinding<AppGetVSMemberServers, AppGetVSMemberServers_t, AppGetVSMemberServers_t2, 0>(tran) {}

AppGetVSMemberServers::~AppGetVSMemberServers() = default;

const SDBBindingDesc& AppGetVSMemberServers::Desc() { return kDesc; }

void AppGetVSMemberServers::setValues(char const* text) {
  if (!text) text = "";
  if (DBtable::b_newDBBase) {
    setZNDBValues(new ZNDB_string(text));
    m_inputsBound = true;
  } else {
    valuesClauseCheck(strlen(text) + 4);
    CallDBsprintfWrapper("'%s'", text);
  }
}

void AppGetVSMemberServers::setZNDBValues(ZNDB_string* text) {
  ClearBoundInputs();
  BindInput(text);
}
