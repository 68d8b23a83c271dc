#include "APP_Client.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", offsetof(APP_Client_t, id)},
    {"name", "s511", offsetof(APP_Client_t, name)},
    {"simOperatingSystemId", "i", offsetof(APP_Client_t, simOperatingSystemId)},
    {"net_hostname", "s511", offsetof(APP_Client_t, net_hostname)},
    {"client_password", "s511", offsetof(APP_Client_t, client_password)},
    {"refTime", "x", offsetof(APP_Client_t, refTime)},
    {"modified", "x", offsetof(APP_Client_t, modified)},
    {"offlineEntity", "i", offsetof(APP_Client_t, offlineEntity)},
    {"offlineTimeStamp", "x", offsetof(APP_Client_t, offlineTimeStamp)},
    {"dhHostName", "s511", offsetof(APP_Client_t, dhHostName)},
    {"clientDescription", "s", offsetof(APP_Client_t, clientDescription)},
    {"jobResultDir", "s511", offsetof(APP_Client_t, jobResultDir)},
    {"clientSkewTime", "i", offsetof(APP_Client_t, clientSkewTime)},
    {"zndPort", "i", offsetof(APP_Client_t, zndPort)},
    {"evclientPort", "i", offsetof(APP_Client_t, evclientPort)},
    {"status", "i", offsetof(APP_Client_t, status)},
    {"releaseId", "i", offsetof(APP_Client_t, releaseId)},
    {"spaceCheckFlags", "i", offsetof(APP_Client_t, spaceCheckFlags)},
    {"hdpId", "i", offsetof(APP_Client_t, hdpId)},
    {"hdpTime", "x", offsetof(APP_Client_t, hdpTime)},
    {"origHDId", "i", offsetof(APP_Client_t, origHDId)},
    {"GUID", "s65", offsetof(APP_Client_t, GUID)},
    {"specialClientFlags", "i", offsetof(APP_Client_t, specialClientFlags)},
    {"displayName", "s511", offsetof(APP_Client_t, displayName)},
};
const char* const kKeys[] = {"id"};
const SDBRelation kRelations[] = {
    {"simOperatingSystem", "simOperatingSystemId", "id"},
    {"simAllOrbeloRel", "releaseId", "id"},
};

const SDBBindingDesc kDesc = {
    "APP_Client",
    1,
    "1.63.2.10",
    "Db/Tbl/APP_Client.h",
    kColumns,
    24,
    kKeys,
    1,
    "id",
    "id",
    kRelations,
    2,
};


}  // namespace

APP_Client_t::APP_Client_t() : id(0), simOperatingSystemId(0), refTime(0), modified(0), offlineEntity(0), offlineTimeStamp(0), clientDescription(nullptr), clientSkewTime(0), zndPort(0), evclientPort(0), status(0), releaseId(0), spaceCheckFlags(0), hdpId(0), hdpTime(0), origHDId(0), specialClientFlags(0) {
  name[0] = 0;
  net_hostname[0] = 0;
  client_password[0] = 0;
  dhHostName[0] = 0;
  jobResultDir[0] = 0;
  GUID[0] = 0;
  displayName[0] = 0;
}

APP_Client_t::~APP_Client_t() {
  delete[] clientDescription;
  clientDescription = nullptr;
}

APP_Client_t2::~APP_Client_t2() = default;

const SDBBindingDesc& APP_Client_t2::Desc() { return kDesc; }

APP_Client::APP_Client(DBtran* tran) : ZNDBGeneratedBinding<APP_Client, APP_Client_t, APP_Client_t2, 24>(tran) {
}

APP_Client::~APP_Client() = default;

const SDBBindingDesc& APP_Client::Desc() { return kDesc; }
