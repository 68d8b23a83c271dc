#include "MM_SMNetAppOpenReplReport.h"

#include <stddef.h>
#include <string.h>

namespace {

#define DR_REPORT_TEXT(name) {#name, "s1021", offsetof(MM_SMNetAppOpenReplReport_t, name)}
#define DR_REPORT_INT(name) {#name, "i", offsetof(MM_SMNetAppOpenReplReport_t, name)}

const SDBColumnBind kColumns[] = {
    DR_REPORT_TEXT(o_spName),         DR_REPORT_TEXT(o_copyName),       DR_REPORT_TEXT(o_copyType),
    DR_REPORT_TEXT(o_clientName),     DR_REPORT_TEXT(o_subclientName),  DR_REPORT_TEXT(o_relationshipId),
    DR_REPORT_TEXT(o_relationshipType), DR_REPORT_TEXT(o_sourcePath),   DR_REPORT_TEXT(o_sourceArray),
    DR_REPORT_TEXT(o_targetPath),     DR_REPORT_TEXT(o_targetArray),    DR_REPORT_INT(o_snapCount),
    DR_REPORT_INT(o_subclientId),     DR_REPORT_INT(o_copyId),          DR_REPORT_INT(o_replicaGroupId),
    DR_REPORT_INT(o_storagePolicyId), DR_REPORT_INT(o_defaultSPCopy),   DR_REPORT_INT(o_controlHostId),
    DR_REPORT_INT(o_replicaPairId),
};

#undef DR_REPORT_TEXT
#undef DR_REPORT_INT

const SDBBindingDesc kDesc = {
    "MM_SMNetAppOpenReplReport",
    2,
    "00d:0000000000000000",
    "Db/Proc/MM_SMNetAppOpenReplReport.h",
    kColumns,
    19,
    nullptr,
    0,
    nullptr,
    nullptr,
    nullptr,
    0,
};

}  // namespace

MM_SMNetAppOpenReplReport_t::MM_SMNetAppOpenReplReport_t()
    : o_snapCount(0),
      o_subclientId(0),
      o_copyId(0),
      o_replicaGroupId(0),
      o_storagePolicyId(0),
      o_defaultSPCopy(0),
      o_controlHostId(0),
      o_replicaPairId(0) {
  for (char* text : {o_spName, o_copyName, o_copyType, o_clientName, o_subclientName, o_relationshipId,
                     o_relationshipType, o_sourcePath, o_sourceArray, o_targetPath, o_targetArray}) {
    memset(text, 0, sizeof(o_spName));
  }
}

MM_SMNetAppOpenReplReport_t::~MM_SMNetAppOpenReplReport_t() {
}

MM_SMNetAppOpenReplReport_t2::~MM_SMNetAppOpenReplReport_t2() = default;

const SDBBindingDesc& MM_SMNetAppOpenReplReport_t2::Desc() { return kDesc; }

MM_SMNetAppOpenReplReport::MM_SMNetAppOpenReplReport(DBtran* tran)
    : ZNDBGeneratedBinding<MM_SMNetAppOpenReplReport, MM_SMNetAppOpenReplReport_t, MM_SMNetAppOpenReplReport_t2, 19>(
          tran) {}

MM_SMNetAppOpenReplReport::~MM_SMNetAppOpenReplReport() = default;

const SDBBindingDesc& MM_SMNetAppOpenReplReport::Desc() { return kDesc; }

void MM_SMNetAppOpenReplReport::setValues(char const* xml) {
  if (!xml) xml = "";
  if (DBtable::b_newDBBase) {
    setZNDBValues(new ZNDB_string(xml));
    m_inputsBound = true;
  } else {
    valuesClauseCheck(strlen(xml) + 4);
    CallDBsprintfWrapper("'%s'", xml);
  }
}

void MM_SMNetAppOpenReplReport::setZNDBValues(ZNDB_string* xml) {
  ClearBoundInputs();
  BindInput(xml);
}
