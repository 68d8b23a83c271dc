// Threads of one process share connections: a thread that goes to wait in
// one of the engine's waits gives its idle connection back, and only an
// idle one (no transaction, no statement or cursor in use) moves to another
// thread. A connection given back is not reused for a file that has gone,
// nor trusted for tables dropped since.
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestThread.h"
#include "core/BlockingHook.h"
#include "db/DBColumnBind.h"
#include "db/DBConnection.h"
#include "sync/ZnEvent.h"

namespace {

const SDBColumnBind kNoteColumns[] = {{"text", "s", 0}};

class DBConnectionPoolConcurrency : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = drtest::MakeTempDir("connpool");
    CDBConnection::SetPath(m_dir + "/p.db");
    CDBConnection::RegisterTable("PoolNote", kNoteColumns, nullptr);
    ASSERT_EQ(DB_OK, Db()->Exec("CREATE TABLE Seen (who TEXT NOT NULL)"));
    ASSERT_EQ(DB_OK, Db()->Exec("INSERT INTO Seen VALUES ('first')"));
  }
  void TearDown() override {
    CDBConnection::CloseThreadConnections();
    CDBConnection::SetPath("");
    drtest::RemoveTree(m_dir);
  }
  static CDBConnection* Db() { return CDBConnection::ForThread(); }
  static int Rows(CDBConnection* c, const char* table = "Seen") {
    if (c == nullptr) return -1;
    sqlite3_stmt* s = c->Prepare(std::string("SELECT COUNT(*) FROM ") + table);
    const int n = s != nullptr && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    c->Release(s);
    return n;
  }
  std::string m_dir;
};

TEST_F(DBConnectionPoolConcurrency, ThreadsThatWaitHoldNoConnection) {
  constexpr int kThreads = 48;
  const int before = CDBConnection::OpenConnections();
  ZnEvent go(true);
  std::atomic<int> waiting{0}, readBefore{0}, readAfter{0};
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&]() {
      if (Rows(Db()) == 1) ++readBefore;
      ++waiting;
      go.wait();
      if (Rows(Db()) == 1) ++readAfter;
    });
  }
  ASSERT_TRUE(drtest::Eventually([&] { return waiting.load() == kThreads; }));
  // Every thread read, then waits: what stays open is the pool's share, not
  // a connection per thread. A thread counts itself waiting just before it
  // blocks, and gives its connection back only as it blocks, so the count
  // is awaited rather than read at once.
  EXPECT_TRUE(drtest::Eventually([&] { return CDBConnection::OpenConnections() - before <= 32; }))
      << "open connections beyond the pool's share: " << CDBConnection::OpenConnections() - before;
  go.set();
  for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join());
  EXPECT_EQ(kThreads, readBefore.load());
  EXPECT_EQ(kThreads, readAfter.load());
}

TEST_F(DBConnectionPoolConcurrency, AConnectionInUseStaysWithItsThread) {
  ZnEvent written(true), looked(true), cursorOpen(true), stepped(true);
  std::atomic<int> othersSaw{-1}, cursorRows{0};
  std::atomic<bool> committed{false};
  // A writer waits in the middle of its transaction, a reader in the middle
  // of its cursor.
  drtest::CTestThread writer([&]() {
    CDBConnection* c = Db();
    if (c->BeginWrite() != DB_OK || c->Exec("INSERT INTO Seen VALUES ('uncommitted')") != DB_OK) return;
    written.set();
    looked.wait();
    committed = c->Commit() == DB_OK;
  });
  drtest::CTestThread reader([&]() {
    CDBConnection* c = Db();
    sqlite3_stmt* s = c->Prepare("SELECT who FROM Seen ORDER BY rowid");
    if (s == nullptr || sqlite3_step(s) != SQLITE_ROW) return;
    cursorRows = 1;
    cursorOpen.set();
    stepped.wait();
    while (sqlite3_step(s) == SQLITE_ROW) ++cursorRows;
    c->Release(s);
  });
  ASSERT_TRUE(written.wait(60000));
  ASSERT_TRUE(cursorOpen.wait(60000));
  // A third thread gets neither: it does not see the open transaction's row.
  drtest::CTestThread other([&]() { othersSaw = Rows(Db()); });
  ASSERT_TRUE(other.Join());
  EXPECT_EQ(1, othersSaw.load());
  looked.set();
  stepped.set();
  ASSERT_TRUE(writer.Join());
  ASSERT_TRUE(reader.Join());
  EXPECT_TRUE(committed.load());
  EXPECT_GE(cursorRows.load(), 1);
  EXPECT_EQ(2, Rows(Db()));
}

TEST_F(DBConnectionPoolConcurrency, AConnectionGivenBackIsNotReusedForAFileThatHasGone) {
  ASSERT_EQ(1, Rows(Db()));
  CDBConnection::GiveBackIdleConnections();
  // The file is replaced by another database at the same path.
  const std::string path = m_dir + "/p.db";
  for (const char* suffix : {"", "-wal", "-shm"}) remove((path + suffix).c_str());
  sqlite3* other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "CREATE TABLE Seen (who TEXT); INSERT INTO Seen VALUES ('a'), ('b'), ('c')",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(other);
  EXPECT_EQ(3, Rows(Db()));
}

// A process that may not create its database (drjob, all but seed): a file
// moved away is not made anew, empty, at its old path, neither for a
// connection given back nor for a thread's first one.
TEST_F(DBConnectionPoolConcurrency, WithoutLeaveToCreateAMovedFileIsNotMadeAnew) {
  struct SRestore {
    ~SRestore() { CDBConnection::SetMayCreate(true); }
  } restore;
  ASSERT_EQ(1, Rows(Db()));
  CDBConnection::GiveBackIdleConnections();
  CDBConnection::SetMayCreate(false);
  const std::string path = m_dir + "/p.db";
  ASSERT_EQ(0, rename(path.c_str(), (m_dir + "/moved.db").c_str()));
  EXPECT_EQ(nullptr, Db()) << "the pool's connection is not at its path, and none is made";
  std::atomic<bool> opened{true};
  drtest::CTestThread first([&]() { opened = Db() != nullptr; });
  ASSERT_TRUE(first.Join());
  EXPECT_FALSE(opened.load());
  struct stat st;
  EXPECT_NE(0, stat(path.c_str(), &st)) << "a file was made at the old path";
  // Nor below a folder that is not there.
  CDBConnection::SetPath(m_dir + "/none/p.db");
  EXPECT_EQ(nullptr, Db());
  EXPECT_NE(0, stat((m_dir + "/none").c_str(), &st));
  CDBConnection::SetMayCreate(true);
  EXPECT_NE(nullptr, Db()) << "with leave, as before";
}

TEST_F(DBConnectionPoolConcurrency, TablesDroppedMeanwhileAreMadeAgainOnAConnectionGivenBack) {
  CDBConnection* mine = Db();
  ASSERT_EQ(DB_OK, mine->EnsureTable("PoolNote"));
  // Another thread, on a connection of its own, drops the schema once this
  // one has given its connection back (which had made the table).
  std::atomic<bool> ready{false}, go{false};
  drtest::CTestThread dropper([&]() {
    CBlockingHookShield keep;
    CDBConnection* theirs = CDBConnection::ForThread();
    ready = true;
    if (drtest::Eventually([&] { return go.load(); })) theirs->DropSchema();
    CDBConnection::CloseThreadConnections();
  });
  ASSERT_TRUE(drtest::Eventually([&] { return ready.load(); }));
  CDBConnection::GiveBackIdleConnections();
  go = true;
  ASSERT_TRUE(dropper.Join());
  CDBConnection* c = Db();
  EXPECT_EQ(mine, c);
  ASSERT_EQ(DB_OK, c->EnsureTable("PoolNote"));
  EXPECT_EQ(DB_OK, c->Exec("INSERT INTO PoolNote VALUES ('made again')"));
  EXPECT_EQ(1, Rows(c, "PoolNote"));
}

TEST_F(DBConnectionPoolConcurrency, AShieldedThreadKeepsItsConnection) {
  CDBConnection* mine = Db();
  {
    CBlockingHookShield shield;
    CBlockingHook::BeforeBlocking();
  }
  // Had it been given back, the next thread to ask would have it.
  CDBConnection* theirs = nullptr;
  drtest::CTestThread other([&theirs]() {
    theirs = CDBConnection::ForThread();
    CDBConnection::CloseThreadConnections();
  });
  ASSERT_TRUE(other.Join());
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(mine, Db());
  EXPECT_EQ(1, Rows(mine));
}

}  // namespace
