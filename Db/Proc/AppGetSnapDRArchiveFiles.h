// The snapshot archive files of storage-array master jobs, one row per VM,
// with each snapshot's mount state.
// Binding of the stored procedure "AppGetSnapDRArchiveFiles".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row of the output columns.
struct AppGetSnapDRArchiveFiles_t {
  int o_masterJobId;
  char o_vmName[1021];
  int o_afileId;
  int o_jobId;
  int o_vmClientId;
  char o_vmGuid[1021];
  int o_vmAppId;
  int o_mountStatus;
  int o_mountHostId;
  int o_isFailoverMount;

  AppGetSnapDRArchiveFiles_t();
  ~AppGetSnapDRArchiveFiles_t();
  AppGetSnapDRArchiveFiles_t(const AppGetSnapDRArchiveFiles_t&) = delete;
  AppGetSnapDRArchiveFiles_t& operator=(const AppGetSnapDRArchiveFiles_t&) = delete;
};

class AppGetSnapDRArchiveFiles_t2 : public ZNDBGeneratedRow<AppGetSnapDRArchiveFiles_t2> {
 public:
  AppGetSnapDRArchiveFiles_t2() = default;
  ~AppGetSnapDRArchiveFiles_t2() override;
  static const SDBBindingDesc& Desc();
};

class AppGetSnapDRArchiveFiles
    : public ZNDBGeneratedBinding<AppGetSnapDRArchiveFiles, AppGetSnapDRArchiveFiles_t, AppGetSnapDRArchiveFiles_t2, 10> {
 public:
  explicit AppGetSnapDRArchiveFiles(DBtran* tran);
  ~AppGetSnapDRArchiveFiles() override;
  static const SDBBindingDesc& Desc();
  // Typed mode binds the application id, the copy id and the text in order;
  // text mode prints them, the text quoted.
  void setValues(int appId, int copyId, char const* xml);
  void setZNDBValues(ZNDB_int* appId, ZNDB_int* copyId, ZNDB_string* xml);
};
