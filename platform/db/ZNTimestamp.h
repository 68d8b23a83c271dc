// The timestamp layout shared with the value classes: six 16-bit parts and a
// 32-bit fraction, as ODBC lays it out.
#pragma once

#include <stdint.h>

struct ZNTIMESTAMP_STRUCT {
  int16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint32_t fraction;

  ZNTIMESTAMP_STRUCT() : year(0), month(0), day(0), hour(0), minute(0), second(0), fraction(0) {}
};
