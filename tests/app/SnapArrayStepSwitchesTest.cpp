// The step switches each storage-array operation class gives the batch
// operations it runs: a failed phase that marks the machine failed, phase
// rows written, the post-step switch and the refusal to run once a machine
// was dropped. A switch a class leaves alone keeps what the context had, so
// every row runs on a context with every switch off and again with every
// switch on.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/SnapArrayPlannedFailover.h"
#include "app/SnapArrayTestFailover.h"
#include "app/SnapArrayUndoFailover.h"
#include "app/SnapArrayUndoTestFailover.h"
#include "app/SnapArrayUnplannedFailover.h"
#include "engine/GenericDR.h"
#include "engine/SDROperationCtx.h"

namespace {

// A switch's expected value: set on, set off, or left as the context had it.
enum ESwitch { kOff, kOn, kLeft };

struct SSwitchRow {
  std::vector<ZNDR::BatchOperation> batchOps;
  // markRowAsFailedOnFailure, updatePhaseInfoTbl, postStep, mandateAllSuccess
  ESwitch switches[4];
};

bool SDROperationCtx::*const kSwitches[4] = {&SDROperationCtx::markRowAsFailedOnFailure,
                                             &SDROperationCtx::updatePhaseInfoTbl, &SDROperationCtx::postStep,
                                             &SDROperationCtx::mandateAllSuccess};
const char* const kSwitchNames[4] = {"markRowAsFailedOnFailure", "updatePhaseInfoTbl", "postStep",
                                     "mandateAllSuccess"};

struct SClassTable {
  const char* name;
  TMMsg::DROrchestrationType drType;
  std::function<CSnapArrayDRBase*(CGenericDR&)> create;
  std::vector<SSwitchRow> rows;
};

template <typename T>
std::function<CSnapArrayDRBase*(CGenericDR&)> Maker() {
  return [](CGenericDR& generic) -> CSnapArrayDRBase* { return new T(generic); };
}

using namespace ZNDR;

// "Other" rows name batch operations the class runs (or may be handed) that
// have no row of their own, and the operation none.
const std::vector<SClassTable>& Tables() {
  static const std::vector<SClassTable> tables = {
      {"planned",
       TMMsg::DR_ORCHESTRATION_PLANNED_FAILOVER,
       Maker<CSnapArrayPlannedFailover>(),
       {
           {{BATCH_OP_SHUTDOWN_PRIMARY, BATCH_OP_BACKUP_PRIMARY, BATCH_OP_STORAGE_OPERATION_PRIMARY},
            {kOn, kOn, kLeft, kOn}},
           {{BATCH_OP_DR_VM_MOUNT_FROM_SNAP}, {kOn, kOn, kLeft, kOff}},
           {{BATCH_OP_GET_VM_INFO_DESTINATION}, {kOff, kOff, kOff, kLeft}},
           {{BATCH_OP_NONE, BATCH_OP_POWER_ON_PRIMARY, BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP, BATCH_OP_POWER_OFF_SECONDARY},
            {kOn, kOff, kLeft, kOff}},
       }},
      {"unplanned",
       TMMsg::DR_ORCHESTRATION_UNPLANNED_FAILOVER,
       Maker<CSnapArrayUnplannedFailover>(),
       {
           {{BATCH_OP_SHUTDOWN_PRIMARY}, {kOff, kOn, kLeft, kLeft}},
           {{BATCH_OP_DR_VM_MOUNT_FROM_SNAP}, {kOn, kOn, kLeft, kOff}},
           {{BATCH_OP_GET_VM_INFO_DESTINATION}, {kOff, kOff, kOff, kLeft}},
           {{BATCH_OP_NONE, BATCH_OP_BACKUP_PRIMARY, BATCH_OP_STORAGE_OPERATION_PRIMARY, BATCH_OP_POWER_OFF_SECONDARY,
             BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP},
            {kOn, kOff, kLeft, kOff}},
       }},
      {"undo",
       TMMsg::DR_ORCHESTRATION_UNDO_FAILOVER,
       Maker<CSnapArrayUndoFailover>(),
       {
           {{BATCH_OP_SHUTDOWN_SECONDARY}, {kOff, kOff, kOff, kLeft}},
           {{BATCH_OP_STORAGE_OPERATION_PRIMARY}, {kOn, kOn, kLeft, kOn}},
           {{BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP}, {kOn, kOn, kOn, kLeft}},
           {{BATCH_OP_GET_VM_INFO_DESTINATION}, {kOff, kOff, kOff, kLeft}},
           {{BATCH_OP_NONE, BATCH_OP_POWER_ON_PRIMARY, BATCH_OP_SHUTDOWN_PRIMARY, BATCH_OP_DR_VM_MOUNT_FROM_SNAP,
             BATCH_OP_POWER_OFF_SECONDARY},
            {kOn, kOn, kLeft, kOff}},
       }},
      {"test",
       TMMsg::DR_ORCHESTRATION_TEST_FAILOVER,
       Maker<CSnapArrayTestFailover>(),
       {
           {{BATCH_OP_DR_VM_TEST_MOUNT}, {kOn, kOn, kLeft, kLeft}},
           {{BATCH_OP_GET_VM_INFO_DESTINATION}, {kOff, kOff, kOff, kLeft}},
           {{BATCH_OP_NONE, BATCH_OP_DR_VM_TEST_UNMOUNT, BATCH_OP_POWER_OFF_SECONDARY, BATCH_OP_DR_VM_MOUNT_FROM_SNAP},
            {kOff, kOn, kLeft, kLeft}},
       }},
      {"undo test",
       TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER,
       Maker<CSnapArrayUndoTestFailover>(),
       {
           {{BATCH_OP_DR_VM_TEST_UNMOUNT}, {kOn, kOn, kLeft, kLeft}},
           // Its VM-information step has no row of its own.
           {{BATCH_OP_NONE, BATCH_OP_POWER_OFF_SECONDARY, BATCH_OP_GET_VM_INFO_DESTINATION, BATCH_OP_DR_VM_TEST_MOUNT},
            {kOff, kOn, kLeft, kLeft}},
       }},
  };
  return tables;
}

bool Expected(ESwitch expected, bool before) { return expected == kLeft ? before : expected == kOn; }

TEST(SnapArrayStepSwitches, EveryClassSetsTheSwitchesOfItsTableAndLeavesTheRest) {
  for (const SClassTable& table : Tables()) {
    SCOPED_TRACE(table.name);
    CGenericDR generic(table.drType);
    std::unique_ptr<CSnapArrayDRBase> context(table.create(generic));
    ASSERT_NE(nullptr, context);
    for (const SSwitchRow& row : table.rows) {
      for (ZNDR::BatchOperation op : row.batchOps) {
        for (bool before : {false, true}) {
          SCOPED_TRACE("batch operation " + std::to_string(op) + (before ? ", switches on" : ", switches off"));
          SDROperationCtx ctx;
          ctx.batchOp = op;
          for (bool SDROperationCtx::*field : kSwitches) ctx.*field = before;
          context->LoadOperationConfig(ctx);
          for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(Expected(row.switches[i], before), ctx.*kSwitches[i]) << kSwitchNames[i];
          }
          EXPECT_EQ(op, ctx.batchOp);
        }
      }
    }
  }
}

}  // namespace
