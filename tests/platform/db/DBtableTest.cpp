// The library's table object over a hand-written binding (no descriptor).
#include <stddef.h>
#include <string.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "db/App_ExecuteSP.h"
#include "db/DBConnection.h"
#include "db/DBDateTime.h"
#include "db/DBProcRegistry.h"
#include "db/DBtable.h"
#include "db/DBtran.h"
#include "db/ZNGlobalParam.h"
#include "db/ZNSimpleDBConnObject.h"

namespace {

struct SPet {
  int id = 0;
  char name[16] = {0};
  char* note = nullptr;
  long long born = 0;
  ~SPet() { delete[] note; }
};

const SDBColumnBind kPetColumns[] = {
    {"id", "i", offsetof(SPet, id)},
    {"name", "s16", offsetof(SPet, name)},
    {"note", "s", offsetof(SPet, note)},
    {"born", "x", offsetof(SPet, born)},
};

class CPetTable : public DBtable {
 public:
  explicit CPetTable(DBtran* tran = nullptr) : DBtable("LibPet", 0, tran) {
    m_kind = 1;
    m_selectList = "id, name, note, born";
    m_serialName = "id";
    m_serialField = &m_data.id;
    setOrderBy("id");
    BindColumns(&m_data, kPetColumns, 4, m_ind);
  }
  ~CPetTable() override { UnbindColumns(); }
  SPet* getDataPtr() { return &m_data; }
  long long Indicator(int i) const { return m_ind[i]; }

 private:
  SPet m_data;
  long long m_ind[4] = {0, 0, 0, 0};
};

class CEchoProc : public DBtable {
 public:
  CEchoProc() : DBtable("LibEcho", 0, nullptr) { m_kind = 2; }
};

struct SMeasure {
  int id = 0;
  float ratio = 0.0f;
  DB_DATETIME at;
};

const SDBColumnBind kMeasureColumns[] = {
    {"id", "i", offsetof(SMeasure, id)},
    {"ratio", "f", offsetof(SMeasure, ratio)},
    {"at", "t", offsetof(SMeasure, at)},
};

class DBtableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = drtest::MakeTempDir("dbtable");
    CDBConnection::SetPath(m_dir + "/t.db");
    // The tables these bindings bind, described as a table's owner would.
    CDBConnection::RegisterTable("LibPet", kPetColumns, "id");
    CDBConnection::RegisterTable("LibMeasure", kMeasureColumns, "id");
  }
  void TearDown() override {
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    drtest::RemoveTree(m_dir);
  }
  int Insert(const char* name, const char* note, long long born) {
    CPetTable t;
    strcpy(t.getDataPtr()->name, name);
    if (note) {
      t.getDataPtr()->note = new char[strlen(note) + 1];
      strcpy(t.getDataPtr()->note, note);
    }
    t.getDataPtr()->born = born;
    EXPECT_EQ(t.rowInsert(true), 0);
    return t.getDataPtr()->id;
  }
  std::string m_dir;
};

}  // namespace

TEST_F(DBtableTest, InsertFillsTheSerialAndRowsComeBackInOrder) {
  bool saved = DBtable::b_newDBBase;
  for (bool typed : {true, false}) {
    DBtable::b_newDBBase = typed;
    CPetTable wipe;
    wipe.rowDelete();
    int a = Insert("rex", "good 'dog'", 10);
    int b = Insert("tom", nullptr, 20);
    EXPECT_GT(a, 0);
    EXPECT_EQ(b, a + 1);
    CPetTable t;
    int state = 0;
    ASSERT_EQ(getNextRow(&t, &state, -1, 0), 0);
    EXPECT_STREQ(t.getDataPtr()->name, "rex");
    EXPECT_STREQ(t.getDataPtr()->note, "good 'dog'");
    EXPECT_EQ(t.Indicator(2), 10);
    ASSERT_EQ(getNextRow(&t, &state, -1, 0), 0);
    EXPECT_STREQ(t.getDataPtr()->name, "tom");
    EXPECT_EQ(t.getDataPtr()->note, nullptr);  // the NULL after a value
    EXPECT_EQ(t.Indicator(2), -1);
    EXPECT_EQ(getNextRow(&t, &state, -1, 0), 100);
    EXPECT_EQ(getNextRow(&t, &state, -1, 0), 100);
  }
  DBtable::b_newDBBase = saved;
}

TEST_F(DBtableTest, UpdateDeleteCountAndTop) {
  Insert("a", nullptr, 1);
  Insert("b", nullptr, 2);
  Insert("c", nullptr, 3);
  CPetTable t;
  t.setWhere("born >= %d", 2);
  ASSERT_EQ(t.openCursor(), 0);
  EXPECT_EQ(t.getRowCount(), 2);
  t.closeCursor();
  EXPECT_EQ(t.rowUpdate("note = '%s'", "it's"), 0);
  t.setWhere("name = '%s'", "zzz");
  EXPECT_EQ(t.rowUpdate("born = %d", 5), 100);
  EXPECT_EQ(getOneRow(&t, false, -1, 0), 100);
  t.setWhere("born >= %d", 1);
  t.setTop(1);
  EXPECT_EQ(t.rowDelete(), 0);
  t.setTop(0);
  ASSERT_EQ(t.openCursor(), 0);
  EXPECT_EQ(t.getRowCount(), 2);
  t.setWhere("name = '%s'", "b");
  ASSERT_EQ(getOneRow(&t, false, -1, 0), 0);
  EXPECT_STREQ(t.getDataPtr()->note, "it's");
  t.setWhere("name = '%s'", "nobody");
  EXPECT_EQ(t.rowDelete(), 100);
}

TEST_F(DBtableTest, ErrorsAreTheLibrarysCodesWithText) {
  CPetTable t;
  t.setWhere("no_such_column = 1");
  int rc = getOneRow(&t, false, -1, 0);
  EXPECT_LT(rc, 0);
  EXPECT_NE(t.getErrorStr(rc).find("no_such_column"), std::string::npos);
  EXPECT_EQ(t.getErrorStr(100), "No more rows");
}

TEST_F(DBtableTest, TransactionHoldsWritesUntilCommitOrRollback) {
  {
    DBtran tran;
    ASSERT_EQ(tran.Begin(), 0);
    CPetTable t(&tran);
    tran.addObject(&t);
    strcpy(t.getDataPtr()->name, "gone");
    ASSERT_EQ(t.rowInsert(true), 0);
  }  // rolled back
  CPetTable check;
  EXPECT_EQ(getOneRow(&check, false, -1, 0), 100);
  DBtran tran;
  ASSERT_EQ(tran.Begin(), 0);
  CPetTable t(&tran);
  tran.addObject(&t);
  strcpy(t.getDataPtr()->name, "kept");
  ASSERT_EQ(t.rowInsert(true), 0);
  ASSERT_EQ(tran.Commit(), 0);
  EXPECT_EQ(getOneRow(&check, false, -1, 0), 0);
  DBtran::SetRefuseEnlisting(true);
  EXPECT_THROW(tran.addObject(&check), const char*);
  DBtran::SetRefuseEnlisting(false);
}

TEST_F(DBtableTest, DirectSqlRunsTheServerDialect) {
  Insert("rex", nullptr, 7);
  ZNSimpleDBConnObject conn;
  std::string longName(300, 'n');
  conn.setRegValueDSNSource(longName.c_str());
  EXPECT_EQ(strlen(conn.getRegValueDSNSource()), 255u);
  ASSERT_EQ(conn.OpenSQLConnection(0), 0);
  ASSERT_EQ(conn.ExecuteSQL("SELECT TOP 1 P.id, P.born FROM LibPet(NOLOCK) P WHERE P.name = 'rex'"), 0);
  ASSERT_EQ(conn.FetchRow(), 0);
  EXPECT_EQ(conn.GetColumnInt64(1), 7);
  EXPECT_EQ(conn.FetchRow(), 1);
  EXPECT_LT(conn.ExecuteSQL("SELECT nonsense FROM"), 0);
  conn.CloseSQLConnection();
}

TEST_F(DBtableTest, ProcedureInputsFromTheValuesClause) {
  std::vector<SDBProcValue> seen;
  CDBProcRegistry::Register("LibEcho", [&seen](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
    seen = in;
    out.rows.push_back({SDBProcValue::Text(in.size() > 1 ? in[1].text : "")});
    return 0;
  });
  CEchoProc p;
  p.valuesClauseCheck(4);
  p.CallDBsprintfWrapper("%d,'%s'", 5, "x' OR '1'='1 and a long tail that outgrows the reservation");
  ASSERT_EQ(p.ExecuteProcedure(), 0);
  std::string text;
  ASSERT_EQ(p.FetchProcedureText(text), 0);
  EXPECT_EQ(text, "x' OR '1'='1 and a long tail that outgrows the reservation");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].AsInt(), 5);
  EXPECT_EQ(p.CloseProcedure(), 0);
  CDBProcRegistry::Unregister("LibEcho");
  EXPECT_EQ(p.ExecuteProcedure(), DB_NOT_FOUND);
}

namespace {

// Were its last quote left alone, this tail would close its literal and turn
// the rest of the clause into "OR 1=1", matching every row.
const char kTail[] = " OR 1=1 OR name = '";
const int kTailLen = static_cast<int>(sizeof(kTail) - 1);

// One shaped %s per case, each followed by the tail cut to its full length.
struct SShapeCase {
  const char* conversion;
  std::function<void(DBtable&)> where;
  std::function<int(DBtable&)> update;
  const char* name;  // the shaped value the literal must hold
};

std::vector<SShapeCase> ShapeCases() {
  return {
      {"%.2s", [](DBtable& t) { t.setWhere("name = '%.2s' AND note = '%.*s'", "x'zz", kTailLen, kTail); },
       [](DBtable& t) { return t.rowUpdate("name = '%.2s', note = '%.*s'", "x'zz", kTailLen, kTail); }, "x'"},
      {"%5s", [](DBtable& t) { t.setWhere("name = '%5s' AND note = '%.*s'", "x'", kTailLen, kTail); },
       [](DBtable& t) { return t.rowUpdate("name = '%5s', note = '%.*s'", "x'", kTailLen, kTail); }, "   x'"},
      {"%-5s", [](DBtable& t) { t.setWhere("name = '%-5s' AND note = '%.*s'", "x'", kTailLen, kTail); },
       [](DBtable& t) { return t.rowUpdate("name = '%-5s', note = '%.*s'", "x'", kTailLen, kTail); }, "x'   "},
      {"%*s", [](DBtable& t) { t.setWhere("name = '%*s' AND note = '%.*s'", 4, "x'", kTailLen, kTail); },
       [](DBtable& t) { return t.rowUpdate("name = '%*s', note = '%.*s'", 4, "x'", kTailLen, kTail); }, "  x'"},
      {"%.*s", [](DBtable& t) { t.setWhere("name = '%.*s' AND note = '%.*s'", 3, "ab'cd", kTailLen, kTail); },
       [](DBtable& t) { return t.rowUpdate("name = '%.*s', note = '%.*s'", 3, "ab'cd", kTailLen, kTail); }, "ab'"},
  };
}

}  // namespace

TEST_F(DBtableTest, ShapedValuesInAWhereClauseMatchOnlyTheirRow) {
  // Every case's row, and decoys that a literal closed early would catch.
  std::map<std::string, int> ids;
  for (const SShapeCase& c : ShapeCases()) ids[c.name] = Insert(c.name, kTail, 1);
  Insert("x'", "other", 2);
  Insert("x", kTail, 3);
  Insert("a", "plain", 4);
  for (const SShapeCase& c : ShapeCases()) {
    SCOPED_TRACE(c.conversion);
    CPetTable t;
    c.where(t);
    ASSERT_EQ(t.openCursor(), 0) << t.getWhere();
    EXPECT_EQ(t.getRowCount(), 1) << t.getWhere();
    t.closeCursor();
    ASSERT_EQ(getOneRow(&t, false, -1, 0), 0);
    EXPECT_EQ(t.getDataPtr()->id, ids[c.name]);
    EXPECT_STREQ(t.getDataPtr()->note, kTail);
  }
}

TEST_F(DBtableTest, ShapedValuesInAnUpdateChangeOnlyTheChosenRow) {
  for (const SShapeCase& c : ShapeCases()) {
    SCOPED_TRACE(c.conversion);
    CPetTable wipe;
    wipe.rowDelete();
    int a = Insert("a", "keep", 1);
    int b = Insert("b", "keep", 2);
    int d = Insert("d", "keep", 3);
    CPetTable t;
    t.setWhere("name = '%s'", "b");
    ASSERT_EQ(c.update(t), 0);
    CPetTable all;
    int state = 0;
    std::map<int, std::pair<std::string, std::string>> rows;
    while (getNextRow(&all, &state, -1, 0) == 0) {
      rows[all.getDataPtr()->id] = {all.getDataPtr()->name, all.getDataPtr()->note ? all.getDataPtr()->note : ""};
    }
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[a], std::make_pair(std::string("a"), std::string("keep")));
    EXPECT_EQ(rows[b], std::make_pair(std::string(c.name), std::string(kTail)));
    EXPECT_EQ(rows[d], std::make_pair(std::string("d"), std::string("keep")));
  }
}

TEST_F(DBtableTest, ShapedValuesInTheValuesClauseStayInTheirLiteral) {
  std::vector<SDBProcValue> seen;
  CDBProcRegistry::Register("LibEcho", [&seen](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
    seen = in;
    out.rows.push_back({SDBProcValue::Text("")});
    return 0;
  });
  {
    CEchoProc p;
    p.CallDBsprintfWrapper("%d,'%.2s','%5s','%-5s','%*s','%.*s','%.*s'", 9, "x'zz", "x'", "x'", 4, "x'", 3, "ab'cd",
                           kTailLen, kTail);
    ASSERT_EQ(p.ExecuteProcedure(), 0);
    ASSERT_EQ(seen.size(), 7u) << p.getValuesClause();
    EXPECT_EQ(seen[0].AsInt(), 9);
    const char* expected[] = {"x'", "   x'", "x'   ", "  x'", "ab'", kTail};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(seen[i + 1].text, expected[i]);
    p.CloseProcedure();
  }
  {
    // A literal opened by one piece and filled by the next.
    CEchoProc p;
    p.CallDBsprintfWrapper("%d,'", 1);
    p.CallDBsprintfWrapper("%.*s", kTailLen, kTail);
    p.CallDBsprintfWrapper("'");
    ASSERT_EQ(p.ExecuteProcedure(), 0);
    ASSERT_EQ(seen.size(), 2u) << p.getValuesClause();
    EXPECT_EQ(seen[1].text, kTail);
    p.CloseProcedure();
  }
  CDBProcRegistry::Unregister("LibEcho");
}

TEST_F(DBtableTest, EachThreadHasItsOwnConnection) {
  CDBConnection* mine = CDBConnection::ForThread();
  CDBConnection* other = nullptr;
  ASSERT_TRUE(drtest::CTestThread([&other] { other = CDBConnection::ForThread(); }, "other connection").Join());
  EXPECT_NE(mine, nullptr);
  EXPECT_NE(mine, other);
  ZNSimpleDBConnObject conn;
  ASSERT_EQ(conn.ExecuteSQL("PRAGMA journal_mode"), 0);
  ASSERT_EQ(conn.FetchRow(), 0);
  EXPECT_EQ(conn.GetColumnString(0), "wal");
}

namespace {


class CMeasureTable : public DBtable {
 public:
  CMeasureTable() : DBtable("LibMeasure", 0, nullptr) {
    m_serialName = "id";
    m_serialField = &m_data.id;
    BindColumns(&m_data, kMeasureColumns, 3, m_ind);
  }
  SMeasure m_data;
  long long m_ind[3] = {0, 0, 0};
};

}  // namespace

TEST_F(DBtableTest, FloatAndDateTimeColumnsRoundTrip) {
  bool saved = DBtable::b_newDBBase;
  for (bool typed : {true, false}) {
    DBtable::b_newDBBase = typed;
    CMeasureTable w;
    w.m_data.id = 0;
    w.m_data.ratio = 0.25f;
    w.m_data.at.year = 2024;
    w.m_data.at.month = 2;
    w.m_data.at.day = 29;
    w.m_data.at.hour = 23;
    w.m_data.at.minute = 59;
    w.m_data.at.second = 58;
    ASSERT_EQ(w.rowInsert(true), 0);
    CMeasureTable r;
    r.setWhere("id = %d", w.m_data.id);
    ASSERT_EQ(getOneRow(&r, false, -1, 0), 0);
    EXPECT_FLOAT_EQ(r.m_data.ratio, 0.25f);
    EXPECT_EQ(r.m_data.at.year, 2024);
    EXPECT_EQ(r.m_data.at.day, 29);
    EXPECT_EQ(r.m_data.at.second, 58);
    EXPECT_STREQ(r.m_data.at.text, "2024-02-29 23:59:58.000");
  }
  DBtable::b_newDBBase = saved;
}

TEST_F(DBtableTest, StoredProcedureAdapterServesRegisteredTypes) {
  const unsigned long kType = 4242425UL;
  App_ExecuteSP sp;
  std::string resp;
  EXPECT_NE(sp.executeGetStoredProcedure(kType, "<req/>", resp, nullptr), 0);
  {
    CScopedHandler<unsigned long, ExecuteSPHandler> echo(App_ExecuteSP::Handlers(), kType,
                                                         [](const std::string& req, std::string& out) {
                                                           out = "<resp>" + req + "</resp>";
                                                           return 0;
                                                         });
    EXPECT_EQ(sp.executeGetStoredProcedure(kType, "<req/>", resp, nullptr), 0);
    EXPECT_EQ(resp, "<resp><req/></resp>");
  }
  // The replacement ends with its scope.
  EXPECT_NE(sp.executeGetStoredProcedure(kType, "<req/>", resp, nullptr), 0);
}
