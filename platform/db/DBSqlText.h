// The SQL texts the library builds from its callers' printf-style pieces.
#pragma once

#include <stdarg.h>

#include <string>
#include <vector>

#include "core/Printf.h"

// One value of a procedure input or result cell: null, a number (kept as its
// decimal text) or a text.
struct SDBProcValue {
  bool isNull = true;
  bool isText = false;
  std::string text;

  static SDBProcValue Null() { return SDBProcValue(); }
  static SDBProcValue Text(const std::string& t) {
    SDBProcValue v;
    v.isNull = false;
    v.isText = true;
    v.text = t;
    return v;
  }
  static SDBProcValue Number(long long n) {
    SDBProcValue v;
    v.isNull = false;
    v.text = std::to_string(n);
    return v;
  }
  long long AsInt() const;
};

class CDBSqlText {
 public:
  // printf into a string. Every %s or %c whose conversion stands between
  // single quotes of the format is printed with its width and precision first,
  // then has its single quotes doubled, so a value can never close the
  // literal it was placed in; everything else prints as printf does.
  static std::string Format(const char* fmt, ...) DR_PRINTF(1, 2);
  // inQuote: the format continues a text that ends inside a literal.
  static std::string FormatV(const char* fmt, va_list ap, bool inQuote = false);

  // Doubles every single quote.
  static std::string QuoteEscape(const std::string& text);
  // 'text' with the quotes inside doubled.
  static std::string QuoteLiteral(const std::string& text);

  // Rewrites the server dialect the callers write into what SQLite runs:
  // table hints "(NOLOCK)" / "WITH (NOLOCK)" go, and a leading
  // "SELECT [DISTINCT] TOP n" becomes a trailing "LIMIT n". Quoted literals
  // are left alone.
  static std::string ToSqlite(const std::string& sql);

  // Splits a procedure's text values clause ("1,'a''b',NULL") into values,
  // undoing the quote doubling. False when a literal is not closed.
  static bool ParseValuesClause(const std::string& clause, std::vector<SDBProcValue>& out);
};
