// The library's half of the text and timestamp value classes: how they take
// fetched bytes and how they render their text form.
#pragma once

#include <string>

#include "db/ZNTimestamp.h"

class CDBValueCodec {
 public:
  // Writes length bytes at offset into the text; the text ends after them.
  // False (text unchanged) for a negative offset or length, an offset past
  // the end of the text, or a null source with a non-zero length.
  static bool SetStringData(std::string& value, const char* data, int offset, int length);
  // Copies length bytes at offset into the timestamp; false (unchanged) when
  // the range does not lie inside it.
  static bool SetTimestampData(ZNTIMESTAMP_STRUCT& value, const char* data, int offset, int length);

  static std::string RenderString(const std::string& value) { return value; }
  // "YYYY-MM-DD HH:MM:SS.fff" (milliseconds from the nanosecond fraction).
  static std::string RenderTimestamp(const ZNTIMESTAMP_STRUCT& value);
  // Parses the rendering above (fraction optional); false when it is none.
  static bool ParseTimestamp(const std::string& text, ZNTIMESTAMP_STRUCT& value);
};
