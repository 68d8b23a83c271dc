// The VM DR steps on the hypervisor lab, run by the engine.
//
// CVSALabFixture seeds a DR group of N VM replications in G subclient
// groups (each group's replications spread over its replication tasks, each
// subclient with a storage policy), or the sample group "Sample" of drjob
// seed, and the lab behind them, built by the platform's seeding
// (CHypervisorLabSeed) as drjob seed builds its lab: the sample's source
// site "site-a" and destination site "site-b" with two proxies each, every
// source VM on with content, every DR VM off with the synced content, one
// "__OB_BACKUP__" snapshot and the sample's two point-in-time snapshots. It
// starts the DR job and initialises an orchestrator on it, with the job
// simulator running and its completion notices delivered in this process.
//
// CVSAStepTestContext is a VM DR context whose subclient sequence is a list
// of steps the test chooses: its ProcessPriority runs every subclient group
// of the priority through CDRBase::ProcessSubclientsInPriority (in parallel
// when there are several) and each group runs the steps in order, stopping
// at the first that fails. It persists the references of the snapshots it
// creates as the planned failover does (2209 source, 2213 destination).
//
// The read-backs go through the owners: phase rows of the DR job, stored
// replications and their properties, child jobs, the lab's VMs, snapshots
// and call journal.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "JobSimTestSupport.h"
#include "TestThread.h"
#include "core/Mutex.h"
#include "engine/DRBase.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/DRRecordsTestSupport.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"
#include "jobs/PhaseRowStore.h"
#include "vm/HypervisorLab.h"
#include "vm/HypervisorLabSeed.h"
#include "vsa/VSADRBase.h"

class CVSAStepTestContext;

// One step of a group's sequence: its name (for the step log) and what it
// runs on the group's context.
struct SVSAStep {
  std::string name;
  std::function<bool(CVSAStepTestContext& context, SDROperationCtx& ctx)> run;
};

// The steps the tests compose most often.
namespace vsasteps {
// Batch operation 23: the group's last backup.
SVSAStep Backup();
// The replication step from the source, with the sync list loaded.
SVSAStep Replicate();
// The context keeps the machines whose last phase succeeded (or was
// skipped), as a step with the only-succeeded switch does first.
SVSAStep KeepSucceeded();
// The group's context takes the machines that synced (its output list).
SVSAStep TakeOutputList();
// The failover snapshots of the context's machines.
SVSAStep CreateFailoverSnapshots(bool succeededOnly = true);
// Anything else, under a name.
SVSAStep Do(const std::string& name, std::function<bool(CVSAStepTestContext&, SDROperationCtx&)> run);
}  // namespace vsasteps

class CVSAStepTestContext : public CVSADRBase {
 public:
  explicit CVSAStepTestContext(IDROrchestrator& orchestrator) : CVSADRBase(orchestrator) {}

  std::vector<SVSAStep> steps;
  // Sets a step's reporting switches, as an operation class's table does;
  // unset, the context keeps the switches it has.
  std::function<void(SDROperationCtx&)> operationConfig;
  // Runs where an operation class prepares its replication step.
  std::function<void(SDROperationCtx&)> preReplication;

  bool ProcessPriority(const SDRPriority& priority) override;
  bool ProcessDRSubclientThread(SDROperationCtx& ctx) override;
  bool PersistSnapMoref(CDRInfo* info, Api::DRSite site, std::string& moref) override;
  void LoadOperationConfig(SDROperationCtx& ctx) override;
  bool _PreReplication(SDROperationCtx& ctx) override;
  bool HandleSyncFailure(SDROperationCtx& ctx, CDRInfo* info) override;

  CDRBase& Orchestrator() { return *m_orchestrator; }
  // The subclient groups of the last ProcessPriority (output lists, backup
  // job ids); read once it has returned.
  std::vector<SDROSubclient>& Groups() { return m_groups; }
  const SDROSubclient* Group(int subclientId) const;
  // "<step>:<subclient>:ok|failed" in the order the steps ended.
  std::vector<std::string> StepLog() const;
  // Replications handed to HandleSyncFailure, in order.
  std::vector<int> SyncFailures() const;
  // "<replication>:<site>:<reference>" of each reference persisted.
  std::vector<std::string> Persisted() const;

 private:
  void Note(std::vector<std::string>& to, const std::string& what);

  std::vector<SDROSubclient> m_groups;
  mutable CMutex m_mutex;
  std::vector<std::string> m_stepLog DR_GUARDED_BY(m_mutex);
  std::vector<int> m_syncFailures DR_GUARDED_BY(m_mutex);
  std::vector<std::string> m_persisted DR_GUARDED_BY(m_mutex);
};

// The orchestrator of the lab's DR job: each priority runs the steps on a
// step context of its own (Run, as the host runs a job).
class CVSALabDR : public CDRBase {
 public:
  explicit CVSALabDR(TMMsg::DROrchestrationType type) : CDRBase(type) {}
  bool RunPriority(const SDRPriority& priority) override;
  std::vector<SVSAStep> steps;
};

// What the lab holds.
struct SVSALabSpec {
  int replications = 3;     // N
  int subclientGroups = 1;  // G: the replications in G blocks of (nearly) equal size
  int tasksPerGroup = 1;    // the replications of a group spread over its tasks in turn
  TMMsg::DROrchestrationType drType = TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER;
  int sourceVendor = 1;
  int destVendor = 1;
  bool deployAtFailover = false;             // tasks create the DR VM at failover
  bool firstTimeSyncDuringFailover = false;  // tasks sync for the first time during failover
  int jobBucketing = 0;                      // sync jobs of N replications each; 0 none
  std::vector<int> replicaSyncDirectTasks;   // tasks whose syncs go replica sync direct
  App::VSAReplicationStatus syncStatus = App::VSA_REPL_STATUS_IN_SYNC;
  App::VSAFailoverStatus failoverStatus = App::VSA_FAILOVER_STATUS_NONE;
  // The DR VMs exist and the replications know them; without, neither the
  // lab nor the replication has a DR VM yet (a first-time sync).
  bool drVMs = true;
  bool indexingV2 = false;
  // The subclient groups in P blocks of priorities 1..P, one minute apart.
  int priorities = 1;
  // The job's own operation class (of drType) runs each priority, as the
  // factory's orchestrator does; without, the test's steps do.
  bool operationClasses = false;
  // Edits the DR job's DR orchestration options before the job starts.
  std::function<void(CNMessageBase& drOption)> drOptions;
  // The replications are the sample group "Sample" of drjob seed (its
  // replications, task, storage policy and priorities) instead of the N
  // above; the other settings apply to them alike.
  bool sample = false;
};

// One replication of the lab.
struct SVSALabVM {
  int replicationId = 0;
  int subclientId = 0;
  int taskId = 0;
  int sourceClientId = 0;
  std::string sourceGuid, sourceName;
  std::string destGuid, destName;
};

class CVSALabFixture : public CDRRecordsTestBase {
 protected:
  static constexpr long long kSourceInstance = CHypervisorLabSeed::kSampleSourceInstanceId;
  static constexpr long long kDestInstance = CHypervisorLabSeed::kSampleDestinationInstanceId;
  static constexpr int kFirstReplication = 101;
  static constexpr int kFirstSubclient = CHypervisorLabSeed::kSampleSubclientId;
  static constexpr int kFirstTask = CHypervisorLabSeed::kSampleTaskId;
  static constexpr int kSourceClientBase = CHypervisorLabSeed::kSampleSourceClientBase;

  void SetUp() override;
  void TearDown() override;

  // ---- building ----
  // The lab a spec describes, and the entries of each priority of its DR
  // group (nothing is stored).
  static SSeedVMLab LabOf(const SVSALabSpec& spec, std::vector<std::vector<TMMsg::VMDependencyOrder>>& entries);
  // Seeds the lab, the DR group and the DR job, and initialises the
  // orchestrator.
  void Seed(const SVSALabSpec& spec = SVSALabSpec());
  // A group of n replications that a planned failover left: the DR VMs run,
  // carrying what the sources held, the sources are off, sync disabled; the
  // job runs the type's operation class.
  void SeedFailedOver(TMMsg::DROrchestrationType type, int n = 2, SVSALabSpec spec = SVSALabSpec());
  // The same in two steps: the lab description of such a group, and, after its seed,
  // the lab as the failover left it.
  static SVSALabSpec FailedOverSpec(TMMsg::DROrchestrationType type, int n = 2, SVSALabSpec spec = SVSALabSpec());
  void LeaveFailedOver();
  // The same DR job again, as the job controller restarts it: a new job
  // manager (which reads the earlier run's phase rows) and orchestrator.
  void Restart();

  // ---- running ----
  // The DR job end to end (Run) with the steps on every priority: the job's
  // final state.
  int32_t RunJob(const std::vector<SVSAStep>& steps);
  // The DR job end to end with its operation classes (operationClasses).
  int32_t RunDR();
  // A new context with the steps (the one before goes), run on a priority.
  CVSAStepTestContext& NewContext(const std::vector<SVSAStep>& steps);
  bool RunSteps(const std::vector<SVSAStep>& steps, int order = 1);
  // RunSteps on a thread of its own, for a test that steers the jobs the
  // steps wait on; an early exit kills the DR job, which ends every wait.
  drtest::CTestThread RunStepsLater(const std::vector<SVSAStep>& steps, bool& result, int order = 1);
  CVSAStepTestContext& Context() { return *m_context; }
  SDRPriority* Priority(int order = 1);
  // The orchestrator's machine records, in replication id order.
  std::vector<CDRInfo*> Machines();
  CDRInfo* Machine(int replicationId);
  // A context over the machines (all of them when none are named), as the
  // subclient thread of the machines' first group would have it.
  SDROperationCtx Ctx(const std::vector<int>& replicationIds = {});

  // Loads every machine's record again (after a test changed the stored
  // replications).
  void Reload();

  // ---- steering ----
  void Kill();
  void Suspend();
  // A sync of the task a schedule starts, outside the DR job; hung until the
  // test lets it go.
  long long StartScheduledSync(int taskId, bool hang = true);
  long long StartScheduledBackup(int subclientId, bool hang = true);

  // A fault on the calls from..to (counted among those it matches) of an
  // operation type on a VM (GUID, or the name of a VM a call creates).
  static void PlantFault(int opType, const std::string& vm, ELabFault kind, int fromCall = 1, int toCall = 1,
                         int code = 7100, const std::string& text = "refused by the lab");

  // ---- reading back ----
  const std::vector<SVSALabVM>& VMs() const { return m_vms; }
  const SVSALabVM& VM(int replicationId) const;
  std::vector<int> ReplicationIdsOfGroup(int subclientId) const;
  std::vector<int> TaskIdsOfGroup(int subclientId) const;
  // The DR job's phase rows (CPhaseRowStore).
  static std::vector<SPhaseRowRecord> JobRows();
  // The phase row of a replication, phase and status -1 when none.
  static SPhaseRowRecord RowOf(int replicationId, int phase);
  static std::vector<SPhaseRowRecord> RowsOfPhase(int phase);
  // The child job a phase row names; 0 when none. Of a row RowOf did not
  // find (as of the message below), the test fails.
  static long long JobOf(const SPhaseRowRecord& row);
  // The message a phase row carries (a failure's reason).
  static std::string MessageOf(const SPhaseRowRecord& row);
  // Every state a replication's phase row was written with, in order (the
  // row keeps only the last).
  static std::vector<int> PhaseUpdates(int replicationId, int phase);
  static App::VSAReplicationInfo Stored(int replicationId);
  // The stored property's value; found false when the replication has none.
  // Without found the property must be there: a missing one fails the test.
  static std::string StoredProperty(int replicationId, int propertyId, bool* found = nullptr);
  // Stores fields of a replication as the management server would change
  // them (the partial message holds the id).
  static void Change(int replicationId, const std::function<void(App::VSAReplicationInfo&)>& fields);
  // A failback schedule whose DR options list the replications.
  static void StoreFailbackSchedule(int taskId, const std::vector<int32_t>& replicationIds);
  // Adds a property to a stored replication.
  static void AddProperty(int replicationId, int propertyId, const std::string& value);
  static void SetPower(long long instance, const std::string& guid, bool on);
  static int StoredSyncStatus(int replicationId);
  static int StoredFailoverStatus(int replicationId);
  static std::vector<SChildJobRecord> ChildJobs(EChildJobType type) { return drtest::ChildJobsOf(type); }
  SLabVM SourceVM(int replicationId) const;
  SLabVM DRVM(int replicationId) const;
  // The snapshots of the replication's VM on the site (0 source, 1 DR).
  std::vector<SLabSnapshot> Snapshots(int replicationId, int site) const;
  // Adds a snapshot to the replication's VM on the site (holding content);
  // its reference.
  std::string AddSnapshot(int replicationId, int site, const std::string& name, long long content = 0);
  // The names of the snapshots of the replication's VM on the site, oldest
  // first.
  std::vector<std::string> SnapshotNames(int replicationId, int site) const;
  // The snapshot requests the VM operations of a type sent: "<VM GUID>
  // <name> <reference>", in order.
  static std::vector<std::string> SnapshotRequests(int opType);
  // A machine record of the lab's priority without a data source (so
  // without a replication record or data manager).
  std::unique_ptr<CDRInfo> Orphan(int replicationId);
  static std::vector<SLabCall> LabCalls(int opType = -1);
  static bool LoggedLine(const std::string& text) { return Logged(text); }

  // The orchestrator the lab description asks for.
  CDRBase* NewOrchestrator();

  SVSALabSpec m_spec;
  std::vector<SVSALabVM> m_vms;
  std::unique_ptr<drtest::CScopedJobSimulator> m_simulator;
  std::unique_ptr<CDRBase> m_dr;
  std::unique_ptr<CVSAStepTestContext> m_context;
};
