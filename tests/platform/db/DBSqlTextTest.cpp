#include <gtest/gtest.h>

#include <stdarg.h>

#include <string>
#include <vector>

#include "core/StrcpyS.h"
#include "db/DBSqlText.h"

namespace {

std::string Continue(bool inQuote, const char* fmt, ...) DR_PRINTF(2, 3);
std::string Continue(bool inQuote, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string out = CDBSqlText::FormatV(fmt, ap, inQuote);
  va_end(ap);
  return out;
}

}  // namespace

TEST(DBSqlText, QuotedStringArgumentsHaveTheirQuotesDoubled) {
  EXPECT_EQ(CDBSqlText::Format("name = '%s'", "O'Brien"), "name = 'O''Brien'");
  EXPECT_EQ(CDBSqlText::Format("a = '%s' AND b = '%s'", "x' OR '1'='1", "y"),
            "a = 'x'' OR ''1''=''1' AND b = 'y'");
  // Outside quotes the caller placed an SQL fragment on purpose.
  EXPECT_EQ(CDBSqlText::Format("%s = 1", "col'"), "col' = 1");
  // A literal quote pair in the format does not flip the state for later values.
  EXPECT_EQ(CDBSqlText::Format("a = 'it''s' AND b = '%s'", "q'"), "a = 'it''s' AND b = 'q'''");
}

TEST(DBSqlText, WidthAndPrecisionShapeTheValueBeforeItsQuotesAreDoubled) {
  // A precision that cuts after the quote keeps it, and it is doubled.
  EXPECT_EQ(CDBSqlText::Format("a = '%.2s'", "x'yz"), "a = 'x'''");
  EXPECT_EQ(CDBSqlText::Format("a = '%.*s'", 2, "x'yz"), "a = 'x'''");
  // Padding counts the value's own characters.
  EXPECT_EQ(CDBSqlText::Format("a = '%5s'", "x'"), "a = '   x'''");
  EXPECT_EQ(CDBSqlText::Format("a = '%-5s'", "x'"), "a = 'x''   '");
  EXPECT_EQ(CDBSqlText::Format("a = '%*s'", 4, "'"), "a = '   '''");
  EXPECT_EQ(CDBSqlText::Format("a = '%*.*s'", 3, 1, "''"), "a = '  '''");
  // A single character between quotes is a value too.
  EXPECT_EQ(CDBSqlText::Format("a = '%c'", '\''), "a = ''''");
  EXPECT_EQ(CDBSqlText::Format("%c = 1", 'b'), "b = 1");
  // Whatever the shape, the literal holds exactly the shaped value.
  std::vector<SDBProcValue> v;
  ASSERT_TRUE(CDBSqlText::ParseValuesClause(
      CDBSqlText::Format("'%.2s','%5s','%-5s','%*s','%.*s','%c'", "x'yz", "x'", "x'", 3, "'", 1, "''", '\''), v));
  ASSERT_EQ(6u, v.size());
  EXPECT_EQ("x'", v[0].text);
  EXPECT_EQ("   x'", v[1].text);
  EXPECT_EQ("x'   ", v[2].text);
  EXPECT_EQ("  '", v[3].text);
  EXPECT_EQ("'", v[4].text);
  EXPECT_EQ("'", v[5].text);
}

TEST(DBSqlText, AFormatContinuingAnOpenLiteralDoublesItsQuotes) {
  EXPECT_EQ(Continue(true, "%s", "a'b"), "a''b");
  EXPECT_EQ(Continue(true, "%s' AND b = %s", "a'", "c'"), "a''' AND b = c'");
  EXPECT_EQ(Continue(false, "%s", "a'b"), "a'b");
}

TEST(DBSqlText, OtherConversionsPrintAsPrintfDoes) {
  long long big = 9000000000LL;
  EXPECT_EQ(CDBSqlText::Format("parentJobId = '%lld' and haldenId =2", big), "parentJobId = '9000000000' and haldenId =2");
  EXPECT_EQ(CDBSqlText::Format("%d|%5d|%-3d|%u|%x|%ld|%.2f|%c|%%|%*d", -7, 42, 1, 3u, 255u, 12L, 1.5, 'z', 4, 9),
            "-7|   42|1  |3|ff|12|1.50|z|%|   9");
  EXPECT_EQ(CDBSqlText::Format("'%.3s'", "abcdef"), "'abc'");
  std::string longText(1000, 'a');
  EXPECT_EQ(CDBSqlText::Format("'%s'", longText.c_str()).size(), 1002u);
}

TEST(DBSqlText, ServerDialectBecomesSqlite) {
  EXPECT_EQ(CDBSqlText::ToSqlite("select componentNameId  from APP_ClientProp(NOLOCK) A  inner join App_VM(NOLOCK) V"),
            "select componentNameId  from APP_ClientProp  A  inner join App_VM  V");
  EXPECT_EQ(CDBSqlText::ToSqlite("SELECT x FROM T WITH (NOLOCK) WHERE a = '(NOLOCK)'"),
            "SELECT x FROM T   WHERE a = '(NOLOCK)'");
  EXPECT_EQ(CDBSqlText::ToSqlite("SELECT TOP 1 jobId FROM J WHERE a = 1"), "SELECT jobId FROM J WHERE a = 1 LIMIT 1");
  EXPECT_EQ(CDBSqlText::ToSqlite("select distinct top (5) a from t;"), "select distinct a from t LIMIT 5");
  EXPECT_EQ(CDBSqlText::ToSqlite("id = 'TOP 1'"), "id = 'TOP 1'");
}

TEST(DBSqlText, ValuesClauseUndoesQuoteDoubling) {
  std::vector<SDBProcValue> v;
  ASSERT_TRUE(CDBSqlText::ParseValuesClause("1,'O''Brien', NULL ,'a,b',-3", v));
  ASSERT_EQ(v.size(), 5u);
  EXPECT_EQ(v[0].AsInt(), 1);
  EXPECT_FALSE(v[0].isText);
  EXPECT_EQ(v[1].text, "O'Brien");
  EXPECT_TRUE(v[1].isText);
  EXPECT_TRUE(v[2].isNull);
  EXPECT_EQ(v[3].text, "a,b");
  EXPECT_EQ(v[4].AsInt(), -3);
  EXPECT_TRUE(CDBSqlText::ParseValuesClause("", v));
  EXPECT_TRUE(v.empty());
  EXPECT_FALSE(CDBSqlText::ParseValuesClause("'open", v));
}

TEST(DBSqlText, StrcpySCutsAndTerminates) {
  char buf[4];
  EXPECT_EQ(strcpy_s(buf, sizeof(buf), "abc"), 0);
  EXPECT_STREQ(buf, "abc");
  EXPECT_NE(strcpy_s(buf, sizeof(buf), "abcdef"), 0);
  EXPECT_STREQ(buf, "abc");
  EXPECT_NE(strcpy_s(buf, sizeof(buf), nullptr), 0);
  EXPECT_STREQ(buf, "");
}
