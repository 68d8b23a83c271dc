#include "AppGetSnapDRArchiveFiles.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"o_masterJobId", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_masterJobId)},
    {"o_vmName", "s1021", offsetof(AppGetSnapDRArchiveFiles_t, o_vmName)},
    {"o_afileId", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_afileId)},
    {"o_jobId", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_jobId)},
    {"o_vmClientId", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_vmClientId)},
    {"o_vmGuid", "s1021", offsetof(AppGetSnapDRArchiveFiles_t, o_vmGuid)},
    {"o_vmAppId", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_vmAppId)},
    {"o_mountStatus", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_mountStatus)},
    {"o_mountHostId", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_mountHostId)},
    {"o_isFailoverMount", "i", offsetof(AppGetSnapDRArchiveFiles_t, o_isFailoverMount)},
};

const SDBBindingDesc kDesc = {
    "AppGetSnapDRArchiveFiles",
    2,
    "00d:0000000000000000",
    "Db/Proc/AppGetSnapDRArchiveFiles.h",
    kColumns,
    10,
    nullptr,
    0,
    nullptr,
    nullptr,
    nullptr,
    0,
};

// Room for the two numbers (at most 11 characters each), two commas, the
// two quotes and a few to spare.
const unsigned long kValuesRoomBeyondText = 34;

}  // namespace

AppGetSnapDRArchiveFiles_t::AppGetSnapDRArchiveFiles_t()
    : o_masterJobId(0),
      o_afileId(0),
      o_jobId(0),
      o_vmClientId(0),
      o_vmAppId(0),
      o_mountStatus(0),
      o_mountHostId(0),
      o_isFailoverMount(0) {
  memset(o_vmName, 0, sizeof(o_vmName));
  memset(o_vmGuid, 0, sizeof(o_vmGuid));
}

AppGetSnapDRArchiveFiles_t::~AppGetSnapDRArchiveFiles_t() {
}

AppGetSnapDRArchiveFiles_t2::~AppGetSnapDRArchiveFiles_t2() = default;

const SDBBindingDesc& AppGetSnapDRArchiveFiles_t2::Desc() { return kDesc; }

AppGetSnapDRArchiveFiles::AppGetSnapDRArchiveFiles(DBtran* tran)
    : ZNDBGeneratedBinding<AppGetSnapDRArchiveFiles, AppGetSnapDRArchiveFiles_t, AppGetSnapDRArchiveFiles_t2, 10>(tran) {}

AppGetSnapDRArchiveFiles::~AppGetSnapDRArchiveFiles() = default;

const SDBBindingDesc& AppGetSnapDRArchiveFiles::Desc() { return kDesc; }

void AppGetSnapDRArchiveFiles::setValues(int appId, int copyId, char const* xml) {
  if (!xml) xml = "";
  if (DBtable::b_newDBBase) {
    setZNDBValues(new ZNDB_int(appId), new ZNDB_int(copyId), new ZNDB_string(xml));
    m_inputsBound = true;
  } else {
    valuesClauseCheck(strlen(xml) + kValuesRoomBeyondText);
    CallDBsprintfWrapper("%d,%d,'%s'", appId, copyId, xml);
  }
}

void AppGetSnapDRArchiveFiles::setZNDBValues(ZNDB_int* appId, ZNDB_int* copyId, ZNDB_string* xml) {
  ClearBoundInputs();
  BindInput(appId);
  BindInput(copyId);
  BindInput(xml);
}
