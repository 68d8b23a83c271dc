// The clients of the domain.
// Binding of the table "APP_Client".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct APP_Client_t {
  int id;
  char name[511];
  int simOperatingSystemId;
  char net_hostname[511];
  char client_password[511];
  long long refTime;
  long long modified;
  int offlineEntity;
  long long offlineTimeStamp;
  char dhHostName[511];
  char* clientDescription;  // owned, null when empty
  char jobResultDir[511];
  int clientSkewTime;
  int zndPort;
  int evclientPort;
  int status;
  int releaseId;
  int spaceCheckFlags;
  int hdpId;
  long long hdpTime;
  int origHDId;
  char GUID[65];
  int specialClientFlags;
  char displayName[511];

  APP_Client_t();
  ~APP_Client_t();
  APP_Client_t(const APP_Client_t&) = delete;
  APP_Client_t& operator=(const APP_Client_t&) = delete;
};

class APP_Client_t2 : public ZNDBGeneratedRow<APP_Client_t2> {
 public:
  APP_Client_t2() = default;
  ~APP_Client_t2() override;
  static const SDBBindingDesc& Desc();
};

class APP_Client : public ZNDBGeneratedBinding<APP_Client, APP_Client_t, APP_Client_t2, 24> {
 public:
  explicit APP_Client(DBtran* tran);
  ~APP_Client() override;
  static const SDBBindingDesc& Desc();
};
