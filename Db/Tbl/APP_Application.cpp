#include "APP_Application.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(APP_Application_t, id)},
    {"clientId", "i", offsetof(APP_Application_t, clientId)},
    {"appTypeId", "i", offsetof(APP_Application_t, appTypeId)},
    {"instance", "i", offsetof(APP_Application_t, instance)},
    {"backupSet", "i", offsetof(APP_Application_t, backupSet)},
    {"appNumber", "i", offsetof(APP_Application_t, appNumber)},
    {"dataArchGrpID", "i", offsetof(APP_Application_t, dataArchGrpID)},
    {"logArchGrpID", "i", offsetof(APP_Application_t, logArchGrpID)},
    {"refTime", "x", offsetof(APP_Application_t, refTime)},
    {"modified", "x", offsetof(APP_Application_t, modified)},
    {"subclientName", "s257", offsetof(APP_Application_t, subclientName)},
    {"subclientStatus", "i", offsetof(APP_Application_t, subclientStatus)},
    {"hdpId", "i", offsetof(APP_Application_t, hdpId)},
    {"hdpTime", "x", offsetof(APP_Application_t, hdpTime)},
    {"origHDId", "i", offsetof(APP_Application_t, origHDId)},
    {"GUID", "s65", offsetof(APP_Application_t, GUID)},
};
const char* const kKeys[] = {"id"};
const SDBRelation kRelations[] = {
    {"APP_client", "clientId", "id"},
    {"APP_iDAType", "appTypeId", "type"},
    {"APP_InstanceName", "instance", "id"},
    {"APP_BackupSetName", "backupSet", "id"},
    {"archGroup", "dataArchGrpId", "id"},
    {"archGroup", "logArchGrpID", "id"},
};

const SDBBindingDesc kDesc = {
    "APP_Application",
    1,
    "1.38.2.9",
    "Db/Tbl/APP_Application.h",
    kColumns,
    16,
    kKeys,
    1,
    "id",
    "id",
    kRelations,
    6,
};


}  // namespace

APP_Application_t::APP_Application_t() : id(0), clientId(0), appTypeId(0), instance(0), backupSet(0), appNumber(0), dataArchGrpID(0), logArchGrpID(0), refTime(0), modified(0), subclientStatus(0), hdpId(0), hdpTime(0), origHDId(0) {
  subclientName[0] = 0;
  GUID[0] = 0;
}

APP_Application_t::~APP_Application_t() {
}

APP_Application_t2::~APP_Application_t2() = default;

const SDBBindingDesc& APP_Application_t2::Desc() { return kDesc; }

APP_Application::APP_Application(DBtran* tran) : ZNDBGeneratedBinding<APP_Application, APP_Application_t, APP_Application_t2, 16>(tran) {
}

APP_Application::~APP_Application() = default;

const SDBBindingDesc& APP_Application::Desc() { return kDesc; }
