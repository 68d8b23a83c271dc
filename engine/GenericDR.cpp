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

CGenericDR::CGenericDR(TMMsg::DROrchestrationType drType) : CDRBase(drType) {
  SetContextMaker(
      [this](const SDRPriority& priority, TMMsg::DROrchestrationType type) { return NewContext(priority, type); });
}

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

bool CGenericDR::NewVSAContext(TMMsg::DROrchestrationType type, IDRContext*& context) {
  context = nullptr;
  switch (type) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
      context = new (std::nothrow) CVSAPlannedFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_FAILBACK:
      context = new (std::nothrow) CVSAFailback(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      context = new (std::nothrow) CVSAUnplannedFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_REVERT_FAILOVER:
      context = new (std::nothrow) CVSARevertFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      context = new (std::nothrow) CVSAUndoFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_TESTBOOT:
      context = new (std::nothrow) CVSATestboot(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER:
      context = new (std::nothrow) CVSAPointInTimeFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_REVERSE_REPLICATION:
      context = new (std::nothrow) CVSAReverseReplication(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_CLEANUP_DESTINATION_VM:
      context = new (std::nothrow) CVSACleanupDestVM(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      context = new (std::nothrow) CVSATestFailover(*this);
      return true;
    default:
      return false;
  }
}

bool CGenericDR::NewSnapArrayContext(TMMsg::DROrchestrationType type, IDRContext*& context) {
  context = nullptr;
  switch (type) {
    case TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER:
      context = new (std::nothrow) CSnapArrayPlannedFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER:
      context = new (std::nothrow) CSnapArrayUnplannedFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER:
      context = new (std::nothrow) CSnapArrayUndoFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_TEST_FAILOVER:
      context = new (std::nothrow) CSnapArrayTestFailover(*this);
      return true;
    case TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER:
      context = new (std::nothrow) CSnapArrayUndoTestFailover(*this);
      return true;
    default:
      return false;
  }
}

IDRContext* CGenericDR::NewContext(const SDRPriority& priority, TMMsg::DROrchestrationType type) {
  IDRContext* context = nullptr;
  switch (priority.infoSource) {
    case TMMsg::DR_OP_SOURCE_VSA_REPLICATION:
      NewVSAContext(type, context);
      return context;
    case TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION:
      NewSnapArrayContext(type, context);
      return context;
    case TMMsg::DR_OP_SOURCE_DB_REPLICATION:
      if (GetApplicationId(priority) != kOracleAppId || type != TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER) {
        return nullptr;
      }
      return new (std::nothrow) COracleDBPlannedFailover(*this);
    default:
      return nullptr;
  }
}

bool CGenericDR::ProcessVSAReplicationPriority(const SDRPriority& priority) {
  IDRContext* context = nullptr;
  if (!NewVSAContext(GetDRType(), context)) {
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
  if (!NewSnapArrayContext(GetDRType(), context)) {
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
  // The verdicts ask this context, not one of their own: each context
  // logs its destruction.
  COracleDBPlannedFailover context(*this);
  const bool result = context.ProcessPriority(priority);
  AskAdmissions(priority, context);
  return result;
}

bool CGenericDR::ProcessPhysicalMachinePriority(const SDRPriority& priority) {
  m_event.Debug("ProcessPhysicalMachinePriority", "Priority [%d] is a [Physical Machine] type priority",
                priority.order);
  return true;
}
