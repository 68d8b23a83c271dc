#include "GenericDR.h"

#include <new>
#include <string>

#include "IDRContext.h"
#include "app/OracleDBPlannedFailover.h"
#include "SDRPriority.h"
#include "app/SnapArrayPlannedFailover.h"
#include "app/SnapArrayTestFailover.h"
#include "app/SnapArrayUndoFailover.h"
#include "app/SnapArrayUndoTestFailover.h"
#include "app/SnapArrayUnplannedFailover.h"
#include "vsa/VSACleanupDestVM.h"
#include "vsa/VSAFailback.h"
#include "vsa/VSAPlannedFailover.h"
#include "vsa/VSAPointInTimeFailover.h"
#include "vsa/VSAReverseReplication.h"
#include "vsa/VSARevertFailover.h"
#include "vsa/VSATestFailover.h"
#include "vsa/VSATestboot.h"
#include "vsa/VSAUndoFailover.h"
#include "vsa/VSAUnplannedFailover.h"

namespace {

// Oracle database replications are the only application replications with a
// DR context; they only know planned failover.
const int32_t kOracleAppId = 22;

}  // namespace

CGenericDR::CGenericDR(TMMsg::DROrchestrationType drType) : CDRBase(drType) {}

CGenericDR::~CGenericDR() { m_event.DebugLvl(2, "~CGenericDR", "Invoked CGenericDR destructor"); }

bool CGenericDR::RunPriority(const SDRPriority& priority) {
  switch (priority.infoSource) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION:
      return ProcessVSAReplicationPriority(priority);
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
      return ProcessDBReplicationPriority(priority);
    case TMMsg::DR_OP_SOURCE_PHYSICAL_MACHINE:
      return ProcessPhysicalMachinePriority(priority);
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION:
      return ProcessSnapArrayReplicationPriority(priority);
    default:
      m_event.Error("RunPriority", "Unknown Info Source Error");
      return false;
  }
}

bool CGenericDR::ProcessVSAReplicationPriority(const SDRPriority& priority) {
  IDRContext* context = nullptr;
  switch (GetDRType()) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
      context = new (std::nothrow) CVSAPlannedFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_FAILBACK:
      context = new (std::nothrow) CVSAFailback(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      context = new (std::nothrow) CVSAUnplannedFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER:
      context = new (std::nothrow) CVSARevertFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      context = new (std::nothrow) CVSAUndoFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_TESTBOOT:
      context = new (std::nothrow) CVSATestboot(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER:
      context = new (std::nothrow) CVSAPointInTimeFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION:
      context = new (std::nothrow) CVSAReverseReplication(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM:
      context = new (std::nothrow) CVSACleanupDestVM(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      context = new (std::nothrow) CVSATestFailover(*this);
      break;
    default:
      m_event.Error("ProcessVSAReplicationPriority", "Unknown Type Error");
      RefuseDRType(priority, "VM replications");
      return false;
  }
  if (context == nullptr) {
    m_event.Error("ProcessVSAReplicationPriority", "Memory allocation failed for VSA object.");
    return false;
  }
  return _ExecPriority(context, priority);
}

bool CGenericDR::ProcessSnapArrayReplicationPriority(const SDRPriority& priority) {
  IDRContext* context = nullptr;
  switch (GetDRType()) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
      context = new (std::nothrow) CSnapArrayPlannedFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      context = new (std::nothrow) CSnapArrayUnplannedFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      context = new (std::nothrow) CSnapArrayUndoFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      context = new (std::nothrow) CSnapArrayTestFailover(*this);
      break;
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      context = new (std::nothrow) CSnapArrayUndoTestFailover(*this);
      break;
    default:
      m_event.Error("ProcessSnapArrayReplicationPriority", "Unknown Type Error");
      RefuseDRType(priority, "storage-array replications");
      return false;
  }
  if (context == nullptr) {
    m_event.Error("ProcessSnapArrayReplicationPriority", "Memory allocation failed for SnapDR object.");
    return false;
  }
  return _ExecPriority(context, priority);
}

bool CGenericDR::ProcessDBReplicationPriority(const SDRPriority& priority) {
  m_event.Debug("ProcessDBReplicationPriority", "Priority [%d] is a [DB Replication] type priority", priority.order);
  if (GetApplicationId(priority) != kOracleAppId) {
    RefuseDRType(priority, "database replications of application [" + std::to_string(GetApplicationId(priority)) + "]");
    return false;
  }
  if (GetDRType() != TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
    RefuseDRType(priority, "database replications");
    return false;
  }
  // Runs in a clean-up run too, and without post-processing or clean-up.
  COracleDBPlannedFailover context(*this);
  return context.ProcessPriority(priority);
}

bool CGenericDR::ProcessPhysicalMachinePriority(const SDRPriority& priority) {
  m_event.Debug("ProcessPhysicalMachinePriority", "Priority [%d] is a [Physical Machine] type priority",
                priority.order);
  return true;
}
