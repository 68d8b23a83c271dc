#include "jobsim/JobNotices.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/Mutex.h"
#include "db/App_MiscOptions.h"
#include "db/DBWriteScope.h"
#include "jobsim/SimJobStore.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

extern char** environ;

namespace {

// States of a registration.
constexpr int kWaiting = 0;    // the job has not ended
constexpr int kDueLater = 1;   // the job ended; a delayed notice counts down
constexpr int kDelivered = 2;  // claimed by the one who sends it
constexpr int kDropped = 3;    // never sent

const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_SimNotices (id INTEGER PRIMARY KEY AUTOINCREMENT, jobId INTEGER NOT NULL,"
    " haldenId INTEGER NOT NULL DEFAULT 0, token TEXT NOT NULL, state INTEGER NOT NULL DEFAULT 0,"
    " sendToken TEXT, copies INTEGER NOT NULL DEFAULT 1, delayMs INTEGER NOT NULL DEFAULT 0,"
    " created INTEGER NOT NULL DEFAULT 0)";

int CreateTable(CDBConnection& c) { return c.Exec(kSchema); }

CDBConnection* Ready(const char* function) { return SimReady(function, CJobNotices::kTable, CreateTable); }

struct SDelivery {
  CMutex mutex;
  std::function<void(unsigned long long, std::string&)> inProcess DR_GUARDED_BY(mutex);
  std::string notifier DR_GUARDED_BY(mutex);
  std::string library DR_GUARDED_BY(mutex);
};

SDelivery& Delivery() {
  static auto* delivery = new SDelivery();
  return *delivery;
}

// The token a foreign-token fault sends: the same, naming another DR job
// (field 2 of "DRSrvc|<DR job>|<thread>|JobWait|<child>").
std::string ForeignToken(const std::string& token, long long drJobId) {
  const size_t first = token.find('|');
  if (first == std::string::npos) return "DRSrvc|" + std::to_string(drJobId);
  const size_t second = token.find('|', first + 1);
  return token.substr(0, first + 1) + std::to_string(drJobId) +
         (second == std::string::npos ? std::string() : token.substr(second));
}

SNotice NoticeToSend(long long id, const SChildJobRecord& job, const std::string& token) {
  SNotice n;
  n.id = id;
  n.jobId = job.jobId;
  n.token = token;
  const SJobFaults& f = job.faults;
  if (f.flags & kFaultNoticeForeignToken) {
    n.token = ForeignToken(token, f.foreignDrJobId != 0 ? f.foreignDrJobId : job.parentJobId + 1);
  }
  n.copies = (f.flags & kFaultNoticeDoubled) ? 2 : 1;
  return n;
}

// Starts the notifier with an argument vector and waits for it; its output
// goes to the log.
void RunNotifier(const std::string& path, const std::string& library, unsigned long long jobId,
                 const std::string& token) {
  EvDebug event(static_cast<int64_t>(jobId));
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    event.Error("RunNotifier", "Cannot make a pipe for the notifier of job [%llu]", jobId);
    return;
  }
  const std::string id = std::to_string(jobId);
  std::vector<std::string> args = {path};
  if (!library.empty()) {
    args.push_back("--library");
    args.push_back(library);
  }
  args.push_back(id);
  args.push_back(token);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    event.Error("RunNotifier", "Cannot start the notifier [%s] for job [%llu]: error [%d]", path.c_str(), jobId, rc);
    return;
  }
  std::string output;
  char buffer[512];
  ssize_t n = 0;
  while ((n = read(fds[0], buffer, sizeof(buffer))) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) output.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  while (!output.empty() && output.back() == '\n') output.pop_back();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code != 0) {
    event.Error("RunNotifier", "Notifier for job [%llu] exited [%d]: [%s]", jobId, code, output.c_str());
    return;
  }
  event.DebugLvl(2, "RunNotifier", "Notified completion of job [%llu] with token [%s]; notifier said [%s]", jobId,
                 token.c_str(), output.c_str());
}

void DeliverOne(unsigned long long jobId, const std::string& token) {
  std::function<void(unsigned long long, std::string&)> inProcess;
  std::string notifier, library;
  {
    SDelivery& d = Delivery();
    CMutexLock lock(d.mutex);
    inProcess = d.inProcess;
    notifier = d.notifier;
    library = d.library;
  }
  if (inProcess) {
    std::string sent = token;
    EvDebug(static_cast<int64_t>(jobId))
        .DebugLvl(2, "DeliverNotice", "Notifying completion of job [%llu] with token [%s]", jobId, token.c_str());
    inProcess(jobId, sent);
    return;
  }
  if (notifier.empty()) {
    EvDebug(static_cast<int64_t>(jobId))
        .Error("DeliverNotice", "No notifier program to tell completion of job [%llu] with token [%s]", jobId,
               token.c_str());
    return;
  }
  RunNotifier(notifier, library, jobId, token);
}

}  // namespace

bool CJobNotices::CreateTables() { return Ready("CreateTables") != nullptr; }

void CJobNotices::SetInProcessDelivery(std::function<void(unsigned long long, std::string&)> deliver) {
  SDelivery& d = Delivery();
  CMutexLock lock(d.mutex);
  d.inProcess = std::move(deliver);
}

void CJobNotices::SetNotifierPath(const std::string& path) {
  SDelivery& d = Delivery();
  CMutexLock lock(d.mutex);
  d.notifier = path;
}

void CJobNotices::SetNotifierLibrary(const std::string& path) {
  SDelivery& d = Delivery();
  CMutexLock lock(d.mutex);
  d.library = path;
}

int CJobNotices::Register(long long jobId, int haldenId, const std::string& token) {
  EvDebug event(jobId);
  CDBConnection* c = Ready("Register");
  if (c == nullptr) return kStoreFailed;
  SChildJobRecord job;
  SNotice early;
  {
    CDBWriteScope scope(c);
    if (!scope.Ok()) return kStoreFailed;
    const EStoreResult read = CSimJobStore::Get(jobId, job);
    if (read == EStoreResult::kMissing) {
      event.Error("Register", "No child job [%lld] to notify completion of", jobId);
      return kUnknownJob;
    }
    if (read != EStoreResult::kOk) return kStoreFailed;
    if (job.ended) return kJobAlreadyCompleted;
    if (job.faults.flags & kFaultNoticeRefused) {
      event.Error("Register", "Completion notice of job [%lld] refused (planted fault)", jobId);
      return kRefused;
    }
    const bool sendNow = (job.faults.flags & kFaultNoticeEarly) != 0;
    CSimStatement s(c, "Register",
                    "INSERT INTO PLT_SimNotices (jobId, haldenId, token, state, created) VALUES (?, ?, ?, ?, ?)");
    s.Bind(jobId).Bind(haldenId).Bind(token).Bind(sendNow ? kDelivered : kWaiting);
    s.Bind(CPlatformClock::Instance().NowEpochSeconds());
    if (s.Run() != EStoreResult::kOk || !scope.Commit()) return kStoreFailed;
    if (sendNow) early = NoticeToSend(sqlite3_last_insert_rowid(c->Handle()), job, token);
  }
  event.DebugLvl(2, "Register", "Job [%lld] will notify its completion with token [%s]", jobId, token.c_str());
  // Sent before the caller even returns, so before anybody waits for it.
  if (early.id != 0) Deliver({early});
  return 0;
}

bool CJobNotices::SettleOnEnd(const SChildJobRecord& job, std::vector<SNotice>& due) {
  CDBConnection* c = Ready("SettleOnEnd");
  std::vector<SNotice> waiting;
  {
    CSimStatement s(c, "SettleOnEnd", "SELECT id, token FROM PLT_SimNotices WHERE state = ? AND jobId = ? ORDER BY id");
    s.Bind(kWaiting).Bind(job.jobId);
    while (s.Next()) waiting.push_back(NoticeToSend(s.Int(0), job, s.Text(1)));
    if (s.Failed()) return false;
  }
  const unsigned flags = job.faults.flags;
  const int state = (flags & kFaultNoticeDropped) ? kDropped : (flags & kFaultNoticeDelayed) ? kDueLater : kDelivered;
  for (const SNotice& n : waiting) {
    CSimStatement s(c, "SettleOnEnd",
                    "UPDATE PLT_SimNotices SET state = ?, sendToken = ?, copies = ?, delayMs = ? WHERE id = ?");
    s.Bind(state).Bind(n.token).Bind(n.copies).Bind(job.faults.noticeDelayMs).Bind(n.id);
    if (s.Run() != EStoreResult::kOk) return false;
    if (state == kDelivered) due.push_back(n);
  }
  return true;
}

void CJobNotices::Deliver(const std::vector<SNotice>& notices) {
  for (const SNotice& n : notices) {
    for (int i = 0; i < n.copies; ++i) DeliverOne(static_cast<unsigned long long>(n.jobId), n.token);
  }
}

void CJobNotices::DeliverDelayed(long long elapsedMs) {
  CDBConnection* c = Ready("DeliverDelayed");
  if (c == nullptr) return;
  {
    // Most ticks have nothing delayed: no write lock for them.
    CSimStatement any(c, "DeliverDelayed", "SELECT 1 FROM PLT_SimNotices WHERE state = ? LIMIT 1");
    any.Bind(kDueLater);
    if (!any.Next()) return;
  }
  std::vector<SNotice> due;
  {
    CDBWriteScope scope(c);
    if (!scope.Ok()) return;
    CSimStatement count(c, "DeliverDelayed", "UPDATE PLT_SimNotices SET delayMs = delayMs - ? WHERE state = ?");
    count.Bind(elapsedMs).Bind(kDueLater);
    if (count.Run() != EStoreResult::kOk || count.Changes() == 0) return;
    CSimStatement s(c, "DeliverDelayed",
                    "SELECT id, jobId, sendToken, copies FROM PLT_SimNotices WHERE state = ? AND delayMs <= 0");
    s.Bind(kDueLater);
    while (s.Next()) due.push_back(SNotice{s.Int(0), s.Int(1), s.Text(2), static_cast<int>(s.Int(3))});
    if (s.Failed()) return;
    CSimStatement claim(c, "DeliverDelayed", "UPDATE PLT_SimNotices SET state = ? WHERE state = ? AND delayMs <= 0");
    claim.Bind(kDelivered).Bind(kDueLater);
    if (claim.Run() != EStoreResult::kOk || !scope.Commit()) return;
  }
  Deliver(due);
}
