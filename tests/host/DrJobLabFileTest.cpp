// The lab file as drjob finds it: seed writes only into a new or empty file
// or, asked to, over a lab nobody runs a job on; a lab seeded before its
// tables changed, a damaged file, a second name for the file and a database
// another process holds are each refused in one line, leaving the file as it
// was and nothing beside it; a run folder that is a file stops every command.
#include <errno.h>
#include <sqlite3.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "JobTestSupport.h"
#include "TestSupport.h"
#include "host/DrJobTestSupport.h"
#include "jobs/JobStore.h"
#include "sim/Simulators.h"

namespace {

using drtest::Has;
using drtest::SResult;

class E2EDrJobLabFile : public drtest::CDrJobLabTest {
 protected:
  // SQL on a connection of its own, closed again: the fixture's connection
  // stays closed, so the file can be read byte for byte afterwards.
  static void Sql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    char* error = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error)) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }
  static int Count(const std::string& path, const std::string& table) {
    sqlite3* db = nullptr;
    int count = -1;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      count = sqlite3_column_int(s, 0);
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return count;
  }
  static void Write(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  SResult Run(const std::string& db, long long jobId) {
    return Host("run --db " + db + " --group Sample --type planned-failover --job-id " + std::to_string(jobId));
  }
};

TEST_F(E2EDrJobLabFile, SeedWritesOnlyIntoANewOrEmptyFileAndReplacesOnlyALab) {
  const std::string foreign = m_dir + "/foreign.db";
  Sql(foreign, "CREATE TABLE notes (id INTEGER, text TEXT); CREATE INDEX notes_id ON notes (id);"
               "INSERT INTO notes VALUES (1, 'x')");
  const std::string text = m_dir + "/notes.txt";
  Write(text, "these are not tables, but they are somebody's\n");
  const struct {
    std::string path;
    std::string line;
  } refused[] = {
      {foreign, "drjob: [" + foreign +
                    "] holds a database that is not a lab (it has no table [PLT_Jobs]); seed leaves it as it is, "
                    "with --replace too\n"},
      {text, "drjob: [" + text + "] is not a readable database (file is not a database); seed leaves it as it is\n"},
  };
  for (const auto& c : refused) {
    for (const char* replace : {"", " --replace"}) {
      SCOPED_TRACE(c.path + replace);
      const drtest::SFileState before = drtest::StateOf(c.path);
      const SResult r = Host("seed --db " + c.path + replace);
      EXPECT_EQ(4, r.code) << r.output;
      EXPECT_EQ(c.line, r.output);
      EXPECT_TRUE(before == drtest::StateOf(c.path)) << "the file changed";
    }
  }

  // A new file, an empty file and an empty database are filled.
  const std::string empty = m_dir + "/empty.db";
  Write(empty, "");
  const std::string bare = m_dir + "/bare.db";
  Sql(bare, "PRAGMA user_version = 7");
  const std::string fresh = m_dir + "/fresh.db";
  // What a new seed holds, before a run adds to it.
  int properties = 0;
  for (const std::string& path : {empty, bare, fresh}) {
    SCOPED_TRACE(path);
    const SResult r = Host("seed --db " + path);
    EXPECT_EQ(0, r.code) << r.output;
    EXPECT_TRUE(Has(r, "drjob: seeded the sample lab in [" + path + "]")) << r.output;
    EXPECT_FALSE(Has(r, "replaced")) << r.output;
    if (path == fresh) properties = Count(fresh, "APP_ClientProp");
    EXPECT_EQ(0, Run(path, 3).code);
  }

  // A lab is left as it was, unless it is to be replaced: then it is replaced
  // whole, as a new seed would make it, not seeded a second time over itself.
  ASSERT_EQ(0, Run(m_db, 5).code);
  ASSERT_GT(properties, 0);
  const drtest::SFileState before = drtest::StateOf(m_db);
  SResult r = Host("seed --db " + m_db);
  EXPECT_EQ(4, r.code) << r.output;
  EXPECT_EQ("drjob: [" + m_db + "] already holds a lab; seed --replace replaces it whole\n", r.output);
  EXPECT_TRUE(before == drtest::StateOf(m_db)) << "the lab changed";

  r = Host("seed --replace --db " + m_db);
  EXPECT_EQ(0, r.code) << r.output;
  EXPECT_TRUE(Has(r, "drjob: the lab that was in [" + m_db + "] is replaced whole\n")) << r.output;
  EXPECT_EQ(0, Count(m_db, "PLT_Jobs"));
  EXPECT_EQ(properties, Count(m_db, "APP_ClientProp"));
  EXPECT_EQ(0, Run(m_db, 5).code) << "a new job of the new lab";
}

TEST_F(E2EDrJobLabFile, ALabInUseIsNotReplaced) {
  CreateDRJob(8);
  SProcessId previous;
  ASSERT_EQ(ELeaseResult::kTaken, CJobStore::TakeRunLease(8, CProcessIdentity::Self(), previous));
  const SResult r = Host("seed --replace --db " + m_db);
  EXPECT_EQ(4, r.code) << r.output;
  EXPECT_EQ("drjob: [" + m_db + "] is in use: DR job [8] runs in " + CProcessIdentity::Text(CProcessIdentity::Self()) +
                "; the lab is not replaced\n",
            r.output);
  EXPECT_EQ(1u, drtest::AllJobs().size());
  ASSERT_EQ(EStoreResult::kOk, CJobStore::ReleaseRunLease(8, CProcessIdentity::Self()));
  EXPECT_EQ(0, Host("seed --replace --db " + m_db).code);
  EXPECT_TRUE(drtest::AllJobs().empty());
}

TEST_F(E2EDrJobLabFile, ALabSeededBeforeItsTablesChangedIsRefusedUntilSeededAgain) {
  const std::string lastTable = CSimulators::TableNames().back();
  const struct {
    std::string change;
    std::string line;
  } cases[] = {
      {"ALTER TABLE PLT_Jobs DROP COLUMN runnerStart",
       "drjob: [" + m_db +
           "] was seeded before table [PLT_Jobs] changed: it has no column [runnerStart] (drjob seed --replace seeds "
           "it again)\n"},
      {"ALTER TABLE PLT_MachineVerdicts DROP COLUMN restartTakesOver",
       "drjob: [" + m_db +
           "] was seeded before table [PLT_MachineVerdicts] changed: it has no column [restartTakesOver] (drjob seed "
           "--replace seeds it again)\n"},
      {"ALTER TABLE PLT_MachineVerdicts DROP COLUMN takingType",
       "drjob: [" + m_db +
           "] was seeded before table [PLT_MachineVerdicts] changed: it has no column [takingType] (drjob seed "
           "--replace seeds it again)\n"},
      {"DROP TABLE " + lastTable,
       "drjob: [" + m_db + "] was seeded before table [" + lastTable + "] was added (drjob seed --replace seeds it "
                                                                       "again)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    Sql(m_db, c.change);
    for (const std::string& command :
         {"run --db " + m_db + " --group Sample --type 1 --job-id 4", "jobs --db " + m_db}) {
      const SResult r = Host(command);
      EXPECT_EQ(4, r.code) << r.output;
      EXPECT_EQ(c.line, r.output);
    }
    EXPECT_EQ(4, Host("seed --db " + m_db).code) << "a lab, however old, is replaced only when asked";
    ASSERT_EQ(0, Host("seed --replace --db " + m_db).code);
    const SResult after = Run(m_db, 4);
    EXPECT_EQ(0, after.code) << after.output;
  }
}

TEST_F(E2EDrJobLabFile, ADamagedOrSecondNameOfALabIsRefusedLeavingNothingBesideIt) {
  // A copy of the lab with two pages overwritten, well past the schema.
  std::string bytes = drtest::ReadFile(m_db);
  ASSERT_GT(bytes.size(), 6u * 4096u);
  ASSERT_FALSE(drtest::HasSiblings(m_db)) << "the seed left its journal";
  bytes.replace(4 * 4096, 2 * 4096, std::string(2 * 4096, 'Z'));
  const std::string damaged = m_dir + "/damaged.db";
  Write(damaged, bytes);
  const std::string second = m_dir + "/second.db";
  const struct {
    std::string path;
    std::string why;
    bool hardLink;
  } files[] = {
      {damaged, "the database is damaged (", false},
      {second, "has [2] hard links: processes that opened it by different names would split and damage it", true},
  };
  for (const auto& f : files) {
    if (f.hardLink) {
      ASSERT_EQ(0, link(m_db.c_str(), f.path.c_str())) << strerror(errno);
    }
    for (const std::string command :
         {"run --group Sample --type 1 --job-id 3", "control --job 3 kill", "jobs", "job --job 3 complete", "tasks",
          "lab", "seed", "seed --replace"}) {
      SCOPED_TRACE(f.path + ": " + command);
      const drtest::SFileState before = drtest::StateOf(f.path);
      const SResult r = Host(command + " --db " + f.path);
      EXPECT_EQ(4, r.code) << r.output;
      EXPECT_TRUE(Has(r, f.why)) << r.output;
      EXPECT_EQ(1, std::count(r.output.begin(), r.output.end(), '\n')) << r.output;
      EXPECT_TRUE(before == drtest::StateOf(f.path)) << "the file changed or has a -wal or -shm beside it";
      EXPECT_FALSE(drtest::HasSiblings(m_db));
    }
  }
}

TEST_F(E2EDrJobLabFile, ADatabaseAnotherProcessHoldsIsReportedAsLockedAfterTheWait) {
  CreateDRJob(6);
  SProcessId previous;
  ASSERT_EQ(ELeaseResult::kTaken, CJobStore::TakeRunLease(6, CProcessIdentity::Self(), previous));
  sqlite3* holder = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(m_db.c_str(), &holder));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
  const std::string locked = "the database [" + m_db + "] is locked by another process (waited [100] ms)\n";
  const struct {
    std::string command;
    std::string line;
  } cases[] = {
      {"run --group Sample --type 1 --job-id 9", "drjob: cannot create the DR job in [" + m_db + "]: " + locked},
      {"control --job 6 kill", "drjob: cannot record the kill request for DR job [6]: " + locked},
      {"seed --replace", "drjob: cannot seed [" + m_db + "]: " + locked},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const SResult r = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_DB_BUSY_MS=100 " + DR_DRJOB + " " +
                                       c.command + " --db " + m_db + " 2>&1");
    EXPECT_EQ(4, r.code) << r.output;
    EXPECT_EQ(c.line, r.output);
  }
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  ASSERT_EQ(1u, drtest::AllJobs().size());
  EXPECT_EQ(0, drtest::AllJobs()[0].controlOp);
}

TEST_F(E2EDrJobLabFile, ARunFolderThatIsAFileOrABadBusyWaitStopsEveryCommand) {
  const std::string file = m_dir + "/runfile";
  Write(file, "");
  const std::string fresh = m_dir + "/fresh.db";
  for (const std::string& command : {"seed --db " + fresh, "run --db " + m_db + " --group Sample --type 1",
                                     "jobs --db " + m_db, "control --db " + m_db + " --job 1 kill"}) {
    SCOPED_TRACE(command);
    SResult r = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_RUN_DIR='" + file + "' " + DR_DRJOB + " " +
                                 command + " 2>&1");
    EXPECT_EQ(2, r.code) << r.output;
    EXPECT_EQ("drjob: the run folder [" + file + "] is not a folder (DR_RUN_DIR)\n", r.output);
    for (const char* wait : {"abc", "-1", "86400001", ""}) {
      r = drtest::RunShell(drtest::HostEnvironment(m_dir) + "DR_DB_BUSY_MS='" + wait + "' " + DR_DRJOB + " " +
                           command + " 2>&1");
      EXPECT_EQ(2, r.code) << r.output;
      EXPECT_EQ("drjob: DR_DB_BUSY_MS [" + std::string(wait) +
                    "] is not a number of milliseconds from 0 to 86400000\n",
                r.output);
    }
  }
  EXPECT_EQ(0, access(file.c_str(), F_OK));
  EXPECT_NE(0, access(fresh.c_str(), F_OK)) << "seed ran";
  EXPECT_TRUE(drtest::AllJobs().empty());
}

}  // namespace
