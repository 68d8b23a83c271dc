// A database that cannot be written is said on standard error at most once
// an interval, and once more when a write gets through; errors that say
// nothing about the file are never reported. The connection's cases are
// real: SQLite answers "database or disk is full" for a file held to its
// page count, and "attempt to write a readonly database" for a connection
// made read-only.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "core/Mutex.h"
#include "db/DBConnection.h"
#include "db/DBUnwritableReport.h"

namespace {

// Lines a report printed, without their newlines.
class CLines {
 public:
  CDBUnwritableReport::Sink Sink() {
    return [this](const std::string& line) {
      CMutexLock lk(m_mutex);
      m_lines.push_back(line.substr(0, line.find('\n')));
    };
  }
  std::vector<std::string> Take() {
    CMutexLock lk(m_mutex);
    std::vector<std::string> lines;
    lines.swap(m_lines);
    return lines;
  }

 private:
  CMutex m_mutex;
  std::vector<std::string> m_lines DR_GUARDED_BY(m_mutex);
};

const char kPath[] = "/labs/lab.db";

std::string FailureLine(const std::string& text, int failures) {
  return "drjob: the database [/labs/lab.db] cannot be written: [" + text + "]; writes are retried ([" +
         std::to_string(failures) + "] failed so far)";
}

TEST(DBUnwritableReport, OneLineAnIntervalWhileWritesFailAndOneWhenAWriteGetsThrough) {
  CLines lines;
  CDBUnwritableReport report;
  // Off until a program turns it on.
  report.FailedAt(0, kPath, SQLITE_FULL, "database or disk is full");
  report.Written(kPath);
  EXPECT_TRUE(lines.Take().empty());

  report.Enable("drjob: ", 5000, lines.Sink());
  int failures = 0;
  for (long long t = 1000; t < 6000; t += 7, ++failures) {
    report.FailedAt(t, kPath, SQLITE_FULL, "database or disk is full");
  }
  EXPECT_EQ(std::vector<std::string>{FailureLine("database or disk is full", 1)}, lines.Take());
  // The next line an interval after the first, with every failure counted
  // and the latest reason.
  report.FailedAt(6000, kPath, SQLITE_IOERR_WRITE, "disk I/O error");
  ++failures;
  EXPECT_EQ(std::vector<std::string>{FailureLine("disk I/O error", failures)}, lines.Take());

  report.Written(kPath);
  report.Written(kPath);
  EXPECT_EQ(std::vector<std::string>{"drjob: the database [/labs/lab.db] can be written again, after [" +
                                     std::to_string(failures) + "] failures"},
            lines.Take());

  // A failure soon after the last line is counted but not printed, and a
  // write after it says nothing: a disk that flaps prints no more than a
  // line an interval, and one more for each of them.
  report.FailedAt(6500, kPath, SQLITE_FULL, "database or disk is full");
  report.Written(kPath);
  EXPECT_TRUE(lines.Take().empty());
  report.FailedAt(11000, kPath, SQLITE_FULL, "database or disk is full");
  EXPECT_EQ(std::vector<std::string>{FailureLine("database or disk is full", 1)}, lines.Take());

  // Errors that say nothing about the file are neither printed nor counted.
  report.Disable();
  report.Enable("drjob: ", 5000, lines.Sink());
  for (int rc : {SQLITE_CONSTRAINT_PRIMARYKEY, SQLITE_BUSY, SQLITE_LOCKED, SQLITE_ERROR, SQLITE_MISUSE,
                 SQLITE_INTERRUPT}) {
    report.FailedAt(20000, kPath, rc, "not about the file");
  }
  report.FailedAt(20000, kPath, SQLITE_CANTOPEN, "unable to open database file");
  report.FailedAt(30000, kPath, SQLITE_READONLY_DBMOVED, "attempt to write a readonly database");
  EXPECT_EQ((std::vector<std::string>{FailureLine("unable to open database file", 1),
                                      FailureLine("attempt to write a readonly database", 2)}),
            lines.Take());
}

class DBUnwritableReportConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = drtest::MakeTempDir("unwritable");
    m_path = m_dir + "/full.db";
    CDBUnwritableReport::Process().Enable("drjob: ", 0, m_lines.Sink());
  }
  void TearDown() override {
    CDBUnwritableReport::Process().Disable();
    drtest::RemoveTree(m_dir);
  }
  // One page-sized row: the table grows by a page each.
  static int Insert(CDBConnection& c, int id) {
    return c.Exec("INSERT INTO Big VALUES (" + std::to_string(id) + ", zeroblob(4096))");
  }
  static int PageCount(CDBConnection& c) {
    sqlite3_stmt* s = c.Prepare("PRAGMA page_count", false);
    const int pages = s != nullptr && sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -1;
    c.Release(s);
    return pages;
  }
  std::string m_dir;
  std::string m_path;
  CLines m_lines;
};

TEST_F(DBUnwritableReportConnection, AFullFileAndAReadOnlyOneAreReportedOtherErrorsAreNot) {
  CDBConnection c(m_path);
  ASSERT_TRUE(c.IsOpen()) << c.LastErrorText();
  ASSERT_EQ(DB_OK, c.Exec("CREATE TABLE Big (id INTEGER PRIMARY KEY, data BLOB)"));
  ASSERT_EQ(DB_OK, Insert(c, 1));

  // A statement the engine or a test gets wrong on purpose.
  EXPECT_EQ(DB_CONSTRAINT, Insert(c, 1));
  EXPECT_EQ(DB_ERROR, c.Exec("INSERT INTO Missing VALUES (1)"));
  EXPECT_TRUE(m_lines.Take().empty());

  // The file may not grow: the next row does not fit.
  const int pages = PageCount(c);
  ASSERT_GT(pages, 0);
  ASSERT_EQ(DB_OK, c.Exec("PRAGMA max_page_count = " + std::to_string(pages)));
  int id = 2;
  int rc = DB_OK;
  while (rc == DB_OK && id < 100) rc = Insert(c, id++);
  ASSERT_EQ(DB_ERROR, rc);
  EXPECT_EQ("database or disk is full", c.LastErrorText());
  std::vector<std::string> lines = m_lines.Take();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("drjob: the database [" + m_path +
                "] cannot be written: [database or disk is full]; writes are retried ([1] failed so far)",
            lines[0]);

  // A write transaction that changed nothing says nothing about the file.
  ASSERT_EQ(DB_OK, c.BeginWrite());
  ASSERT_EQ(DB_OK, c.Commit());
  EXPECT_TRUE(m_lines.Take().empty());

  // Room again: the first change that is committed says so.
  ASSERT_EQ(DB_OK, c.Exec("PRAGMA max_page_count = 1000000"));
  ASSERT_EQ(DB_OK, c.BeginWrite());
  ASSERT_EQ(DB_OK, Insert(c, 200));
  EXPECT_TRUE(m_lines.Take().empty()) << "not before the commit";
  ASSERT_EQ(DB_OK, c.Commit());
  EXPECT_EQ(std::vector<std::string>{"drjob: the database [" + m_path + "] can be written again, after [1] failures"},
            m_lines.Take());

  // A connection that may not write.
  ASSERT_EQ(DB_OK, c.Exec("PRAGMA query_only = 1"));
  EXPECT_EQ(DB_ERROR, Insert(c, 300));
  lines = m_lines.Take();
  ASSERT_EQ(1u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("cannot be written: [attempt to write a readonly database]"))
      << lines[0];
}

}  // namespace
