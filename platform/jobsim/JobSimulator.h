// The simulated job manager's child jobs: the backups, aux copies, backup
// copies, syncs and restores a DR job launches and waits for.
//
// A child job is a job record (CJobStore: status text, percent, operation
// type, parent) and a simulator row with what it works on and how far it
// got, both in the management database, so what one process starts another
// reads, steers and ends: the DR job host, "drjob job" and the tests. While
// it runs, and when it ends, the simulator writes the job manager's rows that
// the DR job's waits read (running-job rows, child-job links, per-copy data
// rows) and changes the VM replications a sync works on (CReplicationStore);
// what a job leaves on other stores (other kinds of replication, VM
// statuses) is written by the end writers registered for its type.
// Which replications a backup or sync takes when the request names none
// comes from the replication sources (CReplicationSources).
//
// Lifecycle: "Running" with percent below 100; "Suspended" freezes the job
// and resume continues it; a hung job stays "Running" until told. A job ends
// "Completed", "Completed w/ one or more errors", "Failed" or "Killed", always
// with percent exactly 100. An ending is one conditional change in one write
// transaction: of all the threads and processes that try to end a job, one
// does, once; that one writes the ending's rows, delivers the completion
// notices registered for the job (CJobNotices) and runs the end hooks.
//
// The runner thread (Start/Stop) advances running jobs by the time that
// passes on the platform clock (scaled) and ends them when their planned
// duration is reached. Progress is stored, so a job left running by a
// process that ended continues under the next process's runner. Two runners
// on one database both advance a job (it runs faster); each ending still
// happens once.
//
// Threads: every member may be called from any thread; steering calls and
// the runner may race on one job.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/HandlerRegistry.h"
#include "core/StoreResult.h"

enum class EChildJobType { kBackup, kAuxCopy, kBackupCopy, kSync, kRestore };

// What a backup or sync works on besides its plain kind.
enum EChildJobMode : unsigned {
  kModeDRSiteBackup = 1u << 0,     // backup: each listed replication's DR VM, keyed by its source GUID
  kModeFailbackRestore = 1u << 1,  // sync: the DR VMs restored over their source VMs
  kModeRestorePowerOn = 1u << 2,   // failback restore: the restored source VMs are powered on
};

// What a DR job asks the job manager to run.
struct SChildJobSpec {
  EChildJobType type = EChildJobType::kBackup;
  long long parentJobId = 0;  // the DR job that launched it
  int applicationId = 0;      // backup: the subclient
  int taskId = 0;             // sync: the replication task
  // Backup: 0 takes the subclient's storage policy; aux and backup copy:
  // the policy copied.
  int storagePolicyId = 0;
  int copyId = 0;                    // aux copy: the copy written
  // Sync: the replications synced, empty for every replication of the task;
  // backup: the VMs backed up, empty for every VM of the subclient.
  std::vector<int> replicationIds;
  bool snap = false;                 // backup: a snap backup (also when the subclient is marked snap)
  long long durationMs = 0;          // platform milliseconds; 0 takes the type's duration (SetDuration)
  bool vmChildren = true;            // backup: one child job per VM at the end, or none
  bool hang = false;                 // starts hung: makes no progress until Resume
  unsigned mode = 0;                 // EChildJobMode bits
  std::string options;               // failback restore: the serialized restore options
};

// Faults a test plants on one job (SetFaults) or on the next job of a type
// (SetNextJobFaults).
enum EJobFault : unsigned {
  kFaultAuxUncopied = 1u << 0,        // aux copy: the backup jobs of jobIds (and their VM children) stay uncopied
  kFaultAuxRowShort = 1u << 1,        // aux copy: one copy row of shortRowJobId stays below 100
  kFaultSyncFailed = 1u << 2,         // sync: the replications of replicationIds end in status 5
  kFaultNoticeRefused = 1u << 3,      // registering for the completion notice fails
  kFaultNoticeDelayed = 1u << 4,      // the notice follows the ending after noticeDelayMs (runner)
  kFaultNoticeDropped = 1u << 5,      // the notice is never sent
  kFaultNoticeDoubled = 1u << 6,      // the notice is sent twice
  kFaultNoticeForeignToken = 1u << 7, // the notice's token names DR job foreignDrJobId instead
  kFaultNoticeEarly = 1u << 8,        // the job ends at its registration: its notice comes before anybody waits
};

struct SJobFaults {
  unsigned flags = 0;  // EJobFault bits
  std::vector<long long> jobIds;
  long long shortRowJobId = 0;
  std::vector<int> replicationIds;
  long long noticeDelayMs = 0;     // platform milliseconds
  long long foreignDrJobId = 0;
};

struct SChildJobRecord {
  long long jobId = 0;
  EChildJobType type = EChildJobType::kBackup;
  int opType = 0;             // 4 backup, 59 snap backup, 13 aux copy, 60 backup copy, 105 sync, 3 restore
  long long parentJobId = 0;  // the DR job; for a VM child, its backup job
  int applicationId = 0;
  int taskId = 0;
  int storagePolicyId = 0;
  int copyId = 0;
  // Backup: the VMs of the subclient (when it started); sync: the
  // replications synced; a VM child: its VM.
  std::vector<int> replicationIds;
  bool snap = false;
  bool vmChildren = true;
  bool vmChild = false;  // made by its backup's ending, one per VM; never ran
  long long durationMs = 0;
  long long elapsedMs = 0;
  bool hung = false;
  bool ended = false;
  std::string status;  // the job record's status text
  double percent = 0.0;
  std::string endReason;  // why it failed, when it was made to fail
  std::vector<long long> childJobIds;  // backup: its VM children, in replication id order
  SJobFaults faults;
  unsigned mode = 0;  // EChildJobMode bits
  std::string options;
};

class CJobSimulator {
 public:
  // The runner thread. Start is true when it runs (also when it already
  // did); Stop asks it to stop and joins it, then awaits the notifiers.
  static bool Start();
  static void Stop();
  static bool IsRunning();
  // Waits up to 10 s (real) for the notifiers this process started and
  // records their answers: what a process that ended child jobs without a
  // runner of its own does before it exits, or the notices it sent stay
  // claimed in its name ("sending") until the claim runs out.
  static void AwaitNotifiers();

  // Starts a child job: its job record, simulator row and running rows in
  // one transaction. The id comes from the simulator's own counter: rising,
  // never an id the job store already holds, below 2^31. 0 on failure
  // (logged), with nothing stored.
  static long long StartJob(const SChildJobSpec& spec);

  // Steering. False when the job does not exist, has ended, or (for the
  // endings) another caller ended it first.
  static bool Complete(long long jobId);
  static bool CompleteWithErrors(long long jobId);
  static bool Fail(long long jobId, const std::string& reason);
  static bool Kill(long long jobId);
  static bool Suspend(long long jobId);
  // Continues a hung or suspended job.
  static bool Resume(long long jobId);
  // Keeps the job "Running" without progress until Resume or an ending.
  static bool Hang(long long jobId);
  // Sets the progress of a running or suspended job; percent 0 to 99.
  static bool SetPercent(long long jobId, int percent);

  // The planned duration of new jobs of a type, in platform milliseconds,
  // stored in the database (so a host process started later uses it too).
  static void SetDuration(EChildJobType type, long long ms);
  static long long Duration(EChildJobType type);

  // Faults of one job that has not ended (replacing its earlier ones), or of
  // the next job of a type that starts (in any process on the database).
  static bool SetFaults(long long jobId, const SJobFaults& faults);
  static bool SetNextJobFaults(EChildJobType type, const SJobFaults& faults);

  // Reads; kMissing for a job the simulator does not know.
  static EStoreResult GetJob(long long jobId, SChildJobRecord& out);
  static EStoreResult Jobs(std::vector<SChildJobRecord>& out);
  // How many jobs started while another of the same purpose ran (see
  // CSimJobStore::RunningOfPurpose): each is logged as a violation.
  static constexpr const char* kOverlapCounter = "child-overlaps";
  static long long Overlaps();
  // The sync jobs of a replication task that have not ended, by id.
  static EStoreResult RunningSyncJobs(int taskId, std::vector<long long>& out);

  // Hooks run by whoever ends a job of the type, once per ending, after the
  // ending is stored and its notices delivered, in that process only. The
  // id removes the hook again.
  using EndHook = std::function<void(const SChildJobRecord&)>;
  static int AddEndHook(EChildJobType type, EndHook hook);
  static void RemoveEndHook(int hookId);

  // Writes that belong to the ending of a job of the type (what the job
  // leaves on other stores): run by whoever ends it, inside the ending's
  // write transaction after the simulator's own rows, so whoever sees the
  // job ended (a waiter woken by its notice, a poller) sees them too. A
  // writer that answers false (logged) undoes the ending: the job goes on.
  // Registered by name (CSimulators::Install; the name's earlier writer is
  // replaced), in this process only.
  struct SEndWriter {
    EChildJobType type = EChildJobType::kBackup;
    std::function<bool(const SChildJobRecord&)> write;
  };
  using EndWriterRegistry = CHandlerRegistry<std::string, SEndWriter>;
  static EndWriterRegistry& EndWriters();

  // Completion notices (see CJobNotices): delivered in this process through
  // the function when one is set (null goes back to the notifier program),
  // else by starting the notifier program at the path, which loads the
  // system library (or the given one; empty: the library's name, found
  // through the notifier's RUNPATH).
  static void SetInProcessDelivery(std::function<void(unsigned long long childJobId, std::string& token)> deliver);
  // The same with the service's answer: a notice not taken is sent again.
  static void SetInProcessAcknowledgedDelivery(
      std::function<bool(unsigned long long childJobId, std::string& token)> deliver);
  static void SetNotifierPath(const std::string& path);
  static void SetNotifierLibrary(const std::string& path);

  // The job manager's words for a type ("backup", "aux copy", ...), and the
  // operation type of a job of the type.
  static const char* TypeName(EChildJobType type, bool snap = false);
  static int OperationType(EChildJobType type, bool snap = false);

  // Registers the simulator's handlers (CSimulators::Install): job
  // operations on child jobs, the running-sync-jobs procedure and the
  // completion-notice registration.
  static void Register();
  // Creates the tables of the simulator's stores on the calling thread's
  // database (a test that needs only the simulator).
  static bool CreateTables();
};
