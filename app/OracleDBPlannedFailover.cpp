#include "OracleDBPlannedFailover.h"

#include "AppRepInfo.h"
#include "drorch/DRJobManager.h"
#include "engine/DRDataSource.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "engine/GenericDR.h"
#include "engine/SDRInstanceCtx.h"
#include "engine/SDROSubclient.h"
#include "engine/SDROperationCtx.h"
#include "engine/SDRPriority.h"

namespace {

// Gives a one-machine context the subclient group its backup and sync share
// for as long as the failover of the machine runs.
class CMachineGroup {
 public:
  CMachineGroup(SDROperationCtx& ctx, CDRInfo* machine, int subclientId)
      : m_ctx(ctx),
        m_previous(ctx.subclient),
        m_group(ctx.priority != nullptr ? ctx.priority->order : 0, subclientId) {
    if (m_previous != nullptr) return;
    m_group.Init(std::vector<CDRInfo*>(1, machine));
    m_ctx.subclient = &m_group;
  }
  ~CMachineGroup() { m_ctx.subclient = m_previous; }
  CMachineGroup(const CMachineGroup&) = delete;
  CMachineGroup& operator=(const CMachineGroup&) = delete;

 private:
  SDROperationCtx& m_ctx;
  SDROSubclient* m_previous;
  SDROSubclient m_group;
};

}  // namespace

COracleDBPlannedFailover::COracleDBPlannedFailover(CGenericDR& orchestrator)
    : COracleDBDRBase(orchestrator), m_genericDR(&orchestrator) {
  if (m_jobManager != nullptr) m_event.setJobId(m_jobManager->GetJobId());
}

COracleDBPlannedFailover::~COracleDBPlannedFailover() {
  m_event.DebugLvl(2, "~COracleDBPlannedFailover", "Invoking COracleDBPlannedFailover destructor");
}

bool COracleDBPlannedFailover::ProcessPriority(const SDRPriority& priority) {
  return CAppDRBase::ProcessPriority(priority);
}

void COracleDBPlannedFailover::LoadOperationConfig(SDROperationCtx& ctx) {
  switch (ctx.batchOp) {
    case ZNDR::BATCH_OP_POWER_ON_SECONDARY:
    case ZNDR::BATCH_OP_SHUTDOWN_PRIMARY:
    case ZNDR::BATCH_OP_BACKUP_PRIMARY:
    case ZNDR::BATCH_OP_REPLICATION_PRIMARY:
      ctx.updatePhaseInfoTbl = true;
      break;
    default:
      ctx.updatePhaseInfoTbl = false;
      break;
  }
  ctx.markRowAsFailedOnFailure = true;
}

bool COracleDBPlannedFailover::FailAfterShutdown(SDROperationCtx& ctx, CDRInfo* machine) {
  SDROperationCtx source(ctx);
  source.site = Api::DR_SITE_SOURCE;
  SDRInstanceCtx instance;
  std::string home;
  std::string error;
  if (!LoadInstanceHome(source, machine, instance, home, error)) home = "?";
  m_event.Error("Failover", "Source database of replication [%d] on client [%s] at Oracle home [%s] is left stopped",
                machine->GetReplId(), instance.clientName.c_str(), home.c_str());
  return false;
}

bool COracleDBPlannedFailover::Failover(SDROperationCtx& ctx) {
  CDRInfo* machine = ctx.GetInfo();
  if (machine == nullptr) return false;
  const int replId = machine->GetReplId();
  AppRepInfo* rep = GetAppRepInfo(machine);
  CMachineGroup group(ctx, machine, rep != nullptr ? static_cast<int>(rep->getSubclientId()) : 0);

  // A rerun of the job: once the earlier run reached the source's shutdown
  // its backup and sync carry the source's last data (nothing is written
  // after the shutdown, as in a run that never died), and once it started
  // the destination, that database holds the workload and nothing may be
  // synced over it. A source still running since gets a new backup and sync.
  const bool stopped = EarlierRunReached(machine, Api::VIRTUAL_APP_PHASE_SHUTDOWN);
  const bool started = EarlierRunSucceeded(machine, Api::VIRTUAL_APP_PHASE_POWER_ON);
  if (stopped) {
    m_event.Debug("Failover", "The source database of replication [%d] was shut down by an earlier run of DR job [%lld]",
                  replId, static_cast<long long>(m_jobManager->GetJobId()));
  } else {
    if (!__OP(ctx, ZNDR::BATCH_OP_BACKUP_PRIMARY, false)) {
      m_event.Error("Failover", "Instance backup failed for replication [%d]", replId);
      return false;
    }
    if (!__OP(ctx, ZNDR::BATCH_OP_REPLICATION_PRIMARY, false)) {
      m_event.Error("Failover", "Instance replication failed for replication [%d]", replId);
      return false;
    }
  }
  if (started) return Complete(ctx, machine);
  if (!__OP(ctx, ZNDR::BATCH_OP_SHUTDOWN_PRIMARY, false)) {
    m_event.Error("Failover", "Instance shutdown failed for replication [%d]", replId);
    return false;
  }
  // The status the shut-down leaves is the one a failed start-up restores.
  SDataSourceInfo reload;
  reload.replIds.assign(1, replId);
  if (machine->getDataSource() != nullptr) machine->getDataSource()->ReloadData(reload);
  rep = GetAppRepInfo(machine);
  const App::VSAReplicationStatus noted = rep != nullptr ? rep->GetStatus() : App::VSA_REPL_STATUS_NONE;

  if (!DisableSync(machine, ctx)) {
    m_event.Error("Failover", "Disable sync failed for replication [%d]", replId);
    return FailAfterShutdown(ctx, machine);
  }
  if (!__OP(ctx, ZNDR::BATCH_OP_POWER_ON_SECONDARY, false)) {
    m_event.Error("Failover", "Destination instance boot failed for replication [%d]", replId);
    RevertSyncStatus(machine, noted);
    return FailAfterShutdown(ctx, machine);
  }
  return Complete(ctx, machine);
}

bool COracleDBPlannedFailover::Complete(SDROperationCtx& ctx, CDRInfo* machine) {
  machine->SetStatus(Api::VIRTUAL_APP_PHASE_STATE_SUCCESS);
  // A suspended job completes no machine (CDRInfo::SetStatus): its status
  // stays for the restart, which completes it.
  if (!machine->IsSuccess()) return false;
  if (!UpdateFailoverStatus(machine, App::VSA_FAILOVER_STATUS_FAILOVER_COMPLETE)) {
    return FailAfterShutdown(ctx, machine);
  }
  m_event.Debug("Failover", "Failover succeeded for replication [%d] ", machine->GetReplId());
  return true;
}

uint32_t COracleDBPlannedFailover::EarlierPhaseState(CDRInfo* machine, Api::VirtualAppJobPhaseType phase) {
  if (m_jobManager == nullptr || !m_jobManager->IsJobRestarted()) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(
      DRInfoUtils::GetPhaseStatusForReplication(m_jobManager, phase, machine));
}

bool COracleDBPlannedFailover::EarlierRunReached(CDRInfo* machine, Api::VirtualAppJobPhaseType phase) {
  const uint32_t state = EarlierPhaseState(machine, phase);
  return state == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS || state == Api::VIRTUAL_APP_PHASE_STATE_IN_PROGRESS;
}

bool COracleDBPlannedFailover::EarlierRunSucceeded(CDRInfo* machine, Api::VirtualAppJobPhaseType phase) {
  return EarlierPhaseState(machine, phase) == Api::VIRTUAL_APP_PHASE_STATE_SUCCESS;
}
