// The array replica groups (volume relationships) of a storage copy, one row
// per group, with the storage policy, both arrays and paths and the
// destination's control host.
// Binding of the stored procedure "MM_SMNetAppOpenReplReport".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row of the output columns.
struct MM_SMNetAppOpenReplReport_t {
  char o_spName[1021];
  char o_copyName[1021];
  char o_copyType[1021];
  char o_clientName[1021];
  char o_subclientName[1021];
  char o_relationshipId[1021];
  char o_relationshipType[1021];
  char o_sourcePath[1021];
  char o_sourceArray[1021];
  char o_targetPath[1021];
  char o_targetArray[1021];
  int o_snapCount;
  int o_subclientId;
  int o_copyId;
  int o_replicaGroupId;
  int o_storagePolicyId;
  int o_defaultSPCopy;
  int o_controlHostId;
  int o_replicaPairId;

  MM_SMNetAppOpenReplReport_t();
  ~MM_SMNetAppOpenReplReport_t();
  MM_SMNetAppOpenReplReport_t(const MM_SMNetAppOpenReplReport_t&) = delete;
  MM_SMNetAppOpenReplReport_t& operator=(const MM_SMNetAppOpenReplReport_t&) = delete;
};

class MM_SMNetAppOpenReplReport_t2 : public ZNDBGeneratedRow<MM_SMNetAppOpenReplReport_t2> {
 public:
  MM_SMNetAppOpenReplReport_t2() = default;
  ~MM_SMNetAppOpenReplReport_t2() override;
  static const SDBBindingDesc& Desc();
};

class MM_SMNetAppOpenReplReport
    : public ZNDBGeneratedBinding<MM_SMNetAppOpenReplReport, MM_SMNetAppOpenReplReport_t, MM_SMNetAppOpenReplReport_t2,
                                  19> {
 public:
  explicit MM_SMNetAppOpenReplReport(DBtran* tran);
  ~MM_SMNetAppOpenReplReport() override;
  static const SDBBindingDesc& Desc();
  // Typed mode binds the text as one value; text mode prints it quoted.
  void setValues(char const* xml);
  void setZNDBValues(ZNDB_string* xml);
};
