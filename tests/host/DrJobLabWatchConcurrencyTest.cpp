// drjob's lab watcher in a process of its own (tests/helpers/LabWatchHelper):
// once it has seen the lab moved away and made its first checkpoint, a
// writer of the process commits; the watcher's second checkpoint, taken
// holding the process's turn to write, carries that row into the file the
// process opened, so the moved lab holds every row without a -wal beside it.
#include <sqlite3.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "host/DrJobTestSupport.h"

namespace {

std::vector<std::string> ProbeRows(const std::string& path) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT x FROM probe ORDER BY rowid", -1, &s, nullptr) == SQLITE_OK) {
      while (sqlite3_step(s) == SQLITE_ROW) rows.push_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return rows;
}

TEST(LabWatchConcurrency, TheSecondCheckpointCarriesWhatAWriterCommittedAfterTheFirst) {
  const std::string dir = drtest::MakeTempDir("labwatch");
  const std::string lab = dir + "/lab.db";
  const std::string moved = dir + "/moved.db";
  {
    drtest::CChildProcess helper;
    ASSERT_TRUE(helper.Start({"/usr/bin/env", "DR_RUN_DIR=" + dir + "/run", DR_LABWATCH_HELPER, lab}));
    std::string line;
    ASSERT_TRUE(helper.ReadLine(line));
    ASSERT_EQ("WATCHING", line);
    ASSERT_EQ(0, rename(lab.c_str(), moved.c_str()));
    const int status = helper.Wait();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(17, WEXITSTATUS(status)) << "3: the watcher never made its first checkpoint";
  }
  // The rows are in the moved file itself: nothing was left beside either
  // path, and the row committed between the checkpoints is there.
  EXPECT_FALSE(drtest::HasSiblings(moved));
  EXPECT_FALSE(drtest::HasSiblings(lab));
  EXPECT_EQ((std::vector<std::string>{"before", "after"}), ProbeRows(moved));
  drtest::RemoveTree(dir);
}

}  // namespace
