// The management database underneath the library: one SQLite file (by
// default "drorch.db" in the run folder), in WAL mode, a connection per
// thread while it works; a thread that goes to wait gives an idle one back
// for others (GiveBackIdleConnections).
// The write transactions of one process queue for each other
// (CDBWriterQueue); a writer meeting another process's lock retries in short
// steps up to the busy timeout. A failure that means the file cannot be
// written (full, I/O, read-only) is told to CDBUnwritableReport.
//
// Tables are created from the column lists the bindings register: the first
// use of a table on a connection creates it when it is missing.
#pragma once

#include <sqlite3.h>
#include <stddef.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/DBColumnBind.h"

class CDBWriterQueue;

// Library result codes. 0 success or a row, 100 no (more) row; errors are
// negative (SQLite's own codes never pass through).
enum EDBResult {
  DB_OK = 0,
  DB_NO_ROW = 100,
  DB_ERROR = -1,
  DB_BUSY = -2,
  DB_NOT_FOUND = -3,  // no such procedure or table description
  DB_BAD_STATE = -4,  // call out of order (no open cursor, nothing executed)
  DB_CONSTRAINT = -5,
};

struct SDBTableSchema {
  std::string name;
  std::vector<SDBColumnBind> columns;
  std::string serial;  // empty when none
  // The lookup indexes its owner declared, each a comma-separated column
  // list ("jobId, replicationId, phase").
  std::vector<std::string> indexes;
};

// What CDBConnection::CheckSchema looks for in a database file, and what it
// found.
struct SDBSchemaCheck {
  // Tables that must be there, and (table, column) pairs that must be.
  std::vector<std::string> tables;
  std::vector<std::pair<std::string, std::string>> columns;

  // Entries of the file's schema (tables, indexes, triggers, views), SQLite's
  // own left out: 0 for an empty file or an empty database.
  int objects = 0;
  // The first table (and column of it) not found.
  std::string missingTable;
  std::string missingColumn;
  // Why the file could not be read as a database.
  std::string error;
};

class CDBConnection {
 public:
  // The database file: the last one set, else $DR_DB_PATH, else the run
  // folder's "drorch.db".
  static std::string Path();
  static void SetPath(const std::string& path);
  // Real-time limit on waiting for another writer (not scaled: the lock is
  // held for real time, whatever the clock's scale).
  static void SetBusyTimeoutMs(int ms);
  // Whether a connection may create the database file (and its folders)
  // when it is missing; on by default. A process that must only ever use a
  // database that is there (drjob, all but its seed) turns it off at
  // start-up: a file moved away or removed then fails to open instead of
  // being made anew, empty, at its old path.
  static void SetMayCreate(bool may);
  static bool MayCreate();
  // From now on no connection of this process opens (the constructor and
  // ForThread fail); those open stay usable. For a process whose file was
  // replaced under it: a connection opened now would open the other file.
  static void RefuseNewConnections();

  // Registers the description of a table the platform serves, by its
  // owner, once at start-up (the owners' DescribeTables, which
  // CSimulators::Install calls): what EnsureTable creates the table from.
  // The first registration of a name wins. Bindings register nothing: they
  // describe only the columns they bind.
  static void RegisterTable(const char* name, const SDBColumnBind* columns, int count, const char* serial);
  template <size_t N>
  static void RegisterTable(const char* name, const SDBColumnBind (&columns)[N], const char* serial) {
    RegisterTable(name, columns, static_cast<int>(N), serial);
  }
  // Declares an index of a registered table on the columns its owner looks
  // rows up by (a comma-separated list): EnsureTable creates it with the
  // table, and on a table an earlier version created without it. A table
  // whose rows grow with a job must not be scanned per row it gets.
  static void RegisterIndex(const char* table, const char* columns);
  static bool FindTable(const std::string& name, SDBTableSchema& out);
  static std::vector<std::string> RegisteredTables();
  // CREATE TABLE text of a registered table.
  static std::string CreateTableSql(const SDBTableSchema& schema);

  // Opens the file read-only (never creating or changing it, nor leaving a
  // -wal or -shm file beside it) and checks that it is an intact database
  // holding every table and column named. DB_OK when it does; DB_NOT_FOUND
  // with the first absent table (and column) in check; DB_BUSY when another
  // process held it locked past the busy timeout; DB_ERROR with the reason
  // in check.error when the file cannot be read as a database or is damaged.
  static int CheckSchema(const std::string& path, SDBSchemaCheck& check);
  // CheckSchema of tables only.
  static int CheckTables(const std::string& path, const std::vector<std::string>& tables, std::string& missing,
                         std::string& error);
  // The busy timeout in use, in real milliseconds.
  static int BusyTimeoutMs();

  // False in a process that declared it has no management database
  // ($DR_NO_DATABASE set to anything but "" or "0", as the completion
  // notifier does): nothing there opens, let alone creates, a database file.
  static bool Available();
  // While on, every statement text any connection prepares is kept (in the
  // order first seen), for a test that asks the query planner about each.
  static void RecordStatements(bool on);
  static std::vector<std::string> RecordedStatements();
  // CREATE INDEX text of a declared index.
  static std::string CreateIndexSql(const std::string& table, const std::string& columns);

  // The calling thread's connection to the current path (opened on first
  // use, closed when the thread ends); null when it cannot be opened, and in
  // a process without a database.
  static CDBConnection* ForThread();
  // Closes the calling thread's connections (tests moving to a new file).
  static void CloseThreadConnections();
  // Closes the calling thread's connections and the idle ones of the pool:
  // a process at its end, whose other threads have ended. The last
  // connection to a file to close copies the WAL into the file and removes
  // the -wal and -shm; a connection left open elsewhere keeps them.
  static void CloseIdleConnections();
  // Writers of this process waiting for their turn on the current path.
  static int WaitingWriters();
  // Gives the calling thread's idle connections (Idle) to a process-wide
  // pool, from which ForThread takes one before it opens a new one. Called
  // before a thread blocks in one of the engine's waits (core/BlockingHook.h):
  // a connection of a thread that waits is then one another thread uses.
  static void GiveBackIdleConnections();
  // Takes a turn to write on every file this process writes, but those the
  // calling thread is writing now, so that no other thread of the process
  // is inside a write transaction until ReleaseHeldWriters (a pause point's
  // stop: log/CrashPoint.h). A turn not had within a few seconds of real
  // time is given up: its writer may wait on the caller.
  // Writes outside a transaction that other threads start meanwhile wait
  // for the release, and one already under way is waited out.
  static void HoldOtherWriters();
  static void ReleaseHeldWriters();
  // Connections open in this process, in threads and in the pool.
  static int OpenConnections();

  explicit CDBConnection(const std::string& path);
  ~CDBConnection();
  CDBConnection(const CDBConnection&) = delete;
  CDBConnection& operator=(const CDBConnection&) = delete;

  bool IsOpen() const { return m_db != nullptr; }
  // Nothing open: no transaction or turn to write, every statement given
  // back. Only such a connection may move to another thread.
  bool Idle() const;
  // The file the path names is still the one this connection opened.
  bool StillAtItsPath() const;
  sqlite3* Handle() const { return m_db; }
  const std::string& FilePath() const { return m_path; }

  // Copies every frame of the file's WAL into the file and empties the WAL
  // (a truncating checkpoint), waiting up to the busy timeout for the
  // readers and the writer of the file. DB_OK once the WAL is empty; DB_BUSY
  // when one outlasted the wait (the frames before its own are copied all
  // the same); DB_ERROR when the file is not in WAL mode or cannot be
  // written.
  int EmptyWal();

  // Makes sure the registered table exists on this database.
  int EnsureTable(const std::string& name);
  // Every registered table.
  int EnsureAllTables();
  // Drops every table and view of the database and empties SQLite's own
  // tables, inside the caller's transaction when one is open; the tables are
  // created again on their next use. DB_OK or the first error.
  int DropSchema();
  // Runs create once per connection under the key (a simulated store's own
  // tables, which no binding describes); DB_OK or create's error.
  int EnsureSchema(const std::string& key, const std::function<int(CDBConnection&)>& create);

  // A prepared statement, cached by text; reset and cleared before reuse.
  // Null on error (code and text in LastError*).
  sqlite3_stmt* Prepare(const std::string& sql, bool cache = true);
  // Gives back a statement from Prepare (finalised unless it is cached).
  void Release(sqlite3_stmt* stmt);

  // Runs one statement to its end. DB_OK or an error.
  int Exec(const std::string& sql);

  // Write transactions: the writer waits its turn behind this process's
  // earlier writers, then BEGIN IMMEDIATE takes the write lock up front, so
  // it does not fail on an upgrade. DB_BUSY when the turn or the lock did not
  // come within the busy timeout. Commit or Rollback gives the turn on.
  int BeginWrite();
  int Commit();
  int Rollback();
  bool InTransaction() const;

  // The library's code of a SQLite result.
  static int ResultCode(int sqliteRc);
  // Maps a SQLite result to the library's codes and remembers its text.
  int MapError(int sqliteRc);
  int LastErrorCode() const { return m_lastError; }
  const std::string& LastErrorText() const { return m_lastErrorText; }

 private:
  static int OnBusy(void* self, int count);
  void LeaveQueueWhenDone();
  // A write outside a transaction (stmt, or any statement of Exec when
  // null) waits here while a pause holds the writers (HoldOtherWriters).
  void PassPauseGate(sqlite3_stmt* stmt) const;

  std::string m_path;
  sqlite3* m_db;
  std::shared_ptr<CDBWriterQueue> m_writers;
  bool m_queued = false;  // holds its turn in m_writers
  long long m_busySinceUs = 0;
  int m_changesAtBegin = 0;  // sqlite3_total_changes when the write began
  int m_handedOut = 0;  // cached statements handed out and not given back
  unsigned m_generation = 0;  // of the schema when its tables were last checked
  dev_t m_dev = 0;
  ino_t m_ino = 0;
  std::map<std::string, sqlite3_stmt*> m_cache;
  std::map<std::string, bool> m_ensured;
  int m_lastError;
  std::string m_lastErrorText;
};
