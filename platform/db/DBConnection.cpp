#include "db/DBConnection.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <set>

#include "core/BlockingHook.h"
#include "core/Mutex.h"
#include "core/RunFolder.h"
#include "db/DBUnwritableReport.h"
#include "db/DBWriterQueue.h"
#include "log/CrashPoint.h"

namespace {

CMutex g_configMutex;
std::string g_path DR_GUARDED_BY(g_configMutex);  // empty: the run folder's file
std::atomic<int> g_busyTimeoutMs{30000};
std::atomic<bool> g_mayCreate{true};
std::atomic<bool> g_refuseOpen{false};

CMutex g_schemaMutex;
std::map<std::string, SDBTableSchema>& Schemas() DR_REQUIRES(g_schemaMutex) {
  static std::map<std::string, SDBTableSchema>* s = new std::map<std::string, SDBTableSchema>();
  return *s;
}

std::atomic<bool> g_recording{false};
std::atomic<int> g_open{0};
CMutex g_recordMutex;
std::vector<std::string> g_recorded DR_GUARDED_BY(g_recordMutex);
std::set<std::string> g_recordedSeen DR_GUARDED_BY(g_recordMutex);

// The calling thread's open connections, one per database file.
struct SThreadConnections {
  std::map<std::string, std::unique_ptr<CDBConnection>> byPath;
};
thread_local SThreadConnections t_connections;

// Bumped by every DropSchema: a connection lent again re-checks its tables.
std::atomic<unsigned> g_schemaGeneration{0};

// Connections given back by threads that went to wait, per database file.
// A DR job runs hundreds of threads that reach the database now and then and
// wait on each other the rest of the time; a connection is some two hundred
// kilobytes (its schema, statements and pages), so one per thread made
// memory grow with the thread count.
class CConnectionPool {
 public:
  std::unique_ptr<CDBConnection> Take(const std::string& path) {
    for (;;) {
      std::unique_ptr<CDBConnection> c;
      {
        CMutexLock lk(m_mutex);
        std::vector<std::unique_ptr<CDBConnection>>& idle = m_idle[path];
        if (idle.empty()) return nullptr;
        c = std::move(idle.back());
        idle.pop_back();
      }
      // A file removed or replaced since (a test's, or a lab moved away)
      // is not the database the path names now.
      if (c->StillAtItsPath()) return c;
    }
  }
  void DropAll() {
    std::map<std::string, std::vector<std::unique_ptr<CDBConnection>>> idle;
    {
      CMutexLock lk(m_mutex);
      idle.swap(m_idle);
    }
  }
  void Give(std::unique_ptr<CDBConnection> c) {
    CMutexLock lk(m_mutex);
    std::vector<std::unique_ptr<CDBConnection>>& idle = m_idle[c->FilePath()];
    if (idle.size() < kMaxIdle) idle.push_back(std::move(c));
  }

 private:
  static constexpr size_t kMaxIdle = 32;
  CMutex m_mutex;
  std::map<std::string, std::vector<std::unique_ptr<CDBConnection>>> m_idle DR_GUARDED_BY(m_mutex);
};

CConnectionPool& Pool() {
  // Never destroyed: threads may reach the database while the process exits.
  static CConnectionPool* pool = new CConnectionPool();
  return *pool;
}

const bool g_givesBackWhenBlocking = [] {
  CBlockingHook::Set(&CDBConnection::GiveBackIdleConnections);
  CPausePoint::SetHold(&CDBConnection::HoldOtherWriters, &CDBConnection::ReleaseHeldWriters);
  return true;
}();

// The turns a pause holds while the process stands stopped.
CMutex g_heldMutex;
std::vector<std::shared_ptr<CDBWriterQueue>> g_held DR_GUARDED_BY(g_heldMutex);
const int kHoldForPauseMs = 3000;

// Up while a pause holds the writers. A write outside a transaction takes
// no turn in a writer queue, and one stopped half-way would keep SQLite's
// write lock until SIGCONT: such writes wait here instead, before they start.
std::atomic<bool> g_pauseGate{false};
CMutex g_gateMutex;
std::condition_variable g_gateOpened;

// Returns once nobody, in this process or another, is writing the file (or
// after kHoldForPauseMs): a write that began before the gate went up ends
// before the stop. The file's lock is taken and given straight back.
void WaitOutWriteLock(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, kHoldForPauseMs);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  }
  sqlite3_close(db);
}

const char* SqlType(char kind) {
  switch (kind) {
    case 'i':
    case 'b':
    case 'x':
      return "INTEGER";
    case 'f':
      return "REAL";
    default:
      return "TEXT";
  }
}

}  // namespace

std::string CDBConnection::Path() {
  CMutexLock lk(g_configMutex);
  if (!g_path.empty()) return g_path;
  const char* env = getenv("DR_DB_PATH");
  if (env && *env) return env;
  return CRunFolder::File("drorch.db");
}

void CDBConnection::SetPath(const std::string& path) {
  {
    CMutexLock lk(g_configMutex);
    g_path = path;
  }
  // Idle connections to the file before hold it open for nobody (a test's
  // folder is removed after it).
  Pool().DropAll();
}

void CDBConnection::SetBusyTimeoutMs(int ms) { g_busyTimeoutMs.store(ms); }

void CDBConnection::SetMayCreate(bool may) { g_mayCreate.store(may); }

bool CDBConnection::MayCreate() { return g_mayCreate.load(); }

void CDBConnection::RefuseNewConnections() { g_refuseOpen.store(true); }

void CDBConnection::RegisterTable(const char* name, const SDBColumnBind* columns, int count, const char* serial) {
  if (!name || !*name || !columns || count <= 0) return;
  CMutexLock lk(g_schemaMutex);
  auto& m = Schemas();
  if (m.count(name)) return;
  SDBTableSchema s;
  s.name = name;
  s.columns.assign(columns, columns + count);
  s.serial = serial ? serial : "";
  m[name] = s;
}

void CDBConnection::RegisterIndex(const char* table, const char* columns) {
  if (!table || !columns || !*columns) return;
  CMutexLock lk(g_schemaMutex);
  auto it = Schemas().find(table);
  if (it == Schemas().end()) return;
  std::vector<std::string>& indexes = it->second.indexes;
  if (std::find(indexes.begin(), indexes.end(), columns) == indexes.end()) indexes.push_back(columns);
}

std::string CDBConnection::CreateIndexSql(const std::string& table, const std::string& columns) {
  std::string name = "idx_" + table;
  for (char ch : columns) {
    if (isalnum(static_cast<unsigned char>(ch))) name += ch;
    if (ch == ',') name += '_';
  }
  return "CREATE INDEX IF NOT EXISTS \"" + name + "\" ON \"" + table + "\" (" + columns + ")";
}

void CDBConnection::RecordStatements(bool on) {
  CMutexLock lk(g_recordMutex);
  g_recording = on;
  g_recorded.clear();
  g_recordedSeen.clear();
}

std::vector<std::string> CDBConnection::RecordedStatements() {
  CMutexLock lk(g_recordMutex);
  return g_recorded;
}

bool CDBConnection::FindTable(const std::string& name, SDBTableSchema& out) {
  CMutexLock lk(g_schemaMutex);
  auto it = Schemas().find(name);
  if (it == Schemas().end()) return false;
  out = it->second;
  return true;
}

std::vector<std::string> CDBConnection::RegisteredTables() {
  CMutexLock lk(g_schemaMutex);
  std::vector<std::string> names;
  for (auto& kv : Schemas()) names.push_back(kv.first);
  return names;
}

std::string CDBConnection::CreateTableSql(const SDBTableSchema& s) {
  std::string sql = "CREATE TABLE IF NOT EXISTS \"" + s.name + "\" (";
  for (size_t i = 0; i < s.columns.size(); ++i) {
    const SDBColumnBind& c = s.columns[i];
    if (i) sql += ", ";
    sql += "\"";
    sql += c.name;
    sql += "\" ";
    if (!s.serial.empty() && s.serial == c.name) {
      sql += "INTEGER PRIMARY KEY";
    } else {
      sql += SqlType(DBParseColumnToken(c.token).kind);
    }
  }
  sql += ")";
  return sql;
}

bool CDBConnection::Available() {
  const char* none = getenv("DR_NO_DATABASE");
  return none == nullptr || *none == '\0' || strcmp(none, "0") == 0;
}

CDBConnection* CDBConnection::ForThread() {
  if (!Available()) return nullptr;
  std::string path = Path();
  auto& slot = t_connections.byPath[path];
  if (!slot) slot = Pool().Take(path);
  if (slot) {
    // A table dropped since its owner last checked for it is made again.
    const unsigned generation = g_schemaGeneration.load();
    if (slot->m_generation != generation) {
      slot->m_ensured.clear();
      slot->m_generation = generation;
    }
  } else {
    std::unique_ptr<CDBConnection> c(new CDBConnection(path));
    if (!c->IsOpen()) {
      t_connections.byPath.erase(path);
      return nullptr;
    }
    slot = std::move(c);
  }
  return slot.get();
}

namespace {

// The URI of a file path, every byte that could be read as URI syntax
// escaped.
std::string FileUri(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string uri = "file:";
  for (unsigned char c : path) {
    if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

// A database in WAL mode that nobody has open has no -wal file; a read-only
// connection would create one (and a -shm) and, being read-only, leave them
// behind. Without a -wal there is nothing but the file to read, so it is read
// as immutable: no locks, nothing made beside it. (Not by reading the file's
// header first: closing any descriptor of the file would drop the locks this
// process's own connections hold on it.)
bool ReadAsImmutable(const std::string& path) {
  struct stat st;
  return stat((path + "-wal").c_str(), &st) != 0 && errno == ENOENT;
}

}  // namespace

int CDBConnection::CheckSchema(const std::string& path, SDBSchemaCheck& check) {
  sqlite3* db = nullptr;
  const bool immutable = ReadAsImmutable(path);
  const std::string name = immutable ? FileUri(path) + "?immutable=1" : path;
  int rc = sqlite3_open_v2(name.c_str(), &db,
                           SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | (immutable ? SQLITE_OPEN_URI : 0), nullptr);
  if (rc != SQLITE_OK) {
    check.error = db ? sqlite3_errmsg(db) : "cannot open the file";
    if (db) sqlite3_close(db);
    return DB_ERROR;
  }
  sqlite3_busy_timeout(db, g_busyTimeoutMs.load());
  int result = DB_OK;
  auto fail = [&](int code) {
    result = ResultCode(code) == DB_BUSY ? DB_BUSY : DB_ERROR;
    check.error = sqlite3_errmsg(db);
  };
  // A damaged page anywhere, not only in the schema, refuses the file.
  sqlite3_stmt* s = nullptr;
  rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(1)", -1, &s, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    const unsigned char* text = sqlite3_column_text(s, 0);
    const std::string answer = text ? reinterpret_cast<const char*>(text) : "";
    if (answer != "ok") {
      // One line: the check's heading dropped, its findings joined.
      std::string findings;
      size_t pos = 0;
      while (pos < answer.size()) {
        size_t end = answer.find('\n', pos);
        if (end == std::string::npos) end = answer.size();
        const std::string line = answer.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || line.compare(0, 3, "***") == 0) continue;
        findings += (findings.empty() ? "" : "; ") + line;
      }
      result = DB_ERROR;
      check.error = "the database is damaged (" + findings + ")";
    }
  } else {
    fail(rc);
  }
  sqlite3_finalize(s);
  s = nullptr;
  if (result == DB_OK) {
    rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE substr(name, 1, 7) != 'sqlite_'", -1, &s,
                            nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      check.objects = sqlite3_column_int(s, 0);
    } else {
      fail(rc);
    }
    sqlite3_finalize(s);
    s = nullptr;
  }
  if (result == DB_OK) {
    rc = sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", -1, &s, nullptr);
    if (rc != SQLITE_OK) fail(rc);
  }
  for (size_t i = 0; result == DB_OK && i < check.tables.size(); ++i) {
    sqlite3_reset(s);
    sqlite3_bind_text(s, 1, check.tables[i].c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) {
      check.missingTable = check.tables[i];
      result = DB_NOT_FOUND;
    } else if (rc != SQLITE_ROW) {
      fail(rc);
    }
  }
  sqlite3_finalize(s);
  s = nullptr;
  if (result == DB_OK && !check.columns.empty()) {
    rc = sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_table_info(?) WHERE name = ?", -1, &s, nullptr);
    if (rc != SQLITE_OK) fail(rc);
  }
  for (size_t i = 0; result == DB_OK && i < check.columns.size(); ++i) {
    sqlite3_reset(s);
    sqlite3_bind_text(s, 1, check.columns[i].first.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 2, check.columns[i].second.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) {
      check.missingTable = check.columns[i].first;
      check.missingColumn = check.columns[i].second;
      result = DB_NOT_FOUND;
    } else if (rc != SQLITE_ROW) {
      fail(rc);
    }
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return result;
}

int CDBConnection::CheckTables(const std::string& path, const std::vector<std::string>& tables,
                               std::string& missing, std::string& error) {
  SDBSchemaCheck check;
  check.tables = tables;
  const int rc = CheckSchema(path, check);
  missing = check.missingTable;
  error = check.error;
  return rc;
}

int CDBConnection::BusyTimeoutMs() { return g_busyTimeoutMs.load(); }

void CDBConnection::CloseThreadConnections() { t_connections.byPath.clear(); }

void CDBConnection::CloseIdleConnections() {
  CloseThreadConnections();
  Pool().DropAll();
}

int CDBConnection::OpenConnections() { return g_open.load(); }

void CDBConnection::GiveBackIdleConnections() {
  for (auto it = t_connections.byPath.begin(); it != t_connections.byPath.end();) {
    // One with something open (a transaction, a turn to write, a statement
    // handed out or a cursor) stays: a frame of this thread still uses it.
    if (it->second->Idle()) {
      Pool().Give(std::move(it->second));
      it = t_connections.byPath.erase(it);
    } else {
      ++it;
    }
  }
}

void CDBConnection::HoldOtherWriters() {
  std::set<const CDBWriterQueue*> own;
  for (const auto& kv : t_connections.byPath) {
    if (kv.second && kv.second->m_queued) own.insert(kv.second->m_writers.get());
  }
  g_pauseGate = true;
  CMutexLock lk(g_heldMutex);
  for (const auto& kv : CDBWriterQueue::All()) {
    // The caller's own transaction holds the file's lock: nothing to wait out.
    if (own.count(kv.second.get()) != 0) continue;
    if (kv.second->Enter(kHoldForPauseMs)) g_held.push_back(kv.second);
    WaitOutWriteLock(kv.first);
  }
}

void CDBConnection::ReleaseHeldWriters() {
  {
    CMutexLock gate(g_gateMutex);
    g_pauseGate = false;
  }
  g_gateOpened.notify_all();
  CMutexLock lk(g_heldMutex);
  for (const std::shared_ptr<CDBWriterQueue>& queue : g_held) queue->Leave();
  g_held.clear();
}

void CDBConnection::PassPauseGate(sqlite3_stmt* stmt) const {
  if (!g_pauseGate.load(std::memory_order_relaxed)) return;
  if ((stmt != nullptr && sqlite3_stmt_readonly(stmt)) || m_queued || InTransaction()) return;
  CMutexLock lk(g_gateMutex);
  while (g_pauseGate.load()) g_gateOpened.wait(lk.Native());
}

bool CDBConnection::Idle() const {
  if (!m_db || InTransaction() || m_queued || m_handedOut != 0) return false;
  size_t statements = 0;
  for (sqlite3_stmt* s = sqlite3_next_stmt(m_db, nullptr); s != nullptr; s = sqlite3_next_stmt(m_db, s)) {
    ++statements;
  }
  // Only the cached ones, each given back.
  return statements == m_cache.size();
}

bool CDBConnection::StillAtItsPath() const {
  struct stat st;
  return m_db != nullptr && stat(m_path.c_str(), &st) == 0 && st.st_dev == m_dev && st.st_ino == m_ino;
}

CDBConnection::CDBConnection(const std::string& path) : m_path(path), m_db(nullptr), m_lastError(0) {
  if (g_refuseOpen.load()) {
    m_lastErrorText = "no database is opened any more in this process";
    m_lastError = DB_ERROR;
    return;
  }
  // Without leave to create, a file that is gone stays gone: a lab moved
  // away under a running job is not reopened as a new, empty one.
  const bool create = g_mayCreate.load();
  size_t slash = path.find_last_of('/');
  if (create && slash != std::string::npos && slash > 0) CRunFolder::MakeDirs(path.substr(0, slash));
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db,
                           SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    m_lastErrorText = db ? sqlite3_errmsg(db) : "cannot open database";
    m_lastError = DB_ERROR;
    if (db) sqlite3_close(db);
    return;
  }
  m_db = db;
  ++g_open;
  m_writers = CDBWriterQueue::ForPath(path);
  m_generation = g_schemaGeneration.load();
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    m_dev = st.st_dev;
    m_ino = st.st_ino;
  }
  // The busy handler first: switching to WAL briefly needs the lock another
  // connection may hold.
  sqlite3_busy_handler(m_db, OnBusy, this);
  // Not through Exec, whose writes wait out a pause: a connection opened
  // meanwhile is for a write that waits in its queue, or for a read.
  sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_exec(m_db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
}

CDBConnection::~CDBConnection() {
  for (auto& kv : m_cache) sqlite3_finalize(kv.second);
  m_cache.clear();
  // Closing rolls back what is open; the turn goes on after.
  if (m_db) {
    sqlite3_close_v2(m_db);
    --g_open;
  }
  m_db = nullptr;
  LeaveQueueWhenDone();
}

namespace {

long long RealNowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int CDBConnection::OnBusy(void* self, int count) {
  // The lock is held for real time, whatever the clock's scale. SQLite's own
  // back-off sleeps up to 100 ms a retry against transactions of well under
  // a millisecond: retry in short, growing steps instead.
  CDBConnection* c = static_cast<CDBConnection*>(self);
  const long long now = RealNowUs();
  if (count == 0) c->m_busySinceUs = now;
  if (now - c->m_busySinceUs >= static_cast<long long>(g_busyTimeoutMs.load()) * 1000) return 0;
  const int shift = count < 5 ? count : 5;
  usleep(static_cast<useconds_t>(50 << shift));
  return 1;
}

void CDBConnection::LeaveQueueWhenDone() {
  if (!m_queued || InTransaction()) return;
  m_queued = false;
  m_writers->Leave();
}

int CDBConnection::WaitingWriters() { return CDBWriterQueue::ForPath(Path())->Waiting(); }

int CDBConnection::ResultCode(int rc) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return DB_OK;
  int primary = rc & 0xff;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return DB_BUSY;
  if (primary == SQLITE_CONSTRAINT) return DB_CONSTRAINT;
  return DB_ERROR;
}

int CDBConnection::MapError(int rc) {
  int code = ResultCode(rc);
  if (code == DB_OK) return DB_OK;
  m_lastErrorText = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
  m_lastError = code;
  // A write transaction on a full disk fails here at the latest at its
  // COMMIT, and its caller retries without a word: the process's report
  // says so when the file cannot be written.
  CDBUnwritableReport::Process().Failed(m_path, rc, m_lastErrorText);
  return code;
}

int CDBConnection::EnsureSchema(const std::string& key, const std::function<int(CDBConnection&)>& create) {
  if (m_ensured.count(key)) return DB_OK;
  int rc = create(*this);
  if (rc == DB_OK) m_ensured[key] = true;
  return rc;
}

int CDBConnection::EnsureTable(const std::string& name) {
  if (m_ensured.count(name)) return DB_OK;
  SDBTableSchema s;
  if (!FindTable(name, s)) {
    m_lastError = DB_NOT_FOUND;
    m_lastErrorText = "no description of table " + name;
    return DB_NOT_FOUND;
  }
  int rc = Exec(CreateTableSql(s));
  // An index only speeds look-ups up: a name that is a view (as some tests
  // make it) takes none, and serves all the same.
  for (size_t i = 0; rc == DB_OK && i < s.indexes.size(); ++i) Exec(CreateIndexSql(s.name, s.indexes[i]));
  if (rc == DB_OK) m_ensured[name] = true;
  return rc;
}

int CDBConnection::EnsureAllTables() {
  for (const std::string& n : RegisteredTables()) {
    int rc = EnsureTable(n);
    if (rc != DB_OK) return rc;
  }
  return DB_OK;
}

int CDBConnection::DropSchema() {
  sqlite3_stmt* s = Prepare("SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')", false);
  if (!s) return m_lastError;
  std::vector<std::pair<std::string, std::string>> objects;
  int rc = SQLITE_ROW;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    objects.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                         reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
  }
  Release(s);
  if (rc != SQLITE_DONE) return MapError(rc);
  // Cached statements name what is about to go.
  for (auto& kv : m_cache) sqlite3_finalize(kv.second);
  m_cache.clear();
  m_handedOut = 0;
  m_ensured.clear();
  ++g_schemaGeneration;
  for (const auto& object : objects) {
    std::string quoted;
    for (char ch : object.second) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    // SQLite's own tables cannot be dropped, only emptied.
    const bool own = object.second.compare(0, 7, "sqlite_") == 0;
    const std::string sql = own ? "DELETE FROM \"" + quoted + "\""
                                : "DROP " + std::string(object.first == "view" ? "VIEW" : "TABLE") + " IF EXISTS \"" +
                                      quoted + "\"";
    const int code = Exec(sql);
    if (code != DB_OK) return code;
  }
  return DB_OK;
}

sqlite3_stmt* CDBConnection::Prepare(const std::string& sql, bool cache) {
  if (!m_db) return nullptr;
  if (cache) {
    auto it = m_cache.find(sql);
    if (it != m_cache.end() && !sqlite3_stmt_busy(it->second)) {
      sqlite3_reset(it->second);
      sqlite3_clear_bindings(it->second);
      PassPauseGate(it->second);
      ++m_handedOut;
      return it->second;
    }
  }
  if (g_recording.load(std::memory_order_relaxed)) {
    CMutexLock lk(g_recordMutex);
    if (g_recording && g_recordedSeen.insert(sql).second) g_recorded.push_back(sql);
  }
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(m_db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK) {
    MapError(rc);
    if (stmt) sqlite3_finalize(stmt);
    return nullptr;
  }
  if (!stmt) {
    m_lastError = DB_ERROR;
    m_lastErrorText = "empty statement";
    return nullptr;
  }
  PassPauseGate(stmt);
  if (cache && !m_cache.count(sql)) {
    m_cache[sql] = stmt;
    ++m_handedOut;
  }
  return stmt;
}

void CDBConnection::Release(sqlite3_stmt* stmt) {
  if (!stmt) return;
  const char* sql = sqlite3_sql(stmt);
  auto it = sql ? m_cache.find(sql) : m_cache.end();
  if (it != m_cache.end() && it->second == stmt) {
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (m_handedOut > 0) --m_handedOut;
    return;
  }
  sqlite3_finalize(stmt);
}

int CDBConnection::Exec(const std::string& sql) {
  if (!m_db) return DB_ERROR;
  // Its statements are never queries (their rows would go nowhere).
  PassPauseGate(nullptr);
  char* err = nullptr;
  int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &err);
  if (err) sqlite3_free(err);
  return MapError(rc);
}

int CDBConnection::EmptyWal() {
  if (!m_db) return DB_ERROR;
  int logFrames = -1;
  int copied = -1;
  const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logFrames, &copied);
  if (rc != SQLITE_OK) return MapError(rc);
  // Not in WAL mode, the call answers -1 frames and does nothing.
  if (logFrames != 0) {
    m_lastError = DB_ERROR;
    m_lastErrorText = "the database is not in WAL mode";
    return DB_ERROR;
  }
  return DB_OK;
}

int CDBConnection::BeginWrite() {
  if (!m_db) return DB_ERROR;
  if (!m_queued) {
    if (!m_writers->Enter(g_busyTimeoutMs.load())) {
      m_lastError = DB_BUSY;
      m_lastErrorText = "database is locked (by a write of this process that outlasted the busy timeout)";
      return DB_BUSY;
    }
    m_queued = true;
  }
  sqlite3_stmt* s = Prepare("BEGIN IMMEDIATE");
  int rc = s != nullptr ? MapError(sqlite3_step(s)) : m_lastError;
  if (s != nullptr) Release(s);
  LeaveQueueWhenDone();
  m_changesAtBegin = sqlite3_total_changes(m_db);
  return rc;
}

int CDBConnection::Commit() {
  sqlite3_stmt* s = Prepare("COMMIT");
  if (!s) return m_lastError;
  int rc = sqlite3_step(s);
  Release(s);
  // A commit that failed may have rolled back: either way, once nothing is
  // open the turn goes on.
  LeaveQueueWhenDone();
  // A change that reached the file: a database reported unwritable is
  // written again.
  if (rc == SQLITE_DONE && sqlite3_total_changes(m_db) != m_changesAtBegin) {
    CDBUnwritableReport::Process().Written(m_path);
  }
  return MapError(rc);
}

int CDBConnection::Rollback() {
  if (!InTransaction()) {
    LeaveQueueWhenDone();
    return DB_OK;
  }
  // A table created inside the transaction goes with it.
  m_ensured.clear();
  const int rc = Exec("ROLLBACK");
  LeaveQueueWhenDone();
  return rc;
}

bool CDBConnection::InTransaction() const { return m_db && !sqlite3_get_autocommit(m_db); }
