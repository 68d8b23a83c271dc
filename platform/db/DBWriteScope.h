// A write transaction of its own unless the caller already holds one: the
// simulated stores write several rows as one change, and join the caller's
// DBtran when there is one. Rolled back unless committed.
#pragma once

#include "db/DBConnection.h"

class CDBWriteScope {
 public:
  explicit CDBWriteScope(CDBConnection* c) : m_c(c), m_own(!c->InTransaction()) {
    m_ok = !m_own || c->BeginWrite() == DB_OK;
  }
  ~CDBWriteScope() {
    if (m_own && m_ok && !m_done) m_c->Rollback();
  }
  CDBWriteScope(const CDBWriteScope&) = delete;
  CDBWriteScope& operator=(const CDBWriteScope&) = delete;

  bool Ok() const { return m_ok; }
  bool Commit() {
    m_done = true;
    return !m_own || m_c->Commit() == DB_OK;
  }

 private:
  CDBConnection* m_c;
  bool m_own;
  bool m_ok = false;
  bool m_done = false;
};
