// What every generated row descriptor X_t2 shares: the class-wide members,
// filled once per process under the shared fill lock, and the descriptor
// operations, identical apart from the class-wide members they reach. X_t2
// derives from ZNDBGeneratedRow<X_t2> and provides static Desc().
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "ZNDBBindingDesc.h"
#include "ZNDBPrimitiveType.h"
#include "ZNDBRowBase.h"
#include "ZNDB_datetime.h"
#include "ZNDB_string.h"

template <class Descriptor>
class ZNDBGeneratedRow : public ZNDBRowBase {
 public:
  ZNDBGeneratedRow() {
    const SDBBindingDesc& d = Descriptor::Desc();
    m_generated = true;
    m_columnVec.reserve(static_cast<size_t>(d.columnCount));
    for (int i = 0; i < d.columnCount; ++i) {
      // Held by the vector at once, so the base destructor frees it if a
      // later step throws.
      m_columnVec.push_back(NewValue(d.columns[i].token));
      m_columnMap[d.columns[i].name] = m_columnVec.back();
    }
    if (!s_isInitialized.load(std::memory_order_acquire)) {
      CFillLock hold(this);
      if (!s_isInitialized.load(std::memory_order_acquire)) {
        setTableName(d.name);
        m_type = d.kind;
        structSchema = fillForTime(StructDefinition().c_str());
        for (int i = 0; i < d.relationCount; ++i) {
          std::map<std::string, std::string> pair;
          pair[d.relations[i].local] = d.relations[i].foreign;
          if (d.relations[i].local2) pair[d.relations[i].local2] = d.relations[i].foreign2;
          m_foreignKeyMap[d.relations[i].name] = pair;
        }
        for (int i = 0; i < d.columnCount; ++i) pushColumnName(d.columns[i].name);
        s_isInitialized.store(true, std::memory_order_release);
      }
    }
    for (int i = 0; i < d.keyCount; ++i) m_primaryKeys.push_back(d.keys[i]);
    if (d.serial) m_serialColumn = d.serial;
  }
  ~ZNDBGeneratedRow() override = default;

  // The struct-definition string of the description: one token per column,
  // each ended by '|'.
  static std::string StructDefinition() {
    const SDBBindingDesc& d = Descriptor::Desc();
    std::string def;
    for (int i = 0; i < d.columnCount; ++i) {
      def += d.columns[i].token;
      def += '|';
    }
    return def;
  }

  char const* getColumnName_t2(int const& i) const override {
    if (i < 0 || static_cast<size_t>(i) >= m_staticColumnVec.size()) return "";
    return m_staticColumnVec[static_cast<size_t>(i)].c_str();
  }
  void pushColumnName(char const* name) override { m_staticColumnVec.push_back(name ? name : ""); }
  std::map<std::string, std::map<std::string, std::string>> getForeignKeyMap() { return m_foreignKeyMap; }
  std::string getTableName() override { return m_name; }
  void setTableName(std::string name) override { m_name = name; }

  int getSerialColNum() override {
    int pos = 0;
    for (const std::string& c : m_staticColumnVec) {
      if (c == m_serialColumn) return pos;
      ++pos;
    }
    return -1;
  }

  std::string getPrimaryWhere() override {
    std::string where;
    for (size_t i = 0; i < m_primaryKeys.size(); ++i) {
      where += m_primaryKeys[i];
      where += " = ?";
      if (i + 1 < m_primaryKeys.size()) where += "AND ";
    }
    return where;
  }

  std::vector<ZNDBDataTypeBase*> getPrimaryData() override {
    std::vector<ZNDBDataTypeBase*> data;
    for (const std::string& k : m_primaryKeys) {
      auto it = m_columnMap.find(k);
      data.push_back(it == m_columnMap.end() ? nullptr : it->second);
    }
    return data;
  }

  std::string getStructDef() override { return structSchema; }
  int getHeaderType() override { return m_type; }

  static std::string m_name;
  static int m_type;
  static std::string structSchema;
  static std::map<std::string, std::map<std::string, std::string>> m_foreignKeyMap;
  static std::vector<std::string> m_staticColumnVec;
  static std::atomic<bool> s_isInitialized;

 private:
  // Releases the fill lock on every way out, also when a step throws.
  class CFillLock {
   public:
    explicit CFillLock(ZNDBRowBase* row) : m_row(row) { m_row->lock(); }
    ~CFillLock() { m_row->unLock(); }

   private:
    ZNDBRowBase* m_row;
  };

  static ZNDBDataTypeBase* NewValue(const char* token) {
    switch (DBParseColumnToken(token).kind) {
      case 'i':
        return new ZNDB_int();
      case 'b':
      case 'x':
        return new ZNDB_int64();
      case 'f':
        return new ZNDB_float();
      case 't':
        return new ZNDB_datetime();
      default:
        return new ZNDB_string();
    }
  }
};

template <class D>
std::string ZNDBGeneratedRow<D>::m_name;
template <class D>
int ZNDBGeneratedRow<D>::m_type = 0;
template <class D>
std::string ZNDBGeneratedRow<D>::structSchema;
template <class D>
std::map<std::string, std::map<std::string, std::string>> ZNDBGeneratedRow<D>::m_foreignKeyMap;
template <class D>
std::vector<std::string> ZNDBGeneratedRow<D>::m_staticColumnVec;
template <class D>
std::atomic<bool> ZNDBGeneratedRow<D>::s_isInitialized{false};
