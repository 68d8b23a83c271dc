// Emptying a file's WAL: every committed write ends up in the file itself,
// so the file alone, under another name, holds it; a reader that still
// reads an older state holds the emptying back until it ends.
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "DBFileTestSupport.h"

namespace {

class DBConnectionWal : public CDBFileTest {
 protected:
  void SetUp() override { OpenWithTable("connwal", "Seen"); }
  static void Write(int rows) {
    for (int i = 0; i < rows; ++i) ASSERT_EQ(DB_OK, Db()->Exec("INSERT INTO Seen VALUES ('row')"));
  }
  static long long SizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  }
  // The rows of a file opened by its own name, without whatever lies beside
  // the name it was written under.
  static int RowsOfFile(const std::string& path) {
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* s = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM Seen", -1, &s, nullptr) == SQLITE_OK &&
          sqlite3_step(s) == SQLITE_ROW) {
        rows = sqlite3_column_int(s, 0);
      }
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return rows;
  }
};

TEST_F(DBConnectionWal, AnEmptiedWalLeavesEveryWriteInTheFileAndAnOlderReaderHoldsItBack) {
  Write(3);
  // A reader of the state after three rows, on a connection of its own.
  CDBConnection reader(m_path);
  ASSERT_EQ(DB_OK, reader.Exec("BEGIN"));
  ASSERT_EQ(DB_OK, reader.Exec("SELECT COUNT(*) FROM Seen"));
  Write(2);
  EXPECT_GT(SizeOf(m_path + "-wal"), 0);
  CDBConnection::SetBusyTimeoutMs(20);
  EXPECT_EQ(DB_BUSY, Db()->EmptyWal());
  ASSERT_EQ(DB_OK, reader.Exec("COMMIT"));
  CDBConnection::SetBusyTimeoutMs(30000);
  ASSERT_EQ(DB_OK, Db()->EmptyWal());
  EXPECT_EQ(0, SizeOf(m_path + "-wal"));

  // The file alone holds every row: moved away from its -wal, it reads whole.
  const std::string moved = m_dir + "/moved.db";
  ASSERT_EQ(0, rename(m_path.c_str(), moved.c_str()));
  EXPECT_EQ(5, RowsOfFile(moved));
}

}  // namespace
