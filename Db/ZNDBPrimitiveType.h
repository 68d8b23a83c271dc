// Scalar column values: a 32-bit or 64-bit integer or a float after the base
// fields. The format object prints the value into its text form.
#pragma once

#include <stdio.h>
#include <string.h>

#include <string>

#include "db/ZNDBDataTypeBase.h"
#include "db/ZNDBFormats.h"

template <typename T, const ZNDBFormat* Format, int Code>
class ZNDBPrimitiveType : public ZNDBDataTypeBase {
 public:
  // Null, update status 0.
  ZNDBPrimitiveType() : m_value() {
    setInternalNull(true);
    setUpdated(0);
  }
  // Not null, update status 1.
  explicit ZNDBPrimitiveType(T value) : m_value(value) {
    setInternalNull(false);
    setUpdated(1);
  }
  ~ZNDBPrimitiveType() override = default;

  // Copies length bytes into the value at byte offset. The range must lie
  // inside the value; anything else is refused (false) and nothing changes.
  bool setData(char const* data, int offset, int length, bool) override {
    if (!data || offset < 0 || length < 0) return false;
    if (static_cast<size_t>(offset) + static_cast<size_t>(length) > sizeof(T)) return false;
    memcpy(reinterpret_cast<char*>(&m_value) + offset, data, static_cast<size_t>(length));
    clearIndicatorByte();
    return true;
  }

  // The value printed with the format object into a 100-byte buffer (at most
  // 99 characters); a float prints as a double.
  void setString() const override {
    char buf[100];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(buf, sizeof(buf), Format->text, Promote(m_value));
#pragma GCC diagnostic pop
    setTextForm(buf);
  }

  int getDataType() const override { return Code; }
  static const ZNDBFormat* getFormatString() { return Format; }

  T getValue() const { return m_value; }
  void setValue(T value) {
    m_value = value;
    setInternalNull(false);
    setUpdated(1);
  }

 private:
  static double Promote(float v) { return static_cast<double>(v); }
  static int Promote(int v) { return v; }
  static long long Promote(long long v) { return v; }

  T m_value;
};

using ZNDB_int = ZNDBPrimitiveType<int, &ZNDB_int_format, 1>;
using ZNDB_float = ZNDBPrimitiveType<float, &ZNDB_float_format, 2>;
using ZNDB_int64 = ZNDBPrimitiveType<long long, &ZNDB___int64_format, 4>;
