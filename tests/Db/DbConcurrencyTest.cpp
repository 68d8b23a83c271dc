// Concurrency of the bindings: the one-time fill of a descriptor class and
// many writers on one database file.
#include <string.h>

#include <atomic>
#include <thread>
#include <vector>

#include "DbTestSupport.h"
#include "TestThread.h"
#include "Db/Tbl/APP_ClientProp.h"
#include "Db/ZNDBGeneratedRow.h"

namespace {

// A descriptor class of this test alone, so that no earlier test has filled it.
struct SRaceRow {
  int id;
  char label[32];
  long long stamp;
};
const SDBColumnBind kRaceColumns[] = {
    {"id", "i", offsetof(SRaceRow, id)},
    {"label", "s32", offsetof(SRaceRow, label)},
    {"stamp", "x", offsetof(SRaceRow, stamp)},
};
const char* const kRaceKeys[] = {"id"};
const SDBRelation kRaceRelations[] = {{"parent", "label", "name"}};
const SDBBindingDesc kRaceDesc = {"RaceRow", 1, "1.0", "Db/Tbl/RaceRow.h", kRaceColumns, 3, kRaceKeys, 1, "id", "id",
                                  kRaceRelations, 1};

class CRaceRow_t2 : public ZNDBGeneratedRow<CRaceRow_t2> {
 public:
  static const SDBBindingDesc& Desc() { return kRaceDesc; }
};

class DbConcurrencyTest : public CDbTestBase {};

}  // namespace

TEST_F(DbConcurrencyTest, SixteenThreadsFillOneDescriptorClassOnce) {
  ASSERT_FALSE(CRaceRow_t2::s_isInitialized.load());
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<drtest::CTestThread> threads;
  std::atomic<int> bad{0};
  for (int i = 0; i < 16; ++i) {
    threads.emplace_back([&] {
      ++ready;
      while (!go.load()) std::this_thread::yield();
      CRaceRow_t2 row;
      // Whoever constructs sees the whole description.
      if (row.getStructDef() != "i|s32|b|" || row.getSerialColNum() != 0 || row.getColumnName(2) != "stamp") ++bad;
    });
    threads.back().OnStop([&go] { go = true; });  // an early exit must not leave them spinning
  }
  ASSERT_TRUE(drtest::Eventually([&] { return ready.load() == 16; }));
  go = true;
  for (auto& t : threads) ASSERT_TRUE(t.Join());
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(CRaceRow_t2::m_staticColumnVec.size(), 3u);  // a second fill would have appended again
  EXPECT_EQ(CRaceRow_t2::m_foreignKeyMap.size(), 1u);
  EXPECT_EQ(CRaceRow_t2::m_name, "RaceRow");
}

TEST_F(DbConcurrencyTest, ManyWritersSeeNoBusyErrors) {
  const int kThreads = 8;
  const int kRows = 40;
  std::atomic<int> failures{0};
  std::atomic<int> lastError{0};
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRows; ++i) {
        APP_ClientProp p(nullptr);
        p.getDataPtr()->componentNameId = t;
        snprintf(p.getDataPtr()->attrName, sizeof(p.getDataPtr()->attrName), "row %d", i);
        strcpy(p.getDataPtr()->attrVal, "v");
        int rc = p.rowInsert(true);
        if (rc == 0) {
          APP_ClientProp u(nullptr);
          u.setWhere("id = %d", p.getDataPtr()->id);
          rc = u.rowUpdate("attrVal = '%s'", "updated");
        }
        if (rc != 0) {
          ++failures;
          lastError = rc;
        }
      }
      CDBConnection::CloseThreadConnections();
    });
  }
  for (auto& th : threads) ASSERT_TRUE(th.Join());
  EXPECT_EQ(failures.load(), 0) << "last error " << lastError.load();
  APP_ClientProp all(nullptr);
  all.setWhere("attrVal = '%s'", "updated");
  ASSERT_EQ(all.openCursor(), 0);
  EXPECT_EQ(all.getRowCount(), kThreads * kRows);
}

TEST_F(DbConcurrencyTest, TwentyWritersAndReadersShareTheFile) {
  const int kThreads = 20;
  std::atomic<int> failures{0};
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        APP_ClientProp p(nullptr);
        p.getDataPtr()->componentNameId = 100 + t;
        if (p.rowInsert(true) != 0) ++failures;
        APP_ClientProp r(nullptr);
        r.setWhere("componentNameId = %d", 100 + t);
        int state = 0;
        int n = 0;
        int rc;
        while ((rc = getNextRow(&r, &state, -1, 0)) == 0) ++n;
        if (rc != 100 || n != i + 1) ++failures;
      }
      CDBConnection::CloseThreadConnections();
    });
  }
  for (auto& th : threads) ASSERT_TRUE(th.Join());
  EXPECT_EQ(failures.load(), 0);
}
