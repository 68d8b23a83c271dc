// Abstract base of every column value: a null flag, an update status and a
// text form. It is the library's currency for procedure inputs
// (DBtable::BindInput), so it is declared with the library; the concrete value
// classes are the system's.
#pragma once

#include <stdint.h>

#include <string>

enum UpdatedStatus : int32_t {
  NOT_UPDATED = 0,
  UPDATED = 1,
};

class ZNDBDataTypeBase {
 public:
  ZNDBDataTypeBase()
      : m_isNull(true), m_updated(NOT_UPDATED), m_flag1(false), m_flag2(false), m_indicatorByte(false), m_word(0) {}

  // Slot order: setData, clearMemoryOnNULL, setString, getStr, destructor,
  // getDataType, toString.
  virtual bool setData(char const* data, int offset, int length, bool) = 0;
  virtual void clearMemoryOnNULL() {}
  virtual void setString() const = 0;
  virtual std::string getStr() const { return m_text; }
  virtual ~ZNDBDataTypeBase() = default;
  virtual int getDataType() const = 0;
  // The text form refreshed and returned; width > 0 pads it on the left.
  virtual std::string toString(int width) const;

  // Acts only on a change: clears the indicator byte and, when the value
  // has just become null, lets the value drop its contents.
  void setInternalNull(bool null) {
    if (null == m_isNull) return;
    m_indicatorByte = false;
    m_isNull = null;
    if (null) clearMemoryOnNULL();
  }
  bool isNull() const { return m_isNull; }
  void setUpdated(UpdatedStatus status) { m_updated = status; }
  void setUpdated(int status) { m_updated = static_cast<UpdatedStatus>(status); }
  UpdatedStatus getUpdated() const { return m_updated; }
  bool getIndicatorByte() const { return m_indicatorByte; }

 protected:
  void clearIndicatorByte() { m_indicatorByte = false; }
  void setTextForm(const std::string& text) const { m_text = text; }
  void setIndicatorByte(bool on) { m_indicatorByte = on; }

 private:
  bool m_isNull;
  UpdatedStatus m_updated;
  [[maybe_unused]] bool m_flag1;
  mutable std::string m_text;
  std::string m_second;
  [[maybe_unused]] bool m_flag2;
  bool m_indicatorByte;  // cleared whenever the null flag changes or a value is stored
  [[maybe_unused]] int64_t m_word;
};
