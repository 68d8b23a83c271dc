// The enumerations of the message library.
//
// Their numbers travel in messages, database rows and stored properties, so
// the numbers are the contract and must never be renumbered; the names are
// ours. Every enumeration is a plain (unscoped) enum inside its namespace so
// that values convert to int where the code stores or prints them, and every
// one has int32_t as its fixed underlying type: a value read from a message
// or a row may be one that has no enumerator here (an older or newer peer),
// and with a fixed underlying type every 32-bit value is a valid value of the
// enum, so such values can be carried and compared without undefined
// behaviour. Values without a name below are still legal values.
#pragma once

#include <stdint.h>

namespace Api {

// Phase of a DR step; one phase row per phase and machine.
enum VirtualAppJobPhaseType : int32_t {
  VIRTUAL_APP_PHASE_SCRIPT_EXECUTION = 0,
  VIRTUAL_APP_PHASE_POWER_ON = 1,
  VIRTUAL_APP_PHASE_POWER_OFF = 2,
  VIRTUAL_APP_PHASE_REPLICATION = 7,
  VIRTUAL_APP_PHASE_BACKUP = 8,
  VIRTUAL_APP_PHASE_DISABLE_SYNC = 15,
  VIRTUAL_APP_PHASE_ENABLE_SYNC = 16,
  VIRTUAL_APP_PHASE_CREATE_SNAPSHOT = 17,
  VIRTUAL_APP_PHASE_DELETE_SNAPSHOT = 18,
  VIRTUAL_APP_PHASE_REVERT_SNAPSHOT = 19,
  VIRTUAL_APP_PHASE_DISABLE_NETWORK_ADAPTERS = 20,
  VIRTUAL_APP_PHASE_AUX_COPY = 21,
  VIRTUAL_APP_PHASE_POST_DR_OPERATION = 22,
  VIRTUAL_APP_PHASE_BACKUP_COPY = 23,
  VIRTUAL_APP_PHASE_SHUTDOWN = 24,
  VIRTUAL_APP_PHASE_STORAGE_OPERATION = 25,
  // The row that carries the final state of the whole DR job.
  VIRTUAL_APP_PHASE_JOB_STATE = 26,
  VIRTUAL_APP_PHASE_DELETE_OPERATION = 28,
  VIRTUAL_APP_PHASE_CREATE_VIRTUAL_MACHINE = 29,
  VIRTUAL_APP_PHASE_GET_VM_INFO = 30,
  VIRTUAL_APP_PHASE_CREATE_DR_VIRTUAL_MACHINE = 31,
  // The hypervisor's post-failover action on the DR machine.
  VIRTUAL_APP_PHASE_POST_VM_FAILOVER = 32,
  VIRTUAL_APP_PHASE_DR_VM_SNAP_MOUNT = 34,
  VIRTUAL_APP_PHASE_BREAK_VOLUME_RELATIONSHIP = 35,
  VIRTUAL_APP_PHASE_RESYNC_VOLUME_RELATIONSHIP = 36,
  VIRTUAL_APP_PHASE_DR_VM_SNAP_UNMOUNT = 37,
  VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_MOUNT = 38,
  VIRTUAL_APP_PHASE_DR_VM_TEST_SNAP_UNMOUNT = 39,
  VIRTUAL_APP_PHASE_DELETE_DR_VIRTUAL_MACHINE = 40,
  // The failover of a machine started from a snapshot mount; shown with the
  // same text as 32 but weighed and executed differently.
  VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER = 41,
  VIRTUAL_APP_PHASE_CLONE_VM = 42,
  VIRTUAL_APP_PHASE_REFRESH_VM = 43,
};

// State of a phase row. Single-bit values, compared as whole values.
enum VirtualAppPhaseState : int32_t {
  VIRTUAL_APP_PHASE_STATE_SUCCESS = 0,
  VIRTUAL_APP_PHASE_STATE_FAILED = 1,
  VIRTUAL_APP_PHASE_STATE_IN_PROGRESS = 2,
  VIRTUAL_APP_PHASE_STATE_COMPLETED_WITH_ERRORS = 4,
  VIRTUAL_APP_PHASE_STATE_SKIPPED = 8,
  VIRTUAL_APP_PHASE_STATE_KILLED = 16,
  VIRTUAL_APP_PHASE_STATE_SUSPENDED = 32,
  VIRTUAL_APP_PHASE_STATE_PENDING = 64,
};

// Site of a DR step.
enum DRSite : int32_t {
  DR_SITE_SOURCE = 0,       // primary
  DR_SITE_DESTINATION = 1,  // secondary
};

}  // namespace Api

namespace ZNDR {

// The operation a DR step performs on one site. 0: none chosen yet.
enum BatchOperation : int32_t {
  BATCH_OP_NONE = 0,
  BATCH_OP_POWER_OFF_PRIMARY = 1,
  BATCH_OP_POWER_ON_PRIMARY = 2,
  BATCH_OP_POWER_ON_SECONDARY = 3,
  BATCH_OP_POWER_OFF_SECONDARY = 4,
  BATCH_OP_SHUTDOWN_PRIMARY = 5,
  BATCH_OP_SHUTDOWN_SECONDARY = 6,
  BATCH_OP_FAILOVER = 7,
  BATCH_OP_POST_REPLICATION = 8,
  BATCH_OP_TESTBOOT_SECONDARY = 9,
  BATCH_OP_DISABLE_NETWORK_ADAPTERS_SECONDARY = 10,
  BATCH_OP_DISABLE_NETWORK_ADAPTERS_PRIMARY = 11,
  BATCH_OP_CREATE_SNAPSHOT_PRIMARY = 12,
  BATCH_OP_CREATE_SNAPSHOT_SECONDARY = 13,
  BATCH_OP_DELETE_SNAPSHOT_PRIMARY = 14,
  BATCH_OP_DELETE_SNAPSHOT_SECONDARY = 15,
  BATCH_OP_REVERT_SNAPSHOT_PRIMARY = 16,
  BATCH_OP_REVERT_SNAPSHOT_SECONDARY = 17,
  BATCH_OP_RUN_PRE_SCRIPTS_PRIMARY = 18,
  BATCH_OP_RUN_PRE_SCRIPTS_SECONDARY = 19,
  BATCH_OP_RUN_POST_SCRIPTS_PRIMARY = 20,
  BATCH_OP_RUN_POST_SCRIPTS_SECONDARY = 21,
  BATCH_OP_BACKUP_PRIMARY = 23,
  BATCH_OP_BACKUP_SECONDARY = 24,
  BATCH_OP_REPLICATION_PRIMARY = 25,
  BATCH_OP_REPLICATION_SECONDARY = 26,
  BATCH_OP_STORAGE_OPERATION_PRIMARY = 27,
  BATCH_OP_STORAGE_OPERATION_SECONDARY = 28,
  BATCH_OP_SRC_VM_MOUNT_FROM_SNAP = 29,
  BATCH_OP_DR_VM_MOUNT_FROM_SNAP = 30,
  BATCH_OP_DR_VM_UNMOUNT_FROM_SNAP = 31,
  BATCH_OP_SRC_VM_UNMOUNT_FROM_SNAP = 32,
  BATCH_OP_DR_VM_TEST_MOUNT = 33,
  BATCH_OP_DR_VM_TEST_UNMOUNT = 34,
  BATCH_OP_DELETE_DESTINATION = 35,
  BATCH_OP_GET_VM_INFO_DESTINATION = 36,
  BATCH_OP_CREATE_VM_DESTINATION = 37,
  BATCH_OP_POST_FAILOVER = 38,
  BATCH_OP_DELETE_DR_VIRTUAL_MACHINE = 39,
  BATCH_OP_DISABLE_SYNC = 40,
  BATCH_OP_POST_DR_OPERATION = 41,
  BATCH_OP_CLONE_VM_DESTINATION = 42,
  BATCH_OP_REFRESH_VM_DESTINATION = 43,
};

// Which property of a replication record a data manager writes.
enum DR_ORCHESTRATION_PROPERTY : int32_t {
  DR_PROPERTY_SYNC_STATUS = 0,
  DR_PROPERTY_FAILOVER_STATUS = 1,
  DR_PROPERTY_LAST_RESTORE_TIME = 2,
  DR_PROPERTY_VM_SYNCED_TILL_TIME = 3,
  DR_PROPERTY_RESET_DEST_VM_GUID = 4,
};

// Severity of a DR message raised on the job.
enum E_DR_EVENT_TYPE : int32_t {
  DR_EVENT_INFO = 1,
  DR_EVENT_CRITICAL = 2,
  DR_EVENT_MINOR = 3,
  DR_EVENT_MAJOR = 4,
};

}  // namespace ZNDR

namespace App {

// Sync status of a VM replication.
enum VSAReplicationStatus : int32_t {
  VSA_REPL_STATUS_NONE = 0,
  VSA_REPL_STATUS_IN_SYNC = 1,
  VSA_REPL_STATUS_NEED_SYNC = 2,
  VSA_REPL_STATUS_SYNC_IN_PROGRESS = 3,
  VSA_REPL_STATUS_SYNC_PAUSED = 4,
  VSA_REPL_STATUS_SYNC_FAILED = 5,
  VSA_REPL_STATUS_SYNC_DISABLED = 6,
  VSA_REPL_STATUS_SYNC_ENABLED = 7,
  VSA_REPL_STATUS_VALIDATION_FAILED = 8,
  VSA_REPL_STATUS_REVERT_FAILED = 10,
  VSA_REPL_STATUS_SYNC_STARTING = 11,
};

// Failover status of a replication. 0: no failover status.
enum VSAFailoverStatus : int32_t {
  VSA_FAILOVER_STATUS_NONE = 0,
  VSA_FAILOVER_STATUS_FAILOVER_COMPLETE = 1,
  VSA_FAILOVER_STATUS_FAILOVER_IN_PROGRESS = 2,
  VSA_FAILOVER_STATUS_FAILOVER_FAILED = 4,
  VSA_FAILOVER_STATUS_FAILBACK_COMPLETE = 5,
  VSA_FAILOVER_STATUS_FAILBACK_IN_PROGRESS = 6,
  VSA_FAILOVER_STATUS_FAILBACK_FAILED = 8,
  VSA_FAILOVER_STATUS_REVERT_FAILOVER_COMPLETE = 13,
  VSA_FAILOVER_STATUS_REVERT_FAILOVER_IN_PROGRESS = 14,
  VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED = 15,
};

// Test-failover status of a replication.
enum DRTestFailoverStatus : int32_t {
  DR_TEST_FAILOVER_STATUS_NONE = 0,
  DR_TEST_FAILOVER_STATUS_COMPLETE = 1,
  DR_TEST_FAILOVER_STATUS_IN_PROGRESS = 2,
  DR_TEST_FAILOVER_STATUS_FAILED = 3,
  DR_TEST_FAILOVER_STATUS_UNDO_IN_PROGRESS = 4,
  DR_TEST_FAILOVER_STATUS_UNDO_FAILED = 5,
};

// Backup status of one VM in a backup job. Only the two values a DR backup
// phase counts as a success have names; every other value is a failure.
enum VmStatusEnum : int32_t {
  VM_STATUS_SUCCESS = 0,
  VM_STATUS_SUCCESS_WITH_ERRORS = 3,
};

}  // namespace App

namespace TMMsg {

// The DR operation a DR job carries out. 5 and 12 are unused.
enum DROrchestrationType : int32_t {
  DR_ORCHESTRATION_NONE = 0,
  DR_ORCHESTRATION_PLANNED_FAILOVER = 1,
  DR_ORCHESTRATION_FAILBACK = 2,
  DR_ORCHESTRATION_UNPLANNED_FAILOVER = 3,
  DR_ORCHESTRATION_REVERT_FAILOVER = 4,
  DR_ORCHESTRATION_UNDO_FAILOVER = 6,
  DR_ORCHESTRATION_TESTBOOT = 7,
  DR_ORCHESTRATION_POINT_IN_TIME_FAILOVER = 8,
  DR_ORCHESTRATION_REVERSE_REPLICATION = 9,
  DR_ORCHESTRATION_CLEANUP_DESTINATION_VM = 10,
  DR_ORCHESTRATION_TEST_FAILOVER = 11,
  DR_ORCHESTRATION_UNDO_TEST_FAILOVER = 13,
};

// Where the machines of a priority come from.
enum DROpSourceType : int32_t {
  DR_OP_SOURCE_VSA_REPLICATION = 0,
  DR_OP_SOURCE_DB_REPLICATION = 2,
  DR_OP_SOURCE_PHYSICAL_MACHINE = 3,
  DR_OP_SOURCE_SNAP_ARRAY_REPLICATION = 4,
};

// Replication type of a DR job's options. 0: not set.
enum DRReplicationType : int32_t {
  DR_REPLICATION_TYPE_NONE = 0,
  // Storage-array replication: every priority is storage-array replication
  // and priorities follow the machines' boot order.
  DR_REPLICATION_TYPE_SNAP_ARRAY = 3,
};

// VM operation of a VM provisioning request. Only the operations the DR
// steps ask for have names.
enum VMOperationType : int32_t {
  VM_OPERATION_CREATE_VM = 0,
  VM_OPERATION_SHUTDOWN = 2,
  VM_OPERATION_CREATE_SNAPSHOT = 3,
  VM_OPERATION_REVERT_SNAPSHOT = 4,
  VM_OPERATION_DELETE = 5,
  VM_OPERATION_CLONE_VM = 6,
  VM_OPERATION_POWER_ON = 10,
  VM_OPERATION_DELETE_SNAPSHOT = 15,
  VM_OPERATION_GET_VM_INFO = 16,
  VM_OPERATION_REFRESH_VM = 20,
  VM_OPERATION_POWER_OFF = 29,
  VM_OPERATION_SCRIPT_EXECUTION = 46,
  VM_OPERATION_DISABLE_NETWORK_ADAPTERS = 47,
  VM_OPERATION_CREATE_DR_VM = 50,
  VM_OPERATION_POST_VM_FAILOVER = 52,
  VM_OPERATION_SNAP_MOUNT = 55,
  VM_OPERATION_SNAP_UNMOUNT = 56,
  VM_OPERATION_DELETE_DR_VM = 57,
  VM_OPERATION_POST_VM_MOUNT_FAILOVER = 58,
  // What a phase without a VM operation of its own maps to.
  VM_OPERATION_GENERIC = 62,
};

// Filter ids of a task operation's options (TMMsg::OptionFilter::kFilterId).
enum OptionFilterId : int32_t {
  // A sync of the task: the replication to sync.
  OPTION_FILTER_REPLICATION_ID = 120012,
  // A failback restore: "true", the serialized restore options, the
  // replication ids (comma-separated) and the source client.
  OPTION_FILTER_FAILBACK = 120015,
  OPTION_FILTER_RESTORE_OPTIONS = 120016,
  OPTION_FILTER_RESTORE_REPLICATIONS = 120017,
  OPTION_FILTER_SOURCE_CLIENT = 293753447,
};

}  // namespace TMMsg

namespace JobManager {

// A job control request.
enum JobOperation : int32_t {
  JOB_OP_SUSPEND = 0,
  JOB_OP_RESUME = 2,
  JOB_OP_KILL = 3,
};

}  // namespace JobManager

namespace Common {

// Hypervisor or cloud vendor of a replication's site. Vendors are told apart
// by their codes only; where the code base gives no name the enumerator
// carries the code. 5, 7 and 17 form one family that every vendor test
// treats alike (asking for 5 also matches 7 and 17).
enum VSVendor : int32_t {
  VS_VENDOR_NONE = 0,
  VS_VENDOR_1 = 1,
  VS_VENDOR_HYPERV = 2,
  VS_VENDOR_4 = 4,
  VS_VENDOR_5 = 5,
  VS_VENDOR_7 = 7,
  VS_VENDOR_12 = 12,
  VS_VENDOR_16 = 16,
  VS_VENDOR_17 = 17,
  VS_VENDOR_HYPERV_19 = 19,
};

}  // namespace Common

// Job operation type of a job (the child jobs a DR step starts, and the kind
// of a job found by a query).
enum ZNOpType : int32_t {
  ZN_OP_NONE = 0,
  ZN_OP_BACKUP = 4,
  ZN_OP_AUX_COPY = 13,
  ZN_OP_SNAP_BACKUP = 59,
  ZN_OP_BACKUP_COPY = 60,
  ZN_OP_REPLICATION = 105,
};

// State of a storage-array volume relationship as a replica group records
// it after a break or re-sync.
enum E_VOLUME_RELATIONSHIP_STATUS : int32_t {
  VOLUME_RELATIONSHIP_NORMAL = 0,  // mirroring; also the state after a re-sync
  VOLUME_RELATIONSHIP_BROKEN = 1,
  // Not a relationship state: the status is not written back to the
  // replication records.
  VOLUME_RELATIONSHIP_NOT_RECORDED = 8,
};
