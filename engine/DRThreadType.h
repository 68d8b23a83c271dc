// The kind of work item a DR thread pool runs. The numbers are stored in
// work items and printed in log lines, so they are fixed.
#pragma once

#include <stdint.h>

enum DRThreadType : int32_t {
  DR_THREAD_SUBCLIENT = 0,      // one subclient (application) group
  DR_THREAD_SUB_PRIORITY = 1,   // one sub-priority run beside its siblings
  DR_THREAD_GENERIC_OP = 2,     // one machine's operation
  DR_THREAD_BREAK_VOLUME_RELATIONSHIP = 3,
  DR_THREAD_RESYNC_VOLUME_RELATIONSHIP = 4,
};
