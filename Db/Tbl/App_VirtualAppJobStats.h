// Phase rows of DR jobs: one row per job, domain, DR group, client,
// replication, phase and application type.
// Binding of the table "App_VirtualAppJobStats".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct App_VirtualAppJobStats_t {
  int jobId;
  int haldenId;
  int vappId;
  int clientId;
  int replicationId;
  int phase;
  char phaseName[2049];
  int status;
  long long startTime;
  long long endTime;
  char* details;  // owned, null when empty: the phase's Api::VirtualAppPhaseInfo XML
  char failureReason[257];
  int appTypeId;

  App_VirtualAppJobStats_t();
  ~App_VirtualAppJobStats_t();
  App_VirtualAppJobStats_t(const App_VirtualAppJobStats_t&) = delete;
  App_VirtualAppJobStats_t& operator=(const App_VirtualAppJobStats_t&) = delete;
};

class App_VirtualAppJobStats_t2 : public ZNDBGeneratedRow<App_VirtualAppJobStats_t2> {
 public:
  App_VirtualAppJobStats_t2() = default;
  ~App_VirtualAppJobStats_t2() override;
  static const SDBBindingDesc& Desc();
};

class App_VirtualAppJobStats
    : public ZNDBGeneratedBinding<App_VirtualAppJobStats, App_VirtualAppJobStats_t, App_VirtualAppJobStats_t2, 13> {
 public:
  explicit App_VirtualAppJobStats(DBtran* tran);
  ~App_VirtualAppJobStats() override;
  static const SDBBindingDesc& Desc();
};
