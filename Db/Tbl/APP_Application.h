// The subclients: a client's application, instance and backup set.
// Binding of the table "APP_Application".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct APP_Application_t {
  int id;
  int clientId;
  int appTypeId;
  int instance;
  int backupSet;
  int appNumber;
  int dataArchGrpID;
  int logArchGrpID;
  long long refTime;
  long long modified;
  char subclientName[257];
  int subclientStatus;
  int hdpId;
  long long hdpTime;
  int origHDId;
  char GUID[65];

  APP_Application_t();
  ~APP_Application_t();
  APP_Application_t(const APP_Application_t&) = delete;
  APP_Application_t& operator=(const APP_Application_t&) = delete;
};

class APP_Application_t2 : public ZNDBGeneratedRow<APP_Application_t2> {
 public:
  APP_Application_t2() = default;
  ~APP_Application_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_Application : public ZNDBGeneratedBinding<APP_Application, APP_Application_t, APP_Application_t2, 16> {
 public:
  explicit APP_Application(DBtran* tran);
  ~APP_Application() override;
  static const SDBBindingDesc& Desc();
};
