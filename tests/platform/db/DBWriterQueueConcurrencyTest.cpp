// Writers of one process to one database: they take their turns in the order
// they asked, none meets a busy error while the one before it is short, and
// one that gives up does not hold up those behind it.
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DBFileTestSupport.h"
#include "TestThread.h"

namespace {

class DBWriterQueueConcurrency : public CDBFileTest {
 protected:
  void SetUp() override { OpenWithTable("writerqueue", "Written"); }
  static int Insert(const std::string& who) { return Db()->Exec("INSERT INTO Written VALUES ('" + who + "')"); }
  static std::vector<std::string> Written() {
    std::vector<std::string> out;
    sqlite3_stmt* s = Db()->Prepare("SELECT who FROM Written ORDER BY rowid");
    while (s != nullptr && sqlite3_step(s) == SQLITE_ROW) {
      out.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    }
    Db()->Release(s);
    return out;
  }
  // A writer on a thread of its own: begins, writes its name, commits.
  static drtest::CTestThread Writer(const std::string& who, std::atomic<int>& result) {
    return drtest::CTestThread(
        [who, &result]() {
          int rc = Db()->BeginWrite();
          if (rc == DB_OK) rc = Insert(who);
          if (rc == DB_OK) rc = Db()->Commit();
          result = rc;
          CDBConnection::CloseThreadConnections();
        },
        "writer " + who);
  }
};

TEST_F(DBWriterQueueConcurrency, WritersTakeTheirTurnsInTheOrderTheyAsked) {
  // The first writer holds its turn until every later one has its ticket:
  // they all wake at its commit, and only the queue puts them in line. It
  // then asks again, before any of them can be on: last in the queue.
  constexpr int kLater = 8;
  ASSERT_EQ(DB_OK, Db()->BeginWrite());
  ASSERT_EQ(DB_OK, Insert("first"));
  std::atomic<int> results[kLater];
  std::vector<drtest::CTestThread> later;
  std::vector<std::string> expected = {"first"};
  for (int i = 0; i < kLater; ++i) {
    results[i] = 1;
    expected.push_back("later " + std::to_string(i));
    later.push_back(Writer(expected.back(), results[i]));
    ASSERT_TRUE(drtest::Eventually([i] { return CDBConnection::WaitingWriters() == i + 1; }, 10000));
  }
  ASSERT_EQ(DB_OK, Db()->Commit());
  ASSERT_EQ(DB_OK, Db()->BeginWrite());
  ASSERT_EQ(DB_OK, Insert("first again"));
  ASSERT_EQ(DB_OK, Db()->Commit());
  expected.push_back("first again");
  for (drtest::CTestThread& t : later) ASSERT_TRUE(t.Join());
  for (int i = 0; i < kLater; ++i) EXPECT_EQ(DB_OK, results[i].load()) << i;
  EXPECT_EQ(expected, Written());
  EXPECT_EQ(0, CDBConnection::WaitingWriters());
}

TEST_F(DBWriterQueueConcurrency, ManyShortWritersNeverMeetABusyError) {
  // Far shorter than the queue ahead of any writer lasts in total, far
  // longer than its turn takes to come.
  CDBConnection::SetBusyTimeoutMs(500);
  constexpr int kThreads = 12;
  constexpr int kWrites = 25;
  std::atomic<int> busy{0}, failed{0};
  std::vector<drtest::CTestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(
        [t, &busy, &failed]() {
          for (int i = 0; i < kWrites; ++i) {
            int rc = Db()->BeginWrite();
            if (rc == DB_OK) rc = Insert(std::to_string(t));
            usleep(1000);  // a transaction that holds the lock a while
            if (rc == DB_OK) rc = Db()->Commit();
            if (rc == DB_BUSY) ++busy;
            if (rc != DB_OK) {
              ++failed;
              Db()->Rollback();
            }
          }
          CDBConnection::CloseThreadConnections();
        },
        "short writer");
  }
  for (drtest::CTestThread& t : threads) ASSERT_TRUE(t.Join());
  EXPECT_EQ(0, busy.load());
  EXPECT_EQ(0, failed.load());
  EXPECT_EQ(static_cast<size_t>(kThreads * kWrites), Written().size());
}

TEST_F(DBWriterQueueConcurrency, AWriterThatGivesUpHoldsNobodyUp) {
  CDBConnection::SetBusyTimeoutMs(50);
  ASSERT_EQ(DB_OK, Db()->BeginWrite());
  ASSERT_EQ(DB_OK, Insert("holder"));
  std::atomic<int> gaveUp{1};
  drtest::CTestThread b = Writer("gave up", gaveUp);
  ASSERT_TRUE(b.Join());
  EXPECT_EQ(DB_BUSY, gaveUp.load());
  // A write outside a transaction waits for the lock as long, then says so.
  std::atomic<int> single{1};
  drtest::CTestThread s([&single]() {
    single = Insert("single");
    CDBConnection::CloseThreadConnections();
  });
  ASSERT_TRUE(s.Join());
  EXPECT_EQ(DB_BUSY, single.load());
  ASSERT_EQ(DB_OK, Db()->Commit());

  // The abandoned turn is skipped: the next writer goes at once, and a
  // rolled-back transaction gives its turn on as a committed one does.
  CDBConnection::SetBusyTimeoutMs(30000);
  ASSERT_EQ(DB_OK, Db()->BeginWrite());
  ASSERT_EQ(DB_OK, Db()->Rollback());
  std::atomic<int> next{1};
  drtest::CTestThread c = Writer("next", next);
  ASSERT_TRUE(c.Join());
  EXPECT_EQ(DB_OK, next.load());
  EXPECT_EQ((std::vector<std::string>{"holder", "next"}), Written());
  EXPECT_EQ(0, CDBConnection::WaitingWriters());
}

TEST_F(DBWriterQueueConcurrency, APauseWaitsForAnOpenWriteAndHoldsBackNewOnesButKeepsItsOwn) {
  // Another thread inside a write transaction when a pause comes: the hold
  // waits for its commit, so the stopped process holds no lock a writer of
  // another process would wait on; writers that ask meanwhile wait for the
  // release. The pausing thread's own open transaction is not waited for.
  std::atomic<bool> begun{false}, commit{false};
  std::atomic<int> first{1}, second{1};
  drtest::CTestThread open(
      [&]() {
        int rc = Db()->BeginWrite();
        if (rc == DB_OK) rc = Insert("open");
        begun = true;
        drtest::Eventually([&] { return commit.load(); });
        if (rc == DB_OK) rc = Db()->Commit();
        first = rc;
        CDBConnection::CloseThreadConnections();
      },
      "open writer");
  ASSERT_TRUE(drtest::Eventually([&] { return begun.load(); }));
  std::atomic<bool> held{false};
  drtest::CTestThread pause(
      [&]() {
        CDBConnection::HoldOtherWriters();
        held = true;
      },
      "pause");
  ASSERT_TRUE(drtest::Eventually([] { return CDBConnection::WaitingWriters() == 1; }));
  EXPECT_FALSE(held.load());
  commit = true;
  ASSERT_TRUE(drtest::Eventually([&] { return held.load(); }));
  ASSERT_TRUE(open.Join());
  EXPECT_EQ(DB_OK, first.load());
  drtest::CTestThread later = Writer("later", second);
  ASSERT_TRUE(drtest::Eventually([] { return CDBConnection::WaitingWriters() == 1; }));
  EXPECT_EQ(1, second.load());
  CDBConnection::ReleaseHeldWriters();
  ASSERT_TRUE(later.Join());
  ASSERT_TRUE(pause.Join());
  EXPECT_EQ(DB_OK, second.load());

  // This thread's own transaction: the hold takes no turn on its file.
  ASSERT_EQ(DB_OK, Db()->BeginWrite());
  ASSERT_EQ(DB_OK, Insert("own"));
  CDBConnection::HoldOtherWriters();
  ASSERT_EQ(DB_OK, Db()->Commit());
  CDBConnection::ReleaseHeldWriters();
  EXPECT_EQ((std::vector<std::string>{"open", "later", "own"}), Written());
  EXPECT_EQ(0, CDBConnection::WaitingWriters());
}

TEST_F(DBWriterQueueConcurrency, APauseWaitsOutAWriteUnderWayAndHoldsBackWritesOutsideATransaction) {
  // Another connection (another process, or a statement of this one already
  // past the gate) holds the file's write lock when the pause comes: the
  // hold returns only once it is given back, so the stop catches nobody
  // holding it.
  sqlite3* other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(m_path.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "INSERT INTO Written VALUES ('under way')", nullptr, nullptr, nullptr));
  std::atomic<bool> committed{false}, heldAfterCommit{false}, held{false};
  drtest::CTestThread pause(
      [&]() {
        CDBConnection::HoldOtherWriters();
        heldAfterCommit = committed.load();
        held = true;
      },
      "pause");
  // Time for the hold to reach the lock; were it not to wait, it would be
  // done before the commit below.
  usleep(200 * 1000);
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr));
  committed = true;
  sqlite3_close(other);
  ASSERT_TRUE(drtest::Eventually([&] { return held.load(); }));
  EXPECT_TRUE(heldAfterCommit.load());

  // Held: a write outside a transaction waits for the release; a read goes on.
  std::atomic<bool> writing{false}, written{false}, read{false};
  drtest::CTestThread writer(
      [&]() {
        writing = true;
        if (Insert("outside") == DB_OK) written = true;
        CDBConnection::CloseThreadConnections();
      },
      "writer outside a transaction");
  drtest::CTestThread reader(
      [&]() {
        read = !Written().empty();
        CDBConnection::CloseThreadConnections();
      },
      "reader");
  ASSERT_TRUE(reader.Join());
  EXPECT_TRUE(read.load());
  ASSERT_TRUE(drtest::Eventually([&] { return writing.load(); }));
  usleep(200 * 1000);
  EXPECT_FALSE(written.load());
  CDBConnection::ReleaseHeldWriters();
  ASSERT_TRUE(writer.Join());
  ASSERT_TRUE(pause.Join());
  EXPECT_TRUE(written.load());
  EXPECT_EQ((std::vector<std::string>{"under way", "outside"}), Written());
}

}  // namespace
