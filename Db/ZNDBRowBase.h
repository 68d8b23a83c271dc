// Base of every generated row descriptor: a table's columns in order with
// their value objects, its key and serial columns. One instance per binding
// object (typed mode only); the class-wide description lives in each
// generated descriptor class.
#pragma once

#include <map>
#include <string>
#include <vector>

class ZNDBDataTypeBase;
class ZNSimpleDBSem;

class ZNDBRowBase {
 public:
  ZNDBRowBase();
  ZNDBRowBase(const ZNDBRowBase&) = delete;

  // The class-wide fill lock shared by all descriptor classes.
  virtual void lock();
  virtual void unLock();
  // Deletes every value object, then the row semaphore.
  virtual ~ZNDBRowBase();
  virtual std::string getColumnName(int const& i);
  // A copy of the value objects in column order.
  virtual std::vector<ZNDBDataTypeBase*> getData();
  virtual int getSerialColNum() = 0;
  virtual std::string getTableName() = 0;
  virtual std::string getPrimaryWhere() = 0;
  virtual std::vector<ZNDBDataTypeBase*> getPrimaryData() = 0;
  virtual std::string getStructDef();
  virtual void setTableName(std::string name) = 0;
  // "" for a position outside the column list.
  virtual char const* getColumnName_t2(int const& i) const = 0;
  virtual void pushColumnName(char const* name) = 0;
  virtual int getHeaderType();
  virtual int searchForeignKey(std::string name);
  // Copies nothing.
  virtual ZNDBRowBase& operator=(ZNDBRowBase& other);

  // def with every 'x' turned into 'b': time columns reach the database as
  // 64-bit integers.
  static std::string fillForTime(char const* def);

  // Shared by every descriptor class; one permit.
  static ZNSimpleDBSem* s_semColumnVec;

  bool isGenerated() const { return m_generated; }
  const std::map<std::string, ZNDBDataTypeBase*>& getColumnMap() const { return m_columnMap; }
  const std::vector<std::string>& getPrimaryKeys() const { return m_primaryKeys; }
  const std::string& getSerialColumn() const { return m_serialColumn; }

 protected:
  bool m_generated;
  std::map<std::string, ZNDBDataTypeBase*> m_columnMap;
  std::vector<ZNDBDataTypeBase*> m_columnVec;
  std::string m_serialColumn;
  std::vector<std::string> m_primaryKeys;
  ZNSimpleDBSem* m_rowSem;
};
