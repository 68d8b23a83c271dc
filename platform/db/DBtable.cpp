#include "db/DBtable.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "core/StrcpyS.h"
#include "db/DBConnection.h"
#include "db/DBDateTime.h"
#include "db/DBProcRegistry.h"
#include "db/DBValueCodec.h"
#include "db/DBtran.h"
#include "db/ZNDBDataTypeBase.h"

bool DBtable::b_newDBBase = true;

namespace {

// A row's date-time field as the codec's timestamp.
ZNTIMESTAMP_STRUCT TimestampOf(const char* field) {
  const DB_DATETIME* d = reinterpret_cast<const DB_DATETIME*>(field);
  ZNTIMESTAMP_STRUCT ts;
  ts.year = d->year;
  ts.month = d->month;
  ts.day = d->day;
  ts.hour = d->hour;
  ts.minute = d->minute;
  ts.second = d->second;
  ts.fraction = d->fraction;
  return ts;
}

const long long kNullData = -1;

std::string Quoted(const char* name) { return std::string("\"") + name + "\""; }

}  // namespace

DBtable::DBtable(char const* name, int, DBtran* tran)
    : m_kind(1),
      m_selectList(""),
      m_serialName(""),
      m_serialField(nullptr),
      m_word(0),
      m_description(""),
      m_descriptor(nullptr),
      m_inputsBound(false),
      m_name(name ? name : ""),
      m_tran(tran),
      m_top(0),
      m_isolation(0),
      m_row(nullptr),
      m_indicators(nullptr),
      m_select(nullptr),
      m_rowCount(0),
      m_cursorOpen(false),
      m_valuesReserved(0),
      m_executed(false),
      m_procNext(0),
      m_lastError(0) {
  m_version[0] = 0;
}

DBtable::~DBtable() {
  EndSelect();
  ClearBoundInputs();
}

int DBtable::SetError(int code, const std::string& text) {
  m_lastError = code;
  m_lastErrorText = text;
  return code;
}

CDBConnection* DBtable::Connection() {
  CDBConnection* c = CDBConnection::ForThread();
  if (!c) {
    SetError(DB_ERROR, "cannot open the management database " + CDBConnection::Path());
    return nullptr;
  }
  if (m_kind == 1) {
    int rc = c->EnsureTable(m_name);
    if (rc != DB_OK) {
      SetError(rc, c->LastErrorText());
      return nullptr;
    }
  }
  return c;
}

void DBtable::BindColumns(void* row, const SDBColumnBind* columns, int count, long long* indicators) {
  m_row = row;
  m_columns.assign(columns, columns + (count > 0 ? count : 0));
  m_indicators = indicators;
}

void DBtable::UnbindColumns() {
  EndSelect();
  m_row = nullptr;
  m_columns.clear();
  m_indicators = nullptr;
}

void DBtable::setOrderBy(char const* orderBy) { m_orderBy = orderBy ? orderBy : ""; }

void DBtable::setWhere(char const* format, ...) {
  va_list ap;
  va_start(ap, format);
  m_where = CDBSqlText::FormatV(format, ap);
  va_end(ap);
}

void DBtable::setTop(int n) { m_top = n; }

std::string DBtable::WhereSql() const {
  if (m_where.find_first_not_of(" \t\r\n") == std::string::npos) return std::string();
  return " WHERE " + CDBSqlText::ToSqlite(m_where);
}

std::string DBtable::SelectSql(bool countOnly) const {
  std::string list;
  if (m_selectList && *m_selectList) {
    list = m_selectList;
  } else {
    for (size_t i = 0; i < m_columns.size(); ++i) {
      if (i) list += ", ";
      list += m_columns[i].name;
    }
  }
  std::string sql = "SELECT " + (countOnly ? std::string("1") : list) + " FROM " + Quoted(m_name.c_str()) + WhereSql();
  if (!countOnly && !m_orderBy.empty()) sql += " ORDER BY " + m_orderBy;
  if (m_top > 0) sql += " LIMIT " + std::to_string(m_top);
  if (countOnly) sql = "SELECT COUNT(*) FROM (" + sql + ")";
  return sql;
}

void DBtable::EndSelect() {
  // Selects are never cached, and finalising needs no connection object (a
  // connection closed meanwhile stays usable until its statements are gone).
  if (m_select) sqlite3_finalize(m_select);
  m_select = nullptr;
}

int DBtable::StartSelect() {
  EndSelect();
  if (m_kind != 1) return SetError(DB_BAD_STATE, "not a table: " + m_name);
  CDBConnection* c = Connection();
  if (!c) return m_lastError;
  m_select = c->Prepare(SelectSql(false), false);
  if (!m_select) return SetError(c->LastErrorCode(), c->LastErrorText());
  return DB_OK;
}

int DBtable::StepSelect() {
  if (!m_select) return DB_NO_ROW;
  int rc = sqlite3_step(m_select);
  if (rc == SQLITE_ROW) {
    ReadRow(m_select);
    return DB_OK;
  }
  if (rc == SQLITE_DONE) {
    EndSelect();
    return DB_NO_ROW;
  }
  int code = CDBConnection::ResultCode(rc);
  SetError(code, sqlite3_errmsg(sqlite3_db_handle(m_select)));
  EndSelect();
  return code;
}

void DBtable::ReadRow(sqlite3_stmt* stmt) {
  std::vector<SDBProcValue> cells(m_columns.size());
  int n = sqlite3_column_count(stmt);
  for (size_t i = 0; i < m_columns.size() && static_cast<int>(i) < n; ++i) {
    int col = static_cast<int>(i);
    if (sqlite3_column_type(stmt, col) == SQLITE_NULL) continue;  // stays null
    char kind = DBParseColumnToken(m_columns[i].token).kind;
    if (kind == 'i' || kind == 'b' || kind == 'x') {
      cells[i] = SDBProcValue::Number(sqlite3_column_int64(stmt, col));
    } else {
      const unsigned char* t = sqlite3_column_text(stmt, col);
      int len = sqlite3_column_bytes(stmt, col);
      cells[i] = SDBProcValue::Text(std::string(t ? reinterpret_cast<const char*>(t) : "", static_cast<size_t>(len)));
    }
  }
  StoreRow(cells);
}

void DBtable::StoreRow(const std::vector<SDBProcValue>& cells) {
  if (!m_row) return;
  for (size_t i = 0; i < m_columns.size(); ++i) {
    const SDBColumnBind& c = m_columns[i];
    SDBColumnType t = DBParseColumnToken(c.token);
    char* field = static_cast<char*>(m_row) + c.offset;
    const SDBProcValue* v = i < cells.size() ? &cells[i] : nullptr;
    bool null = !v || v->isNull;
    long long ind = kNullData;
    switch (t.kind) {
      case 'i': {
        int32_t x = null ? 0 : static_cast<int32_t>(v->AsInt());
        memcpy(field, &x, sizeof(x));
        if (!null) ind = sizeof(x);
        break;
      }
      case 'b':
      case 'x': {
        int64_t x = null ? 0 : static_cast<int64_t>(v->AsInt());
        memcpy(field, &x, sizeof(x));
        if (!null) ind = sizeof(x);
        break;
      }
      case 'f': {
        float x = null ? 0.0f : static_cast<float>(strtod(v->text.c_str(), nullptr));
        memcpy(field, &x, sizeof(x));
        if (!null) ind = sizeof(x);
        break;
      }
      case 't': {
        DB_DATETIME* d = reinterpret_cast<DB_DATETIME*>(field);
        d->clear();
        if (!null) {
          ZNTIMESTAMP_STRUCT ts;
          CDBValueCodec::ParseTimestamp(v->text, ts);
          d->year = ts.year;
          d->month = ts.month;
          d->day = ts.day;
          d->hour = ts.hour;
          d->minute = ts.minute;
          d->second = ts.second;
          d->fraction = ts.fraction;
          strcpy_s(d->text, sizeof(d->text), v->text.c_str());
          ind = static_cast<long long>(sizeof(ZNTIMESTAMP_STRUCT));
        }
        break;
      }
      default: {
        if (t.size == 0) {
          char** p = reinterpret_cast<char**>(field);
          delete[] *p;
          *p = nullptr;
          if (!null) {
            if (!v->text.empty()) {
              *p = new char[v->text.size() + 1];
              memcpy(*p, v->text.c_str(), v->text.size() + 1);
            }
            ind = static_cast<long long>(v->text.size());
          }
        } else {
          if (null) {
            field[0] = 0;
          } else {
            strcpy_s(field, t.size, v->text.c_str());
            ind = static_cast<long long>(strlen(field));
          }
        }
        break;
      }
    }
    if (m_indicators) m_indicators[i] = ind;
  }
}

// Inserted columns: all but the serial column, unless the caller set the
// serial field to an id of its own.
namespace {
bool SkipColumn(const SDBColumnBind& c, const char* serialName, const void* serialField) {
  if (!serialName || !*serialName || strcmp(c.name, serialName) != 0) return false;
  int32_t v = 0;
  if (serialField) memcpy(&v, serialField, sizeof(v));
  return v == 0;
}
}  // namespace

int DBtable::BindRowParams(sqlite3_stmt* stmt, int& index) {
  for (const SDBColumnBind& c : m_columns) {
    if (SkipColumn(c, m_serialName, m_serialField)) continue;
    SDBColumnType t = DBParseColumnToken(c.token);
    const char* field = static_cast<const char*>(m_row) + c.offset;
    int rc = SQLITE_OK;
    switch (t.kind) {
      case 'i': {
        int32_t x;
        memcpy(&x, field, sizeof(x));
        rc = sqlite3_bind_int(stmt, index, x);
        break;
      }
      case 'b':
      case 'x': {
        int64_t x;
        memcpy(&x, field, sizeof(x));
        rc = sqlite3_bind_int64(stmt, index, x);
        break;
      }
      case 'f': {
        float x;
        memcpy(&x, field, sizeof(x));
        rc = sqlite3_bind_double(stmt, index, x);
        break;
      }
      case 't': {
        std::string s = CDBValueCodec::RenderTimestamp(TimestampOf(field));
        rc = sqlite3_bind_text(stmt, index, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
        break;
      }
      default: {
        const char* s = t.size == 0 ? *reinterpret_cast<char* const*>(field) : field;
        if (!s) {
          rc = sqlite3_bind_null(stmt, index);
        } else {
          size_t n = t.size == 0 ? strlen(s) : strnlen(s, t.size);
          rc = sqlite3_bind_text(stmt, index, s, static_cast<int>(n), SQLITE_STATIC);
        }
        break;
      }
    }
    if (rc != SQLITE_OK) return rc;
    ++index;
  }
  return SQLITE_OK;
}

std::string DBtable::RowLiterals() const {
  std::string out;
  bool first = true;
  for (const SDBColumnBind& c : m_columns) {
    if (SkipColumn(c, m_serialName, m_serialField)) continue;
    if (!first) out += ", ";
    first = false;
    SDBColumnType t = DBParseColumnToken(c.token);
    const char* field = static_cast<const char*>(m_row) + c.offset;
    switch (t.kind) {
      case 'i': {
        int32_t x;
        memcpy(&x, field, sizeof(x));
        out += std::to_string(x);
        break;
      }
      case 'b':
      case 'x': {
        int64_t x;
        memcpy(&x, field, sizeof(x));
        out += std::to_string(x);
        break;
      }
      case 'f': {
        float x;
        memcpy(&x, field, sizeof(x));
        out += CDBSqlText::Format("%.9g", static_cast<double>(x));
        break;
      }
      case 't': {
        out += CDBSqlText::QuoteLiteral(CDBValueCodec::RenderTimestamp(TimestampOf(field)));
        break;
      }
      default: {
        const char* s = t.size == 0 ? *reinterpret_cast<char* const*>(field) : field;
        if (!s) {
          out += "NULL";
        } else {
          size_t n = t.size == 0 ? strlen(s) : strnlen(s, t.size);
          out += CDBSqlText::QuoteLiteral(std::string(s, n));
        }
        break;
      }
    }
  }
  return out;
}

int DBtable::RunWrite(const std::string& sql, bool bindRow, bool& changed) {
  changed = false;
  CDBConnection* c = Connection();
  if (!c) return m_lastError;
  bool own = !(m_tran && m_tran->IsActive() && c->InTransaction());
  if (own) {
    int rc = c->BeginWrite();
    if (rc != DB_OK) return SetError(rc, c->LastErrorText());
  }
  sqlite3_stmt* stmt = c->Prepare(sql, bindRow);
  if (!stmt) {
    int code = SetError(c->LastErrorCode(), c->LastErrorText());
    if (own) c->Rollback();
    return code;
  }
  int rc = SQLITE_OK;
  if (bindRow) {
    int index = 1;
    rc = BindRowParams(stmt, index);
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  int code = c->MapError(rc);
  if (code == DB_OK) {
    changed = sqlite3_changes(c->Handle()) > 0;
    if (bindRow || sql.compare(0, 6, "INSERT") == 0) {
      if (m_serialField) {
        int32_t id = static_cast<int32_t>(sqlite3_last_insert_rowid(c->Handle()));
        memcpy(m_serialField, &id, sizeof(id));
      }
    }
  } else {
    SetError(code, c->LastErrorText());
  }
  c->Release(stmt);
  if (own) {
    if (code == DB_OK) {
      code = c->Commit();
      if (code != DB_OK) {
        SetError(code, c->LastErrorText());
        c->Rollback();
      }
    } else {
      c->Rollback();
    }
  }
  return code;
}

int DBtable::rowUpdate(char const* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string set = CDBSqlText::FormatV(format, ap);
  va_end(ap);
  if (m_kind != 1) return SetError(DB_BAD_STATE, "not a table: " + m_name);
  bool changed = false;
  int rc = RunWrite("UPDATE " + Quoted(m_name.c_str()) + " SET " + CDBSqlText::ToSqlite(set) + WhereSql(), false,
                    changed);
  if (rc != DB_OK) return rc;
  return changed ? DB_OK : DB_NO_ROW;
}

int DBtable::rowInsert(bool) {
  if (m_kind != 1 || !m_row) return SetError(DB_BAD_STATE, "nothing bound to insert into " + m_name);
  std::string cols;
  std::string params;
  for (const SDBColumnBind& c : m_columns) {
    if (SkipColumn(c, m_serialName, m_serialField)) continue;
    if (!cols.empty()) {
      cols += ", ";
      params += ",";
    }
    cols += Quoted(c.name);
    params += "?";
  }
  std::string head = "INSERT INTO " + Quoted(m_name.c_str()) + " (" + cols + ") VALUES (";
  bool changed = false;
  if (b_newDBBase) return RunWrite(head + params + ")", true, changed);
  return RunWrite(head + RowLiterals() + ")", false, changed);
}

int DBtable::rowDelete() {
  if (m_kind != 1) return SetError(DB_BAD_STATE, "not a table: " + m_name);
  std::string t = Quoted(m_name.c_str());
  std::string sql;
  if (m_top > 0) {
    sql = "DELETE FROM " + t + " WHERE rowid IN (SELECT rowid FROM " + t + WhereSql() +
          (m_orderBy.empty() ? std::string() : " ORDER BY " + m_orderBy) + " LIMIT " + std::to_string(m_top) + ")";
  } else {
    sql = "DELETE FROM " + t + WhereSql();
  }
  bool changed = false;
  int rc = RunWrite(sql, false, changed);
  if (rc != DB_OK) return rc;
  return changed ? DB_OK : DB_NO_ROW;
}

int DBtable::openCursor() {
  m_rowCount = 0;
  if (m_kind != 1) return SetError(DB_BAD_STATE, "not a table: " + m_name);
  CDBConnection* c = Connection();
  if (!c) return m_lastError;
  sqlite3_stmt* s = c->Prepare(SelectSql(true), false);
  if (!s) return SetError(c->LastErrorCode(), c->LastErrorText());
  int rc = sqlite3_step(s);
  int code = c->MapError(rc);
  if (rc == SQLITE_ROW) m_rowCount = sqlite3_column_int(s, 0);
  c->Release(s);
  if (code != DB_OK) return SetError(code, c->LastErrorText());
  m_cursorOpen = true;
  return DB_OK;
}

int DBtable::closeCursor() {
  m_cursorOpen = false;
  EndSelect();
  return DB_OK;
}

std::string DBtable::getErrorStr(int code) const {
  if (code == DB_OK) return "Success";
  if (code == DB_NO_ROW) return "No more rows";
  std::string text = CDBSqlText::Format("Database error [%d]", code);
  if (code == m_lastError && !m_lastErrorText.empty()) text += ": " + m_lastErrorText;
  return text;
}

void DBtable::ClearBoundInputs() {
  for (ZNDBDataTypeBase* v : m_inputs) delete v;
  m_inputs.clear();
}

void DBtable::BindInput(ZNDBDataTypeBase* value) {
  if (value) m_inputs.push_back(value);
}

void DBtable::valuesClauseCheck(unsigned long n) {
  m_valuesReserved += n;
  m_values.reserve(m_values.size() + n);
}

void DBtable::CallDBsprintfWrapper(char const* format, ...) {
  va_list ap;
  va_start(ap, format);
  // A std::string grows as needed, so a value longer than what was reserved
  // for it never writes past the clause. The clause may be built in pieces:
  // quotes are always doubled inside literals, so an odd count means this
  // piece continues an open literal.
  const bool inQuote = std::count(m_values.begin(), m_values.end(), '\'') % 2 == 1;
  m_values += CDBSqlText::FormatV(format, ap, inQuote);
  va_end(ap);
}

int DBtable::RunProcedure() {
  m_executed = false;
  m_procRows.clear();
  m_procNext = 0;
  std::vector<SDBProcValue> inputs;
  if (!m_inputs.empty() || m_inputsBound) {
    for (ZNDBDataTypeBase* v : m_inputs) {
      if (v->isNull()) {
        inputs.push_back(SDBProcValue::Null());
        continue;
      }
      v->setString();
      int type = v->getDataType();
      if (type == 5 || type == 6) {
        inputs.push_back(SDBProcValue::Text(v->getStr()));
      } else {
        SDBProcValue n;
        n.isNull = false;
        n.text = v->getStr();
        inputs.push_back(n);
      }
    }
  } else if (!CDBSqlText::ParseValuesClause(m_values, inputs)) {
    return SetError(DB_ERROR, "malformed values clause of " + m_name);
  }
  DBProcHandler handler;
  if (!CDBProcRegistry::Find(m_name, handler)) return SetError(DB_NOT_FOUND, "no stored procedure " + m_name);
  SDBProcResult result;
  int rc = handler(inputs, result);
  if (rc != 0) {
    return SetError(DB_ERROR, CDBSqlText::Format("procedure %s failed [%d] %s", m_name.c_str(), rc,
                                                 result.error.c_str()));
  }
  m_procRows = std::move(result.rows);
  m_executed = true;
  return DB_OK;
}

int DBtable::ExecuteProcedure() {
  if (m_kind != 2) return SetError(DB_BAD_STATE, "not a procedure: " + m_name);
  int fault = CDBProcRegistry::Fault(m_name);
  if (fault == DB_PROC_FAIL_EXECUTE) return SetError(DB_ERROR, "injected execute failure of " + m_name);
  return RunProcedure();
}

int DBtable::FetchProcedureText(std::string& text) {
  if (CDBProcRegistry::Fault(m_name) == DB_PROC_FAIL_FETCH) return SetError(DB_ERROR, "injected fetch failure of " + m_name);
  if (!m_executed) return SetError(DB_BAD_STATE, "procedure " + m_name + " not executed");
  text.clear();
  if (!m_procRows.empty() && !m_procRows[0].empty() && !m_procRows[0][0].isNull) text = m_procRows[0][0].text;
  return DB_OK;
}

int DBtable::CloseProcedure() {
  CDBProcRegistry::CountClose(m_name);
  m_executed = false;
  m_procRows.clear();
  m_procNext = 0;
  m_values.clear();
  m_valuesReserved = 0;
  if (CDBProcRegistry::Fault(m_name) == DB_PROC_FAIL_CLOSE) return SetError(DB_ERROR, "injected close failure of " + m_name);
  return DB_OK;
}

int DBtable::FetchOne() {
  if (m_kind == 2) {
    if (!m_executed) {
      int rc = RunProcedure();
      if (rc != DB_OK) return rc;
    }
    if (m_procRows.empty()) return DB_NO_ROW;
    StoreRow(m_procRows[0]);
    m_procNext = 1;
    return DB_OK;
  }
  int rc = StartSelect();
  if (rc != DB_OK) return rc;
  rc = StepSelect();
  EndSelect();
  return rc;
}

int DBtable::FetchNext(int* state) {
  int dummy = 0;
  if (!state) state = &dummy;
  if (*state == 0) {
    int rc = m_kind == 2 ? RunProcedure() : StartSelect();
    if (rc != DB_OK) return rc;
    *state = 1;
  }
  if (m_kind == 2) {
    if (!m_executed || m_procNext >= m_procRows.size()) return DB_NO_ROW;
    StoreRow(m_procRows[m_procNext++]);
    return DB_OK;
  }
  return StepSelect();
}

int getOneRow(DBtable* table, bool, int, int) { return table ? table->FetchOne() : DB_BAD_STATE; }

int getNextRow(DBtable* table, int* state, int, int) { return table ? table->FetchNext(state) : DB_BAD_STATE; }
