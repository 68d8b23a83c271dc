// Base of every generated table and procedure binding: the library's table
// object. A binding tells it where its value struct's fields are
// (BindColumns, from the generated dataBindClearFirstTime), then selects,
// fetches, updates, inserts and deletes through it, or runs the procedure it
// names. Results: 0 success or a row, 100 no (more) row, negative an error
// whose text getErrorStr gives.
//
// A table object belongs to one thread; every thread reaches the database
// through its own connection.
#pragma once

#include <sqlite3.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "core/Printf.h"
#include "db/DBColumnBind.h"
#include "db/DBSqlText.h"
#include "db/ZNSimpleDBConnObject.h"

class DBtran;
class FXCriticalSection;
class ZNDBDataTypeBase;
class ZNDBRowBase;
class CDBConnection;

class DBtable {
 public:
  DBtable(char const* name, int reserved, DBtran* tran);
  virtual ~DBtable();
  DBtable(const DBtable&) = delete;
  DBtable& operator=(const DBtable&) = delete;

  // Typed binding mode when set (descriptors, bound procedure inputs), text
  // mode when clear (procedure inputs printed into the values clause).
  static bool b_newDBBase;
  // Held by every binding constructor around enlisting in a transaction. The
  // type is the system's; the object is defined there.
  static FXCriticalSection DBCriticalSection;

  void setExtIndicatorArray(void* indicators) {
    if (b_newDBBase) m_conn.setExtIndicatorArray(indicators);
  }
  const char* getTableName() const { return m_name.c_str(); }
  DBtran* getTransaction() const { return m_tran; }

  // Library column binding, called from the generated dataBindClearFirstTime:
  // the value struct, its columns in order and the indicator array (one
  // 8-byte indicator per column; -1 marks NULL, else the data length).
  void BindColumns(void* row, const SDBColumnBind* columns, int count, long long* indicators);
  // From the generated dataBindClear.
  void UnbindColumns();

  void setOrderBy(char const* orderBy);
  // WHERE clause of the next select, update or delete. A %s placed between
  // single quotes has its quotes doubled.
  void setWhere(char const* format, ...) DR_PRINTF(2, 3);
  void setTop(int n);
  // Accepted for compatibility: reads see committed data whatever is asked.
  void setIsolationType(int type) { m_isolation = type; }
  const std::string& getWhere() const { return m_where; }

  // UPDATE ... SET <text> WHERE <where>: 0 done, 100 no row matched.
  int rowUpdate(char const* format, ...) DR_PRINTF(2, 3);
  // Inserts the value struct; the serial column is assigned by the database
  // and written back into the serial field. 0 done.
  int rowInsert(bool);
  // Deletes the rows of the WHERE clause (at most the top n when setTop was
  // given): 0 done, 100 none matched.
  int rowDelete();

  // Row count of the current select.
  int openCursor();
  int getRowCount() const { return m_rowCount; }
  int closeCursor();

  std::string getErrorStr(int code) const;

  // Stored procedures: execute (with the bound inputs or the values clause),
  // fetch the single text result, close. 0 on success.
  virtual int ExecuteProcedure();
  virtual int FetchProcedureText(std::string& text);
  virtual int CloseProcedure();

  // Typed procedure inputs. The table owns what is bound: ClearBoundInputs
  // deletes the inputs bound so far, the destructor the rest.
  void ClearBoundInputs();
  void BindInput(ZNDBDataTypeBase* value);
  size_t BoundInputCount() const { return m_inputs.size(); }
  const std::vector<ZNDBDataTypeBase*>& BoundInputs() const { return m_inputs; }

  // Text-mode values clause: reserve room, then append printf-style.
  void valuesClauseCheck(unsigned long n);
  void CallDBsprintfWrapper(char const* format, ...) DR_PRINTF(2, 3);
  const std::string& getValuesClause() const { return m_values; }
  size_t getValuesReserved() const { return m_valuesReserved; }

  // What the generated constructor set.
  int getKind() const { return m_kind; }
  char const* getSelectList() const { return m_selectList; }
  char const* getSerialName() const { return m_serialName; }
  void* getSerialField() const { return m_serialField; }
  char const* getDescription() const { return m_description; }
  char const* getVersion() const { return m_version; }
  const std::string& getOrderBy() const { return m_orderBy; }
  ZNDBRowBase* getDescriptor() const { return m_descriptor; }
  bool getInputsBound() const { return m_inputsBound; }
  void* getExtIndicatorArray() const { return m_conn.getExtIndicatorArray(); }

  // Library fetch entry points (see getOneRow / getNextRow).
  int FetchOne();
  int FetchNext(int* state);

 protected:
  // Base members the generated constructors set.
  int m_kind;                    // 1 table, 2 procedure
  char const* m_selectList;      // column names joined by ", "
  char m_version[21];            // procedures
  char const* m_serialName;      // tables: "" when none; procedures: null
  void* m_serialField;           // the serial column's field in the value struct
  long long m_word;
  char const* m_description;     // "Table X" / "Procedure X"
  ZNDBRowBase* m_descriptor;     // typed mode only; owned by the binding
  bool m_inputsBound;            // procedures, typed mode

 private:
  CDBConnection* Connection();
  std::string SelectSql(bool countOnly) const;
  std::string WhereSql() const;
  int RunWrite(const std::string& sql, bool bindRow, bool& changed);
  int BindRowParams(sqlite3_stmt* stmt, int& index);
  std::string RowLiterals() const;
  void StoreRow(const std::vector<SDBProcValue>& cells);
  void ReadRow(sqlite3_stmt* stmt);
  int StartSelect();
  int StepSelect();
  void EndSelect();
  int RunProcedure();
  int SetError(int code, const std::string& text);

  std::string m_name;
  DBtran* m_tran;
  ZNSimpleDBConnObject m_conn;
  std::string m_where;
  std::string m_orderBy;
  int m_top;
  int m_isolation;
  void* m_row;
  std::vector<SDBColumnBind> m_columns;
  long long* m_indicators;
  sqlite3_stmt* m_select;
  int m_rowCount;
  bool m_cursorOpen;
  // Procedures.
  std::vector<ZNDBDataTypeBase*> m_inputs;
  std::string m_values;
  size_t m_valuesReserved;
  bool m_executed;
  std::vector<std::vector<SDBProcValue>> m_procRows;
  size_t m_procNext;
  // Last error.
  int m_lastError;
  std::string m_lastErrorText;
};

// Runs the binding's select and fetches its first row into the value struct:
// 0 a row, 100 none, negative an error.
int getOneRow(DBtable* table, bool, int, int);
// Row by row: with *state 0 the select (re)starts from its first row and
// *state becomes non-zero; later calls continue. 0 a row, 100 no more rows,
// negative an error.
int getNextRow(DBtable* table, int* state, int, int);
