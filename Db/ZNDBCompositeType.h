// Column values held as an object: a text or a timestamp after the base
// fields. How they take fetched bytes and render their text is the database
// library's (CDBValueCodec).
#pragma once

#include <string>

#include "db/DBValueCodec.h"
#include "db/ZNDBDataTypeBase.h"
#include "db/ZNTimestamp.h"

template <typename T, int Code>
class ZNDBCompositeType : public ZNDBDataTypeBase {
 public:
  ZNDBCompositeType() : m_value() {
    setInternalNull(true);
    setUpdated(0);
  }
  explicit ZNDBCompositeType(T const& value) : m_value(value) {
    setInternalNull(false);
    setUpdated(1);
  }
  ~ZNDBCompositeType() override = default;

  bool setData(char const* data, int offset, int length, bool) override;
  void setString() const override;
  std::string getStr() const override { return ZNDBDataTypeBase::getStr(); }
  int getDataType() const override { return Code; }

  const T& getValue() const { return m_value; }
  void setValue(T const& value) {
    m_value = value;
    setInternalNull(false);
    setUpdated(1);
  }

 protected:
  T m_value;
};

template <>
inline bool ZNDBCompositeType<std::string, 6>::setData(char const* data, int offset, int length, bool) {
  if (!CDBValueCodec::SetStringData(m_value, data, offset, length)) return false;
  clearIndicatorByte();
  return true;
}

template <>
inline void ZNDBCompositeType<std::string, 6>::setString() const {
  setTextForm(CDBValueCodec::RenderString(m_value));
}

template <>
inline bool ZNDBCompositeType<ZNTIMESTAMP_STRUCT, 5>::setData(char const* data, int offset, int length, bool) {
  if (!CDBValueCodec::SetTimestampData(m_value, data, offset, length)) return false;
  clearIndicatorByte();
  return true;
}

template <>
inline void ZNDBCompositeType<ZNTIMESTAMP_STRUCT, 5>::setString() const {
  setTextForm(CDBValueCodec::RenderTimestamp(m_value));
}
