#include "db/DBValueCodec.h"

#include <stdio.h>
#include <string.h>

bool CDBValueCodec::SetStringData(std::string& value, const char* data, int offset, int length) {
  if (offset < 0 || length < 0) return false;
  if (static_cast<size_t>(offset) > value.size()) return false;
  if (length > 0 && !data) return false;
  value.resize(static_cast<size_t>(offset));
  value.append(data ? data : "", static_cast<size_t>(length));
  return true;
}

bool CDBValueCodec::SetTimestampData(ZNTIMESTAMP_STRUCT& value, const char* data, int offset, int length) {
  if (offset < 0 || length < 0 || !data) return false;
  if (static_cast<size_t>(offset) + static_cast<size_t>(length) > sizeof(ZNTIMESTAMP_STRUCT)) return false;
  memcpy(reinterpret_cast<char*>(&value) + offset, data, static_cast<size_t>(length));
  return true;
}

std::string CDBValueCodec::RenderTimestamp(const ZNTIMESTAMP_STRUCT& v) {
  char buf[64];
  snprintf(buf, sizeof(buf), "%04d-%02u-%02u %02u:%02u:%02u.%03u", static_cast<int>(v.year),
           static_cast<unsigned>(v.month), static_cast<unsigned>(v.day), static_cast<unsigned>(v.hour),
           static_cast<unsigned>(v.minute), static_cast<unsigned>(v.second),
           static_cast<unsigned>(v.fraction / 1000000u));
  return buf;
}

bool CDBValueCodec::ParseTimestamp(const std::string& text, ZNTIMESTAMP_STRUCT& v) {
  int y = 0;
  unsigned mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  int n = sscanf(text.c_str(), "%d-%u-%u %u:%u:%u.%u", &y, &mo, &d, &h, &mi, &s, &ms);
  if (n < 3) return false;
  v.year = static_cast<int16_t>(y);
  v.month = static_cast<uint16_t>(mo);
  v.day = static_cast<uint16_t>(d);
  v.hour = static_cast<uint16_t>(n >= 4 ? h : 0);
  v.minute = static_cast<uint16_t>(n >= 5 ? mi : 0);
  v.second = static_cast<uint16_t>(n >= 6 ? s : 0);
  v.fraction = n >= 7 ? ms * 1000000u : 0;
  return true;
}
