#include "db/DBSqlText.h"

#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

long long SDBProcValue::AsInt() const { return isNull ? 0 : strtoll(text.c_str(), nullptr, 10); }

namespace {

// snprintf of one conversion into out.
template <typename T>
void AppendOne(std::string& out, const std::string& spec, bool hasWidth, int width, bool hasPrec, int prec, T value) {
  char small[256];
  int n;
  if (hasWidth && hasPrec) {
    n = snprintf(small, sizeof(small), spec.c_str(), width, prec, value);
  } else if (hasWidth || hasPrec) {
    n = snprintf(small, sizeof(small), spec.c_str(), hasWidth ? width : prec, value);
  } else {
    n = snprintf(small, sizeof(small), spec.c_str(), value);
  }
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof(small)) {
    out.append(small, static_cast<size_t>(n));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  if (hasWidth && hasPrec) {
    snprintf(&big[0], big.size(), spec.c_str(), width, prec, value);
  } else if (hasWidth || hasPrec) {
    snprintf(&big[0], big.size(), spec.c_str(), hasWidth ? width : prec, value);
  } else {
    snprintf(&big[0], big.size(), spec.c_str(), value);
  }
  out.append(big.c_str(), static_cast<size_t>(n));
}

}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

std::string CDBSqlText::FormatV(const char* fmt, va_list apIn, bool inQuote) {
  std::string out;
  if (!fmt) return out;
  va_list ap;
  va_copy(ap, apIn);
  const char* p = fmt;
  while (*p) {
    if (*p != '%') {
      if (*p == '\'') inQuote = !inQuote;
      out.push_back(*p++);
      continue;
    }
    if (p[1] == '%') {
      out.push_back('%');
      p += 2;
      continue;
    }
    const char* start = p++;
    while (*p && strchr("-+ #0", *p)) ++p;
    bool hasWidth = false, hasPrec = false;
    int width = 0, prec = 0;
    if (*p == '*') {
      hasWidth = true;
      width = va_arg(ap, int);
      ++p;
    } else {
      while (isdigit(static_cast<unsigned char>(*p))) ++p;
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        hasPrec = true;
        prec = va_arg(ap, int);
        ++p;
      } else {
        while (isdigit(static_cast<unsigned char>(*p))) ++p;
      }
    }
    std::string len;
    while (*p && strchr("hlLqjzt", *p)) len.push_back(*p++);
    char conv = *p;
    if (!conv) {
      out.append(start);
      break;
    }
    ++p;
    std::string spec(start, static_cast<size_t>(p - start));
    switch (conv) {
      case 'd':
      case 'i':
        if (len == "ll" || len == "q" || len == "L") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, long long));
        } else if (len == "l") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, long));
        } else if (len == "z") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, ptrdiff_t));
        } else if (len == "j") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, intmax_t));
        } else if (len == "t") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, ptrdiff_t));
        } else {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, int));
        }
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (len == "ll" || len == "q" || len == "L") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, unsigned long long));
        } else if (len == "l") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, unsigned long));
        } else if (len == "z") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, size_t));
        } else if (len == "j") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, uintmax_t));
        } else if (len == "t") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, size_t));
        } else {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, unsigned int));
        }
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (len == "L") {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, long double));
        } else {
          AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, double));
        }
        break;
      case 'c':
      case 's': {
        // Width and precision shape the value itself; only then are its quotes
        // doubled. Escaping first would let a precision cut a doubled quote in
        // half and leave a lone one that closes the literal.
        std::string value;
        if (conv == 'c') {
          AppendOne(value, spec, hasWidth, width, hasPrec, prec, va_arg(ap, int));
        } else {
          const char* s = va_arg(ap, const char*);
          AppendOne(value, spec, hasWidth, width, hasPrec, prec, s != nullptr ? s : "(null)");
        }
        out += inQuote ? QuoteEscape(value) : value;
        break;
      }
      case 'p':
        AppendOne(out, spec, hasWidth, width, hasPrec, prec, va_arg(ap, void*));
        break;
      case 'n':
        (void)va_arg(ap, void*);  // never written: a SQL text has no use for it
        break;
      default:
        out.append(spec);
        break;
    }
  }
  va_end(ap);
  return out;
}

#pragma GCC diagnostic pop

std::string CDBSqlText::Format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = FormatV(fmt, ap);
  va_end(ap);
  return s;
}

std::string CDBSqlText::QuoteEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out;
}

std::string CDBSqlText::QuoteLiteral(const std::string& text) { return "'" + QuoteEscape(text) + "'"; }

namespace {

bool WordAt(const std::string& s, size_t i, const char* word) {
  size_t n = strlen(word);
  if (i + n > s.size()) return false;
  if (strncasecmp(s.c_str() + i, word, n) != 0) return false;
  if (i > 0 && (isalnum(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == '_')) return false;
  if (i + n < s.size() && (isalnum(static_cast<unsigned char>(s[i + n])) || s[i + n] == '_')) return false;
  return true;
}

size_t SkipSpace(const std::string& s, size_t i) {
  while (i < s.size() && isspace(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// Length of a "(NOLOCK)" hint (optionally with blanks inside) at i, else 0.
size_t HintAt(const std::string& s, size_t i) {
  if (s[i] != '(') return 0;
  size_t j = SkipSpace(s, i + 1);
  if (!WordAt(s, j, "NOLOCK")) return 0;
  j = SkipSpace(s, j + 6);
  if (j >= s.size() || s[j] != ')') return 0;
  return j + 1 - i;
}

}  // namespace

std::string CDBSqlText::ToSqlite(const std::string& sql) {
  std::string out;
  out.reserve(sql.size());
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'') {
      size_t j = i + 1;
      while (j < sql.size()) {
        if (sql[j] == '\'') {
          if (j + 1 < sql.size() && sql[j + 1] == '\'') {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      size_t end = j < sql.size() ? j + 1 : j;
      out.append(sql, i, end - i);
      i = end;
      continue;
    }
    if (WordAt(sql, i, "WITH")) {
      size_t j = SkipSpace(sql, i + 4);
      size_t h = j < sql.size() ? HintAt(sql, j) : 0;
      if (h) {
        out.push_back(' ');
        i = j + h;
        continue;
      }
    }
    size_t h = HintAt(sql, i);
    if (h) {
      out.push_back(' ');
      i += h;
      continue;
    }
    out.push_back(c);
    ++i;
  }

  // SELECT [DISTINCT] TOP n | TOP (n)
  size_t s0 = SkipSpace(out, 0);
  if (WordAt(out, s0, "SELECT")) {
    size_t j = SkipSpace(out, s0 + 6);
    if (WordAt(out, j, "DISTINCT")) j = SkipSpace(out, j + 8);
    if (WordAt(out, j, "TOP")) {
      size_t k = SkipSpace(out, j + 3);
      bool paren = k < out.size() && out[k] == '(';
      if (paren) k = SkipSpace(out, k + 1);
      size_t numStart = k;
      while (k < out.size() && isdigit(static_cast<unsigned char>(out[k]))) ++k;
      if (k > numStart) {
        std::string n = out.substr(numStart, k - numStart);
        if (paren) {
          k = SkipSpace(out, k);
          if (k < out.size() && out[k] == ')') ++k;
        }
        k = SkipSpace(out, k);
        out.erase(j, k - j);
        while (!out.empty() && (isspace(static_cast<unsigned char>(out.back())) || out.back() == ';')) out.pop_back();
        out += " LIMIT " + n;
      }
    }
  }
  return out;
}

bool CDBSqlText::ParseValuesClause(const std::string& clause, std::vector<SDBProcValue>& out) {
  out.clear();
  size_t i = 0;
  const size_t n = clause.size();
  if (SkipSpace(clause, 0) >= n) return true;
  while (true) {
    i = SkipSpace(clause, i);
    SDBProcValue v;
    if (i < n && clause[i] == '\'') {
      std::string text;
      size_t j = i + 1;
      bool closed = false;
      while (j < n) {
        if (clause[j] == '\'') {
          if (j + 1 < n && clause[j + 1] == '\'') {
            text.push_back('\'');
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        text.push_back(clause[j++]);
      }
      if (!closed) return false;
      v = SDBProcValue::Text(text);
      i = SkipSpace(clause, j);
    } else {
      size_t j = i;
      while (j < n && clause[j] != ',') ++j;
      std::string tok = clause.substr(i, j - i);
      while (!tok.empty() && isspace(static_cast<unsigned char>(tok.back()))) tok.pop_back();
      if (strcasecmp(tok.c_str(), "NULL") == 0) {
        v = SDBProcValue::Null();
      } else {
        v.isNull = false;
        v.isText = false;
        v.text = tok;
      }
      i = j;
    }
    out.push_back(v);
    if (i >= n) break;
    if (clause[i] != ',') return false;
    ++i;
  }
  return true;
}
