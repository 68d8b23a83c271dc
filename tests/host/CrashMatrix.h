// DR jobs whose process dies and is run again, through drjob: a run is
// SIGKILLed right after a chosen log line (DR_CRASH_AT), something may be
// written in the VM that runs the workload meanwhile, and the same command
// with the same job id runs the job to its end. What the lab holds then is
// compared with one literal picture per DR type: the one an uninterrupted
// run leaves (checked by the type's own reference case).
//
// Each case starts from a copy of a lab made once per test process (seeded,
// or after an uninterrupted failover), so the cases of one type share it.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/DrJobTestSupport.h"

namespace crashmatrix {

// The job id every case runs under.
constexpr long long kJobId = 900;
// How long one drjob run of a case may take, in real time, before the case
// kills it (ReadToEnd): far above the slowest run under AddressSanitizer on
// a loaded machine, far below ctest's timeout.
constexpr int kRunBoundMs = 180000;

// The lab a type starts from; each is made by drjob the first time a case
// asks for it.
enum class EStartLab {
  kSeeded,            // drjob seed
  kFailedOver,        // then a planned failover of "Sample"
  kArrayFailedOver,   // then a planned failover of "SampleArray"
  kArrayTested,       // then a test failover of "SampleArray"
};

// A machine of the group by its two VMs: the one that runs its workload
// once the type is done, and the other.
struct SMachine {
  std::string workload;
  std::string other;
};

// One DR type as the matrix runs it, and the picture (Picture below) an
// uninterrupted run leaves.
struct SType {
  std::string group;
  std::string type;
  std::vector<std::string> options;
  EStartLab start = EStartLab::kSeeded;
  int exitCode = 0;
  std::string picture;
  // Where a case's write goes: into a machine's workload VM when it runs,
  // else, when the type carries the data of the other VM over (a planned
  // failover or a failback), into the other when that one runs.
  std::vector<SMachine> machines;
  bool carriesWrites = false;
  // Machines one at a time (the DR plan's parallel thread count 1), so a
  // crash always finds the others at the same point.
  bool serial = false;
};

// Where a case kills the run: right after the countth log line that holds
// marker. differs lists lines of the type's picture this case ends with
// otherwise (whole lines: from, to), e.g. the jobs a rerun must launch again.
struct SCrash {
  using Lines = std::vector<std::pair<std::string, std::string>>;
  SCrash(std::string name_, std::string marker_, int count_ = 1, Lines differs_ = Lines())
      : name(std::move(name_)), marker(std::move(marker_)), count(count_), differs(std::move(differs_)) {}

  std::string name;
  std::string marker;
  int count = 1;
  Lines differs;
  // A write in the VM that runs the machine's workload when the run died
  // (when one runs); the rerun must carry it to where the workload ends.
  bool write = true;
  // A site of the hypervisor lab (by name) that cannot be reached while the
  // job runs again; empty: every site can.
  std::string unreachable;
};

// What a case found: the picture after the rerun, the reruns' exit code,
// and what went wrong beside the picture (empty when nothing did).
struct SOutcome {
  std::string picture;
  int exitCode = -1;
  std::string output;                // the last run's
  std::vector<std::string> written;  // workload VMs a write was meant for
  std::vector<std::string> faults;
  // Every run of the case in order (RunText), named by a failure whose lab
  // or exit code differs.
  std::string runs;
};

// One run of a case for a failure message: its command, how it ended (exit
// code, or the signal that ended it) and drjob's own lines but progress.
std::string RunText(const std::string& command, int exitCode, int signal, const std::string& output);

// The lab's state for a group, one line per VM (power, content, snapshot
// names sorted), per replication (statuses, what its snapshot properties
// name, and a line of its own when its source client's backups are left
// off), per database, array relationship, LUN and archive file of the
// group, and the child jobs by kind and end. Run-specific names (clone
// suffixes, snapshot references) are left out.
std::string Picture(const std::string& group);

// The replications of a sample group, in the group's order.
std::vector<int> GroupReplications(const std::string& group);

// A picture's lines, and the lines of each of two pictures that the other
// lacks, in order, "- " expected and "+ " found (empty when they match): an
// expected line matches a found one word for word, "*" matching any word.
std::vector<std::string> PictureLines(const std::string& text);
std::string PictureDiff(const std::string& expected, const std::string& found);

class CCrashMatrix : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The uninterrupted run of the type on a fresh copy of its lab.
  SOutcome Reference(const SType& type);
  // The run killed at the crash, then run again.
  SOutcome Crash(const SType& type, const SCrash& crash);
  // The run killed after lines log lines, then run again (the sampler).
  SOutcome CrashAfterLines(const SType& type, long lines);
  // How many log lines an uninterrupted run of the type writes (its
  // reference run, whose outcome goes to outcome).
  long ReferenceLines(const SType& type, SOutcome& outcome);

  // Checks an outcome against the type's picture, with the case's write
  // and the lines it changes.
  static void Expect(const SType& type, const SOutcome& outcome, const std::string& what,
                     const std::vector<std::pair<std::string, std::string>>& differs = {});

  // The type uninterrupted, then killed at each crash and run again: each
  // checked against the type's picture.
  void RunMatrix(const SType& type, const std::vector<SCrash>& crashes);

  // A fresh copy of the start lab in this case's folder; its path.
  std::string FreshLab(EStartLab start);
  // A copy of the lab from (closed) in this case's folder; its path.
  std::string CopyOf(const std::string& from);
  // One uninterrupted run of a type on a lab of this case: drjob's result.
  drtest::SResult RunOn(const std::string& db, const std::string& group, const std::string& type, long long jobId);

  // The type's lab for a case (its start lab, one machine at a time when
  // the type says so) and drjob's arguments that run the type on it.
  std::string LabFor(const SType& type);
  static std::vector<std::string> RunArgs(const SType& type, const std::string& db);
  // drjob with env before it (its output and error lines, its exit code;
  // signal: the one that ended it, 0 when none did).
  drtest::SResult RunHost(const std::vector<std::string>& env, const std::vector<std::string>& args, int& signal);
  // The same in two halves, for a run the case steers while it runs (a
  // pause point, a signal): started, then read to its end.
  bool StartHost(const std::vector<std::string>& env, const std::vector<std::string>& args, drtest::CChildProcess& run);
  drtest::SResult FinishHost(drtest::CChildProcess& run, int& signal);
  // A started run's lines, each given to online as it comes when given,
  // read to its end, which is waited for. A run still going kRunBoundMs
  // (SetRunBoundMs) after this began (a call or child job that never ends) is killed with
  // every process it started and fails the case, which starts no run after
  // it: a hung run ends its test with the lines it printed, not at ctest's
  // timeout. The exit status as from waitpid.
  int ReadToEnd(drtest::CChildProcess& run, std::string& output,
                const std::function<void(const std::string&)>& online = nullptr);
  // Whether a run of this case overran its bound (above): no run starts
  // after it (the start fails, saying why).
  bool NoMoreRuns() const;
  // Another bound than kRunBoundMs for the runs of this case.
  void SetRunBoundMs(int boundMs) { m_runBoundMs = boundMs; }
  // A command drjob printed, run as printed: through the shell, so its
  // quoting is read as a user's shell reads it, in the case's run folder
  // ("drjob" is the host under test); env is added to its environment (a
  // kill point: the printed step itself stopped).
  drtest::SResult RunAsPrinted(const std::string& command, const std::vector<std::string>& env = {});
  // A write in each machine's workload VM where it runs, else, for a type
  // that carries the other VM's data over, in the other where that one
  // runs: the workload VMs a write was meant for (the other's too).
  static std::vector<std::string> WriteInWorkloads(const SType& type, const std::string& db);
  // What must hold once every run of a case has ended, on the lab open now:
  // no phase row left IN-PROGRESS, no child job started while another did
  // the same work, no snapshot mount overlapping, hung or left in flight.
  static void CheckRunsEnded(SOutcome& outcome);
  // The log file drjob's runs of this case write to.
  std::string LogPath() const { return m_dir + "/run/drorch.log"; }

 private:
  // The type's run with crashEnv (none: uninterrupted), killed there, then
  // run again; mayFinish takes a run that ended before its crash as it is.
  SOutcome RunCase(const SType& type, const std::vector<std::string>& crashEnv, bool write, bool mayFinish,
                   const std::string& unreachable = std::string());
  std::string MakeStartLab(EStartLab start);

  std::string m_dir;
  int m_case = 0;
  int m_runBoundMs = kRunBoundMs;
  // A run of the case overran its bound and was killed.
  bool m_overran = false;
};

// A picture's line for a VM whose content a write in the crash raised: the
// expected picture with that VM's content one higher.
std::string WithWrite(const std::string& picture, const std::string& vmName);
// The picture with the lines a case ends with otherwise (SCrash::differs).
std::string WithLines(std::string picture, const SCrash::Lines& differs);

// A sampler's number from the environment (its seed, how many cases), or
// otherwise when the variable is unset or empty.
unsigned long EnvNumber(const char* name, unsigned long otherwise);

}  // namespace crashmatrix
