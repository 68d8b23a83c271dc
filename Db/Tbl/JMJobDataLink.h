// Links of parent jobs to their child jobs: one row per Halden, parent job and
// child job. Link type 7 ties a backup job to its VM child jobs.
// Binding of the table "JMJobDataLink".
#pragma once

#include "Db/ZNDBGeneratedBinding.h"
#include "Db/ZNDBGeneratedRow.h"

// One row.
struct JMJobDataLink_t {
  int haldenId = 0;
  int parentJobId = 0;
  int childJobId = 0;
  int parentAppid = 0;
  int childAppid = 0;
  int linkType = 0;
  int childJobStatus = 0;
};

class JMJobDataLink_t2 : public ZNDBGeneratedRow<JMJobDataLink_t2> {
 public:
  JMJobDataLink_t2() = default;
  ~JMJobDataLink_t2() override;
  static const SDBBindingDesc& Desc();
};

class JMJobDataLink
    : public ZNDBGeneratedBinding<JMJobDataLink, JMJobDataLink_t, JMJobDataLink_t2, 7> {
 public:
  explicit JMJobDataLink(DBtran* tran);
  ~JMJobDataLink() override;
  static const SDBBindingDesc& Desc();
};
