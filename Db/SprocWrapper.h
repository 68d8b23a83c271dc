// Runs one stored procedure that answers with an XML text: construct with
// the caller's name, set the inputs on getCursor(), ask getXMLFromCursor.
#pragma once

#include "CursorWrapper.h"

template <class X, class X_t>
class SprocWrapper : public CursorWrapper<X, X_t> {
 public:
  SprocWrapper(char const* caller, DBtran* tran) : CursorWrapper<X, X_t>(caller, tran), m_word(0) {
    this->m_caller = caller ? caller : "";
    this->m_tran = tran;
    this->m_open = false;
    this->m_kind = SPROC;
    this->m_cursor = new X(tran);
    this->m_secondText.clear();
    this->m_errorText.clear();
  }
  ~SprocWrapper() override = default;

 private:
  long m_word;
};
