// Timestamp column value (zeroed while null).
#pragma once

#include "ZNDBCompositeType.h"

class ZNDB_datetime : public ZNDBCompositeType<ZNTIMESTAMP_STRUCT, 5> {
 public:
  ZNDB_datetime() = default;
  ~ZNDB_datetime() override;
};
