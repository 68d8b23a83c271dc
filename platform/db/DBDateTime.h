// The value-struct field of a date-time ('t') column.
#pragma once

#include <stdint.h>

struct DB_DATETIME {
  int16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint32_t fraction;
  char text[40];
  uint8_t flag;

  DB_DATETIME() { clear(); }
  ~DB_DATETIME() {}

  void clear() {
    year = 0;
    month = day = hour = minute = second = 0;
    fraction = 0;
    text[0] = 0;
    flag = 0;
  }
};
