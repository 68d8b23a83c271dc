#include "jobsim/JobNotices.h"

#include <errno.h>
#include <stdlib.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/BlockingHook.h"
#include "core/Mutex.h"
#include "db/App_MiscOptions.h"
#include "db/DBWriteScope.h"
#include "jobs/JobStore.h"
#include "jobsim/SimJobStore.h"
#include "jobsim/SimSql.h"
#include "log/EvEvent.h"
#include "time/PlatformClock.h"

extern char** environ;

namespace {


const char* kSchema =
    "CREATE TABLE IF NOT EXISTS PLT_SimNotices (id INTEGER PRIMARY KEY AUTOINCREMENT, jobId INTEGER NOT NULL,"
    " haldenId INTEGER NOT NULL DEFAULT 0, token TEXT NOT NULL, state INTEGER NOT NULL DEFAULT 0,"
    " sendToken TEXT, copies INTEGER NOT NULL DEFAULT 1, delayMs INTEGER NOT NULL DEFAULT 0,"
    " created INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX IF NOT EXISTS idx_PLT_SimNotices_state ON PLT_SimNotices (state, jobId)";

int CreateTable(CDBConnection& c) { return c.Exec(kSchema); }

CDBConnection* Ready(const char* function) { return SimReady(function, CJobNotices::kTable, CreateTable); }

using AcknowledgedDelivery = std::function<bool(unsigned long long, std::string&)>;

// A notifier this process started and has not reaped yet.
struct SSending {
  pid_t pid = -1;
  int output = -1;  // the read end of its output, non-blocking
  long long noticeId = 0;
  unsigned long long jobId = 0;
  std::string token;
  std::string said;
};

struct SDelivery {
  CMutex mutex;
  AcknowledgedDelivery inProcess DR_GUARDED_BY(mutex);
  std::string notifier DR_GUARDED_BY(mutex);
  std::string library DR_GUARDED_BY(mutex);
  std::vector<SSending> sending DR_GUARDED_BY(mutex);
  // Notices whose failure this process has logged as an error already: a
  // notice retried every few seconds says so once.
  std::set<long long> failedOnce DR_GUARDED_BY(mutex);
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

// The DR job a token tells, 0 when it names none.
long long DRJobOfToken(const std::string& token) {
  const size_t first = token.find('|');
  if (first == std::string::npos) return 0;
  const size_t second = token.find('|', first + 1);
  const std::string field = token.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
  if (field.empty() || field.size() > 19 || field.find_first_not_of("0123456789") != std::string::npos) return 0;
  return strtoll(field.c_str(), nullptr, 10);
}

// Whether anybody may still wait for a notice to this DR job: its record
// exists and it has not ended.
bool DRJobLives(long long drJobId) {
  SJobRecord job;
  if (drJobId <= 0 || CJobStore::GetJob(drJobId, job) != EStoreResult::kOk) return false;
  return job.status == "Running" || job.status == "Suspended" || job.status == "Pending" || job.status == "Waiting";
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

bool FailedBefore(long long noticeId) {
  SDelivery& d = Delivery();
  CMutexLock lock(d.mutex);
  return d.failedOnce.count(noticeId) != 0;
}

// Records a sender's answer: taken ends the notice; not taken sends it again
// after kRetryMs, unless another copy was taken meanwhile.
void Resolve(long long noticeId, unsigned long long jobId, const std::string& token, bool taken) {
  EvDebug event(static_cast<int64_t>(jobId));
  CDBConnection* c = Ready("Resolve");
  if (c == nullptr) return;
  CSimStatement s(c, "Resolve",
                  taken ? "UPDATE PLT_SimNotices SET state = ?, delayMs = 0 WHERE id = ?"
                        : "UPDATE PLT_SimNotices SET state = ?, delayMs = ? WHERE id = ? AND state = ?");
  if (taken) {
    s.Bind(CJobNotices::kDelivered).Bind(noticeId);
  } else {
    s.Bind(CJobNotices::kRetry).Bind(CJobNotices::kRetryMs).Bind(noticeId).Bind(CJobNotices::kSending);
  }
  if (s.Run() != EStoreResult::kOk) return;
  if (taken) {
    SDelivery& d = Delivery();
    CMutexLock lock(d.mutex);
    d.failedOnce.erase(noticeId);
    return;
  }
  bool first;
  {
    SDelivery& d = Delivery();
    CMutexLock lock(d.mutex);
    first = d.failedOnce.insert(noticeId).second;
  }
  if (first) {
    event.Error("DeliverNotice", "Completion notice of job [%llu] with token [%s] was not taken; sending it again",
                jobId, token.c_str());
  } else {
    event.DebugLvl(2, "DeliverNotice", "Completion notice of job [%llu] still not taken; sending it again", jobId);
  }
}

// Starts the notifier with an argument vector and returns at once; the
// runner reaps it. False when it cannot be started.
bool StartNotifier(const std::string& path, const std::string& library, const SNotice& notice, SSending& out) {
  const unsigned long long jobId = static_cast<unsigned long long>(notice.jobId);
  EvDebug event(static_cast<int64_t>(jobId));
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    event.Error("RunNotifier", "Cannot make a pipe for the notifier of job [%llu]", jobId);
    return false;
  }
  const std::string id = std::to_string(jobId);
  std::vector<std::string> args = {path};
  if (!library.empty()) {
    args.push_back("--library");
    args.push_back(library);
  }
  args.push_back(id);
  args.push_back(notice.token);
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
    return false;
  }
  fcntl(fds[0], F_SETFL, O_NONBLOCK);
  out.pid = pid;
  out.output = fds[0];
  out.noticeId = notice.id;
  out.jobId = jobId;
  out.token = notice.token;
  return true;
}

// Reads what a notifier has written so far; true once its output has ended.
bool Drain(SSending& s) {
  char buffer[512];
  for (;;) {
    const ssize_t n = read(s.output, buffer, sizeof(buffer));
    if (n > 0) {
      if (s.said.size() < 4096) s.said.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n == 0;
  }
}

// Records the answer of every notifier of this process that has ended.
void ReapNotifiers() {
  std::vector<SSending> ended;
  {
    SDelivery& d = Delivery();
    CMutexLock lock(d.mutex);
    for (auto it = d.sending.begin(); it != d.sending.end();) {
      Drain(*it);
      int status = 0;
      const pid_t r = waitpid(it->pid, &status, WNOHANG);
      if (r == 0 || (r < 0 && errno == EINTR)) {
        ++it;
        continue;
      }
      Drain(*it);
      close(it->output);
      // Reaped by somebody else (r < 0): its answer is lost; not taken.
      it->pid = (r > 0 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
      ended.push_back(std::move(*it));
      it = d.sending.erase(it);
    }
  }
  for (SSending& s : ended) {
    while (!s.said.empty() && s.said.back() == '\n') s.said.pop_back();
    const int code = s.pid;  // the exit code now
    EvDebug event(static_cast<int64_t>(s.jobId));
    if (code == 0) {
      event.DebugLvl(2, "RunNotifier", "Notified completion of job [%llu] with token [%s]; notifier said [%s]",
                     s.jobId, s.token.c_str(), s.said.c_str());
    } else if (FailedBefore(s.noticeId)) {
      event.DebugLvl(2, "RunNotifier", "Notifier for job [%llu] exited [%d]: [%s]", s.jobId, code, s.said.c_str());
    } else {
      event.Error("RunNotifier", "Notifier for job [%llu] exited [%d]: [%s]", s.jobId, code, s.said.c_str());
    }
    Resolve(s.noticeId, s.jobId, s.token, code == 0);
  }
}

// Sends one copy of a claimed notice: in process, with the answer recorded
// at once, or through a notifier, whose answer the runner records.
void SendOne(const SNotice& notice) {
  AcknowledgedDelivery inProcess;
  std::string notifier, library;
  {
    SDelivery& d = Delivery();
    CMutexLock lock(d.mutex);
    inProcess = d.inProcess;
    notifier = d.notifier;
    library = d.library;
  }
  const unsigned long long jobId = static_cast<unsigned long long>(notice.jobId);
  EvDebug event(notice.jobId);
  if (inProcess) {
    std::string sent = notice.token;
    event.DebugLvl(2, "DeliverNotice", "Notifying completion of job [%llu] with token [%s]", jobId,
                   notice.token.c_str());
    bool delivered = false;
    {
      // The engine's handler may wait on its locks while a caller of this
      // one still holds the thread's database connection.
      CBlockingHookShield shield;
      delivered = inProcess(jobId, sent);
    }
    Resolve(notice.id, jobId, notice.token, delivered);
    return;
  }
  SSending started;
  if (notifier.empty()) {
    event.Error("DeliverNotice", "No notifier program to tell completion of job [%llu] with token [%s]", jobId,
                notice.token.c_str());
  } else if (StartNotifier(notifier, library, notice, started)) {
    SDelivery& d = Delivery();
    CMutexLock lock(d.mutex);
    d.sending.push_back(std::move(started));
    return;
  }
  Resolve(notice.id, jobId, notice.token, false);
}

}  // namespace

bool CJobNotices::CreateTables() { return Ready("CreateTables") != nullptr; }

EStoreResult CJobNotices::States(long long jobId, std::vector<int>& out) {
  out.clear();
  CSimStatement s(Ready("States"), "States", "SELECT state FROM PLT_SimNotices WHERE jobId = ? ORDER BY id");
  s.Bind(jobId);
  while (s.Next()) out.push_back(static_cast<int>(s.Int(0)));
  return s.Failed() ? EStoreResult::kFailed : EStoreResult::kOk;
}

void CJobNotices::SetInProcessAcknowledgedDelivery(std::function<bool(unsigned long long, std::string&)> deliver) {
  SDelivery& d = Delivery();
  CMutexLock lock(d.mutex);
  d.inProcess = std::move(deliver);
}

void CJobNotices::SetInProcessDelivery(std::function<void(unsigned long long, std::string&)> deliver) {
  AcknowledgedDelivery taken;
  if (deliver) {
    taken = [deliver](unsigned long long jobId, std::string& token) {
      deliver(jobId, token);
      return true;
    };
  }
  SetInProcessAcknowledgedDelivery(std::move(taken));
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
    CSimStatement s(c, "Register",
                    "INSERT INTO PLT_SimNotices (jobId, haldenId, token, state, created) VALUES (?, ?, ?, ?, ?)");
    s.Bind(jobId).Bind(haldenId).Bind(token).Bind(kWaiting);
    s.Bind(CPlatformClock::Instance().NowEpochSeconds());
    if (s.Run() != EStoreResult::kOk || !scope.Commit()) return kStoreFailed;
  }
  event.DebugLvl(2, "Register", "Job [%lld] will notify its completion with token [%s]", jobId, token.c_str());
  // The job ends, and its notice goes out, before the caller even returns:
  // a notice that comes before anybody waits for it.
  if (job.faults.flags & kFaultNoticeEarly) CJobSimulator::Complete(jobId);
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
  // Notices due now are claimed by the ender, which sends them.
  const int state = (flags & kFaultNoticeDropped) ? kDropped : (flags & kFaultNoticeDelayed) ? kDueLater : kSending;
  const long long delayMs = state == kSending ? kSendLeaseMs : job.faults.noticeDelayMs;
  for (const SNotice& n : waiting) {
    CSimStatement s(c, "SettleOnEnd",
                    "UPDATE PLT_SimNotices SET state = ?, sendToken = ?, copies = ?, delayMs = ? WHERE id = ?");
    s.Bind(state).Bind(n.token).Bind(n.copies).Bind(delayMs).Bind(n.id);
    if (s.Run() != EStoreResult::kOk) return false;
    if (state == kSending) due.push_back(n);
  }
  return true;
}

void CJobNotices::Deliver(const std::vector<SNotice>& notices) {
  for (const SNotice& n : notices) {
    for (int i = 0; i < n.copies; ++i) SendOne(n);
  }
}

void CJobNotices::SettleSenders(unsigned long realLimitMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realLimitMs);
  for (;;) {
    ReapNotifiers();
    {
      SDelivery& d = Delivery();
      CMutexLock lock(d.mutex);
      if (d.sending.empty()) return;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void CJobNotices::DeliverDelayed(long long elapsedMs) {
  ReapNotifiers();
  CDBConnection* c = Ready("DeliverDelayed");
  if (c == nullptr) return;
  {
    // Most ticks have nothing pending: no write lock for them.
    CSimStatement any(c, "DeliverDelayed", "SELECT 1 FROM PLT_SimNotices WHERE state IN (?, ?, ?) LIMIT 1");
    any.Bind(kDueLater).Bind(kRetry).Bind(kSending);
    if (!any.Next()) return;
  }
  std::vector<SNotice> due;
  std::vector<SNotice> abandoned;
  {
    CDBWriteScope scope(c);
    if (!scope.Ok()) return;
    CSimStatement count(c, "DeliverDelayed",
                        "UPDATE PLT_SimNotices SET delayMs = delayMs - ? WHERE state IN (?, ?, ?)");
    count.Bind(elapsedMs).Bind(kDueLater).Bind(kRetry).Bind(kSending);
    if (count.Run() != EStoreResult::kOk || count.Changes() == 0) return;
    // A claim that ran out: its sender vanished without an answer.
    CSimStatement expired(c, "DeliverDelayed",
                          "UPDATE PLT_SimNotices SET state = ?, delayMs = 0 WHERE state = ? AND delayMs <= 0");
    expired.Bind(kRetry).Bind(kSending);
    if (expired.Run() != EStoreResult::kOk) return;
    CSimStatement s(c, "DeliverDelayed",
                    "SELECT id, jobId, sendToken, copies FROM PLT_SimNotices WHERE state IN (?, ?) AND delayMs <= 0"
                    " ORDER BY id");
    s.Bind(kDueLater).Bind(kRetry);
    std::vector<SNotice> ready;
    while (s.Next()) ready.push_back(SNotice{s.Int(0), s.Int(1), s.Text(2), static_cast<int>(s.Int(3))});
    if (s.Failed()) return;
    for (const SNotice& n : ready) {
      const bool lives = DRJobLives(DRJobOfToken(n.token));
      CSimStatement claim(c, "DeliverDelayed", "UPDATE PLT_SimNotices SET state = ?, delayMs = ? WHERE id = ?");
      claim.Bind(lives ? kSending : kAbandoned).Bind(lives ? kSendLeaseMs : 0).Bind(n.id);
      if (claim.Run() != EStoreResult::kOk) return;
      (lives ? due : abandoned).push_back(n);
    }
    if (!scope.Commit()) return;
  }
  for (const SNotice& n : abandoned) {
    EvDebug(n.jobId).DebugLvl(2, "DeliverNotice",
                              "Completion notice of job [%lld] with token [%s] given up: its DR job has ended",
                              n.jobId, n.token.c_str());
  }
  Deliver(due);
}
