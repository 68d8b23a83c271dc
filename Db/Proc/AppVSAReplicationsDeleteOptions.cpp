#include "AppVSAReplicationsDeleteOptions.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"o_xmlString", "s", offsetof(AppVSAReplicationsDeleteOptions_t, o_xmlString)},
};

const SDBBindingDesc kDesc = {
    "AppVSAReplicationsDeleteOptions",
    2,
    "00d:0000000000000000",
    "Db/Proc/AppVSAReplicationsDeleteOptions.h",
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

AppVSAReplicationsDeleteOptions_t::AppVSAReplicationsDeleteOptions_t() : o_xmlString(nullptr) {
}

AppVSAReplicationsDeleteOptions_t::~AppVSAReplicationsDeleteOptions_t() {
  delete[] o_xmlString;
  o_xmlString = nullptr;
}

AppVSAReplicationsDeleteOptions_t2::~AppVSAReplicationsDeleteOptions_t2() = default;

const SDBBindingDesc& AppVSAReplicationsDeleteOptions_t2::Desc() { return kDesc; }

AppVSAReplicationsDeleteOptions::AppVSAReplicationsDeleteOptions(DBtran* tran) : ZNDBGeneratedBinding<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t, AppVSAReplicationsDeleteOptions_t2, 1>(tran) {}

AppVSAReplicationsDeleteOptions::~AppVSAReplicationsDeleteOptions() = default;

const SDBBindingDesc& AppVSAReplicationsDeleteOptions::Desc() { return kDesc; }

void AppVSAReplicationsDeleteOptions::setValues(char const* text) {
  if (!text) text = "";
  if (DBtable::b_newDBBase) {
    setZNDBValues(new ZNDB_string(text));
    m_inputsBound = true;
  } else {
    valuesClauseCheck(strlen(text) + 4);
    CallDBsprintfWrapper("'%s'", text);
  }
}

void AppVSAReplicationsDeleteOptions::setZNDBValues(ZNDB_string* text) {
  ClearBoundInputs();
  BindInput(text);
}
