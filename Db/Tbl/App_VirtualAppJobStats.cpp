#include "App_VirtualAppJobStats.h"

#include <stddef.h>
#include <string.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"jobId", "i", offsetof(App_VirtualAppJobStats_t, jobId)},
    {"haldenId", "i", offsetof(App_VirtualAppJobStats_t, haldenId)},
    {"vappId", "i", offsetof(App_VirtualAppJobStats_t, vappId)},
    {"clientId", "i", offsetof(App_VirtualAppJobStats_t, clientId)},
    {"replicationId", "i", offsetof(App_VirtualAppJobStats_t, replicationId)},
    {"phase", "i", offsetof(App_VirtualAppJobStats_t, phase)},
    {"phaseName", "s2049", offsetof(App_VirtualAppJobStats_t, phaseName)},
    {"status", "i", offsetof(App_VirtualAppJobStats_t, status)},
    {"startTime", "x", offsetof(App_VirtualAppJobStats_t, startTime)},
    {"endTime", "x", offsetof(App_VirtualAppJobStats_t, endTime)},
    {"details", "s", offsetof(App_VirtualAppJobStats_t, details)},
    {"failureReason", "s257", offsetof(App_VirtualAppJobStats_t, failureReason)},
    {"appTypeId", "i", offsetof(App_VirtualAppJobStats_t, appTypeId)},
};
const char* const kKeys[] = {"jobId", "haldenId", "vappId", "clientId", "replicationId", "phase", "appTypeId"};
const SDBRelation kRelations[] = {
    {"APP_Halden", "haldenId", "id"},
    {"APP_VirtualApp", "vappId", "id"},
};

const SDBBindingDesc kDesc = {
    "App_VirtualAppJobStats",
    1,
    "1.1.2.5",
    "Db/Tbl/App_VirtualAppJobStats.h",
    kColumns,
    13,
    kKeys,
    7,
    nullptr,
    "jobId, haldenId, vappId, clientId, replicationId, phase, appTypeId",
    kRelations,
    2,
};


}  // namespace

App_VirtualAppJobStats_t::App_VirtualAppJobStats_t()
    : jobId(0),
      haldenId(0),
      vappId(0),
      clientId(0),
      replicationId(0),
      phase(0),
      status(0),
      startTime(0),
      endTime(0),
      details(nullptr),
      appTypeId(0) {
  phaseName[0] = 0;
  strcpy_s(failureReason, sizeof(failureReason), "");
}

App_VirtualAppJobStats_t::~App_VirtualAppJobStats_t() {
  delete[] details;
  details = nullptr;
}

App_VirtualAppJobStats_t2::~App_VirtualAppJobStats_t2() = default;

const SDBBindingDesc& App_VirtualAppJobStats_t2::Desc() { return kDesc; }

App_VirtualAppJobStats::App_VirtualAppJobStats(DBtran* tran)
    : ZNDBGeneratedBinding<App_VirtualAppJobStats, App_VirtualAppJobStats_t, App_VirtualAppJobStats_t2, 13>(tran) {
}

App_VirtualAppJobStats::~App_VirtualAppJobStats() = default;

const SDBBindingDesc& App_VirtualAppJobStats::Desc() { return kDesc; }
