// The part every generated binding X shares: the constructor and destructor
// sequences, the value struct and its indicator array, and the library's
// column binding. X derives from ZNDBGeneratedBinding<X, X_t, X_t2, N> (N:
// the number of indicators, the columns of a table or the output columns of
// a procedure) and provides static Desc().
#pragma once

#include <stdint.h>
#include <string.h>

#include <array>
#include <string>

#include "FXCriticalSection.h"
#include "ZNDBBindingDesc.h"
#include "core/StrcpyS.h"
#include "db/DBConnection.h"
#include "db/DBtable.h"
#include "db/DBtran.h"
#include "db/LogError.h"

template <class X, class Row, class Descriptor, size_t N>
class ZNDBGeneratedBinding : public DBtable {
 public:
  explicit ZNDBGeneratedBinding(DBtran* tran)
      : DBtable(X::Desc().name, 0, tran), m_versionText(X::Desc().version), m_data(), m_indicators() {
    const SDBBindingDesc& d = X::Desc();
    m_kind = d.kind;
    m_selectList = SelectList().c_str();
    m_description = Description().c_str();
    if (d.kind == 1) {
      m_serialName = d.serial ? d.serial : "";
      m_serialField = SerialField();
      m_word = 0;
      setOrderBy(d.orderBy ? d.orderBy : "");
    } else {
      m_serialName = nullptr;
      m_serialField = nullptr;
    }
    dataBindClearFirstTime();
    if (d.kind == 1 || N > 0) setExtIndicatorArray(m_indicators.data());
    m_descriptor = DBtable::b_newDBBase ? new Descriptor() : nullptr;
    if (d.kind == 2) strcpy_s(m_version, sizeof(m_version), d.version);
    Enlist(tran);
  }

  ~ZNDBGeneratedBinding() override {
    dataBindClear();
    delete m_descriptor;
    m_descriptor = nullptr;
  }

  // The current row after a fetch, the row to write before an insert.
  Row* getDataPtr() { return &m_data; }
  char const* getVersionText() const { return m_versionText; }
  const long long* getIndicators() const { return m_indicators.data(); }
  Descriptor* getRowDescriptor() const { return static_cast<Descriptor*>(m_descriptor); }

  // The column names joined by ", " (the output columns of a procedure).
  static const std::string& SelectList() {
    static const std::string list = [] {
      const SDBBindingDesc& d = X::Desc();
      std::string s;
      for (int i = 0; i < d.columnCount; ++i) {
        if (i) s += ", ";
        s += d.columns[i].name;
      }
      return s;
    }();
    return list;
  }
  static const std::string& Description() {
    static const std::string text = std::string(X::Desc().kind == 1 ? "Table " : "Procedure ") + X::Desc().name;
    return text;
  }

  // The library's column binding of the value struct.
  void dataBindClearFirstTime() {
    const SDBBindingDesc& d = X::Desc();
    BindColumns(&m_data, d.columns, d.columnCount, N > 0 ? m_indicators.data() : nullptr);
  }
  void dataBindClear() { UnbindColumns(); }

 protected:
  char const* m_versionText;
  Row m_data;
  std::array<long long, N> m_indicators;

 private:
  void* SerialField() {
    const SDBBindingDesc& d = X::Desc();
    if (!d.serial) return nullptr;
    for (int i = 0; i < d.columnCount; ++i) {
      if (strcmp(d.columns[i].name, d.serial) == 0) return reinterpret_cast<char*>(&m_data) + d.columns[i].offset;
    }
    return nullptr;
  }

  // Enlisting happens under the process-wide section. When the section
  // could not be taken, the object neither enlists nor releases what it does
  // not hold.
  void Enlist(DBtran* tran) {
    const SDBBindingDesc& d = X::Desc();
    if (!DBtable::DBCriticalSection.LockChecked()) {
      if (tran) {
        log_error(d.header, __LINE__, "%s Constructor [0x%08lx], could not lock the transaction section", d.name,
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
      }
      return;
    }
    if (tran) {
      try {
        tran->addObject(this);
      } catch (...) {
        log_error(d.header, __LINE__, "%s Constructor [0x%08lx], caught an exception", d.name,
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(this)));
      }
    }
    DBtable::DBCriticalSection.Unlock();
  }
};
