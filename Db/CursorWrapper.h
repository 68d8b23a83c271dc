// Owner of one procedure binding: holds the open flag, the caller's name (the
// function label of its log lines) and the last database error text. The
// procedure's result text comes back with an XML declaration in front.
#pragma once

#include <string>

#include "db/DBtable.h"
#include "log/EvEvent.h"

#define SPROC "SProcedure"

template <class X, class X_t>
class CursorWrapper {
 public:
  CursorWrapper(char const* caller, DBtran* tran)
      : m_reserved(0), m_cursor(nullptr), m_tran(tran), m_open(false), m_caller(caller ? caller : ""), m_kind(SPROC) {}
  CursorWrapper(const CursorWrapper&) = delete;
  CursorWrapper& operator=(const CursorWrapper&) = delete;

  virtual ~CursorWrapper() {
    if (m_open) closeCursor(nullptr);
    m_open = false;
    delete m_cursor;
    m_cursor = nullptr;
  }

  X* getCursor() { return m_cursor; }
  const std::string& getErrorString() const { return m_errorText; }
  bool isOpen() const { return m_open; }
  char const* getKindText() const { return m_kind; }

  // Executes the procedure, fetches its text and closes it. 0 on success; -1
  // on the first failing step, whose database text is kept (and copied to
  // *err when given). The procedure is always closed before returning.
  int getXMLFromCursor(std::string& out, std::string* err, bool xml11, bool declaration) {
    int rc = m_cursor->ExecuteProcedure();
    if (rc != 0) return Fail(rc, err, true);
    std::string text;
    rc = m_cursor->FetchProcedureText(text);
    if (rc != 0) return Fail(rc, err, true);
    rc = m_cursor->CloseProcedure();
    if (rc != 0) return Fail(rc, err, false);
    if (!text.empty()) {
      if (!declaration) {
        out = text;
      } else if (xml11) {
        out = "<?xml version='1.1' encoding='utf-8' ?>" + text;
      } else {
        out = "<?xml version='1.0' encoding='utf-8' ?>" + text;
      }
    }
    return 0;
  }

  int closeCursor(std::string* err) {
    int rc = 0;
    if (m_open) {
      rc = m_cursor->CloseProcedure();
      if (rc != 0) {
        m_errorText = m_cursor->getErrorStr(rc);
        m_event.Debug(m_caller, "Close Cursor on [%s] %s failed. Error [%s]", m_cursor->getTableName(), m_kind,
                      m_errorText.c_str());
        if (err) *err = m_errorText;
      }
    }
    m_open = false;
    return rc;
  }

 protected:
  int Fail(int rc, std::string* err, bool close) {
    m_errorText = m_cursor->getErrorStr(rc);
    if (err) *err = m_errorText;
    if (close) m_cursor->CloseProcedure();
    return -1;
  }

  long m_reserved;
  X* m_cursor;
  DBtran* m_tran;
  bool m_open;
  char const* m_caller;
  std::string m_secondText;
  char const* m_kind;
  std::string m_errorText;
  EvEvent m_event;
};
