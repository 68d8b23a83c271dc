// Text column value.
#pragma once

#include <string>

#include "ZNDBCompositeType.h"

class ZNDB_string : public ZNDBCompositeType<std::string, 6> {
 public:
  ZNDB_string() = default;
  // Not null, update status 1; a null pointer gives the empty text.
  explicit ZNDB_string(char const* text) : ZNDBCompositeType<std::string, 6>(std::string(text ? text : "")) {}
  ~ZNDB_string() override;

  // A text that becomes null drops its contents.
  void clearMemoryOnNULL() override { m_value.clear(); }
};
