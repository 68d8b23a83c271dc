#include "db/DBtran.h"

#include <algorithm>
#include <atomic>

#include "db/DBConnection.h"

namespace {
std::atomic<bool> g_refuse{false};
}

DBtran::DBtran() : m_active(false) {}

DBtran::~DBtran() {
  if (m_active) Rollback();
}

void DBtran::SetRefuseEnlisting(bool refuse) { g_refuse.store(refuse); }

void DBtran::addObject(DBtable* table) {
  if (g_refuse.load()) throw "transaction refused the object";
  if (table && !Contains(table)) m_objects.push_back(table);
}

bool DBtran::Contains(const DBtable* table) const {
  return std::find(m_objects.begin(), m_objects.end(), table) != m_objects.end();
}

int DBtran::Begin() {
  if (m_active) return DB_OK;
  CDBConnection* c = CDBConnection::ForThread();
  if (!c) return DB_ERROR;
  c->EnsureAllTables();
  int rc = c->BeginWrite();
  if (rc == DB_OK) m_active = true;
  return rc;
}

int DBtran::Commit() {
  if (!m_active) return DB_BAD_STATE;
  CDBConnection* c = CDBConnection::ForThread();
  if (!c) return DB_ERROR;
  int rc = c->Commit();
  if (rc == DB_OK) m_active = false;
  return rc;
}

int DBtran::Rollback() {
  if (!m_active) return DB_OK;
  m_active = false;
  CDBConnection* c = CDBConnection::ForThread();
  return c ? c->Rollback() : DB_ERROR;
}
