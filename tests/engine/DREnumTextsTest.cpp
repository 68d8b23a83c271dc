// Display texts of the DR enumerations. The expected rows are typed from the
// operator-facing tables, not copied from the code, so a typo on either side
// shows up here; every value of a wide range that is not listed must give
// the operation's default text.
#include <stdint.h>

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/DRHelper.h"
#include "engine/DRInfoUtils.h"

namespace {

struct STextRow {
  int value;
  const char* text;
};

// Listed values, plus everything from -3 to 130 and the 32-bit extremes.
std::vector<int> ValuesToProbe(const std::map<int, std::string>& listed) {
  std::vector<int> values = {INT32_MIN, INT32_MIN + 1, -1000, 1000, 65536, INT32_MAX};
  for (int v = -3; v <= 130; ++v) values.push_back(v);
  for (const auto& row : listed) values.push_back(row.first);
  return values;
}

template <typename TEnum>
void ExpectTexts(std::string (*toText)(TEnum), std::initializer_list<STextRow> rows,
                 const std::string& fallback) {
  std::map<int, std::string> listed;
  for (const STextRow& row : rows) listed[row.value] = row.text;
  for (int value : ValuesToProbe(listed)) {
    auto it = listed.find(value);
    const std::string& expected = it == listed.end() ? fallback : it->second;
    EXPECT_EQ(expected, toText(static_cast<TEnum>(value))) << "value " << value;
  }
}

}  // namespace

TEST(DRHelperTexts, PhaseNames) {
  ExpectTexts(&DRHelper::GetPhaseNameStr,
              {{0, "Script Execution"},
               {1, "Power On"},
               {2, "Power Off"},
               {7, "Replication"},
               {8, "Backup"},
               {15, "Disable Sync"},
               {16, "Enable Sync"},
               {17, "Create Snapshot"},
               {18, "Delete Snapshot"},
               {19, "Revert Snapshot"},
               {20, "Disable Network Adapters"},
               {21, "Aux Copy"},
               {23, "Backup Copy"},
               {24, "Shutdown"},
               {25, "Storage Operation"},
               {28, "Delete Operation"},
               {29, "Create Virtual Machine"},
               {30, "Get VM Info VM"},
               {31, "Create DR Virtual Machine"},
               {32, "Post VM Failover"},
               {34, "DR-VM Snap Mount"},
               {35, "Break Volume Relationship"},
               {36, "Re-sync Volume Relationship"},
               {37, "DR-VM Snap Unmount"},
               {38, "DR-VM Test Snap Mount"},
               {39, "DR-VM Test Snap Unmount"},
               {40, "Delete DR Virtual Machine"},
               {41, "Post VM Failover"},
               {42, "Clone VM"},
               {43, "Refresh VM"}},
              "DR Operation");
}

TEST(DRHelperTexts, PhaseNameEdgeCases) {
  // The job's own state row has no name of its own.
  EXPECT_EQ("DR Operation", DRHelper::GetPhaseNameStr(Api::VIRTUAL_APP_PHASE_JOB_STATE));
  EXPECT_EQ("DR Operation", DRHelper::GetPhaseNameStr(Api::VIRTUAL_APP_PHASE_POST_DR_OPERATION));
  EXPECT_EQ(DRHelper::GetPhaseNameStr(Api::VIRTUAL_APP_PHASE_POST_VM_FAILOVER),
            DRHelper::GetPhaseNameStr(Api::VIRTUAL_APP_PHASE_POST_VM_MOUNT_FAILOVER));
}

TEST(DRInfoUtilsTexts, BatchOperationNames) {
  ExpectTexts(&DRInfoUtils::GetBatchOpStr,
              {{1, "Power off Primary"},
               {2, "Power on Primary"},
               {3, "Power on Secondary"},
               {4, "Power off Secondary"},
               {5, "Shutdown Primary"},
               {6, "Shutdown Secondary"},
               {7, "Failover"},
               {8, "Post Replication"},
               {9, "Testboot Secondary"},
               {12, "Create snapshot Primary"},
               {13, "Create snapshot Secondary"},
               {14, "Delete snapshot Primary"},
               {15, "Delete snapshot Secondary"},
               {16, "Revert snapshot Primary"},
               {17, "Revert snapshot Secondary"},
               {18, "Run Pre-Scripts on Primary"},
               {19, "Run Pre-cripts on Secondary"},
               {20, "Run Post-Scripts on Primary"},
               {21, "Run Post-Scripts on Secondary"},
               {29, "SRC-VM Mount from Snap"},
               {30, "DR-VM Mount from Snap"},
               {31, "DR-VM Unmount from Snap"},
               {32, "SRC-VM Unmount from Snap"},
               {33, "DR-VM Test Mount"},
               {34, "DR-VM Test Unmount"},
               {35, "Delete Destination"},
               {36, "GetVMInfo Destination"},
               {37, "Create VM Destination"},
               {38, "Post Failover"},
               {39, "Delete DR Virtual Machine"},
               {42, "Clone VM Destination"},
               {43, "Refresh VM Destination"}},
              "Gen Op");
}

TEST(DRInfoUtilsTexts, BatchOperationsWithoutTextOfTheirOwn) {
  // Operations the step mappings produce but that have no text: backup,
  // replication, storage operation, network adapters, disable sync, post-DR.
  for (int op : {0, 10, 11, 22, 23, 24, 25, 26, 27, 28, 40, 41, 44}) {
    EXPECT_EQ("Gen Op", DRInfoUtils::GetBatchOpStr(static_cast<ZNDR::BatchOperation>(op))) << op;
  }
}

TEST(DRHelperTexts, PhaseStates) {
  ExpectTexts(&DRHelper::GetPhaseStatusStr,
              {{0, "SUCCESS"},
               {1, "FAILED"},
               {2, "IN-PROGRESS"},
               {4, "CWE"},
               {8, "SKIPPED"},
               {16, "KILLED"},
               {32, "SUSPENDED"}},
              "UNKOWN");
  // Whole-value comparison: two bits together are not read bit by bit.
  EXPECT_EQ("UNKOWN", DRHelper::GetPhaseStatusStr(static_cast<Api::VirtualAppPhaseState>(6)));
  EXPECT_EQ("UNKOWN", DRHelper::GetPhaseStatusStr(Api::VIRTUAL_APP_PHASE_STATE_PENDING));
}

TEST(DRHelperTexts, SyncStatuses) {
  ExpectTexts(&DRHelper::GetVSASyncStatusStr,
              {{1, "In Sync"},
               {2, "Need Sync"},
               {3, "Sync in Progress"},
               {4, "Sync Paused"},
               {5, "Sync Failed"},
               {6, "Sync Disabled"},
               {7, "Sync Enabled"},
               {8, "Validation Failed"},
               {10, "Revert Failed"},
               {11, "Sync Starting"}},
              "");
}

TEST(DRHelperTexts, FailoverStatuses) {
  ExpectTexts(&DRHelper::GetVSAFailoverStatusStr,
              {{1, "Failover Complete"},
               {2, "Failover in Progress"},
               {4, "Failover Failed"},
               {5, "Failback Complete"},
               {6, "Failback in Progress"},
               {8, "Failback Failed"},
               {13, "Revert Failover Complete"},
               {14, "Revert Failover in Progress"},
               {15, "Revert Failover Failed"}},
              "");
}

TEST(DRHelperTexts, TestFailoverStatuses) {
  ExpectTexts(&DRHelper::GetDRTestFailoverStatusStr,
              {{1, "Test Failover Complete"},
               {2, "Test Failover in Progress"},
               {3, "Test Failover Failed"},
               {4, "Undo-Test Failover in Progress"},
               {5, "Undo-Test Failover Failed"}},
              "");
}

TEST(DRHelperTexts, DrTypes) {
  ExpectTexts(&DRHelper::GetDrTypeStr,
              {{1, "Planned Failover"},
               {2, "Failback"},
               {3, "Unplanned Failover"},
               {4, "Revert Failover"},
               {6, "Undo Failover"},
               {7, "Testboot"},
               {8, "Point in Time Failover"},
               {9, "Reverse Replication"},
               {10, "Cleanup up Destination VM"},
               {11, "Test Failover"},
               {13, "Undo Test Failover"}},
              "");
}

TEST(DRHelperTexts, ChildJobOperationTypes) {
  ExpectTexts(&DRHelper::GetOpStr,
              {{4, "Backup"}, {13, "Aux Copy"}, {60, "Backup Copy"}, {105, "Replication"}},
              "Custom Op");
  EXPECT_EQ("Custom Op", DRHelper::GetOpStr(ZN_OP_SNAP_BACKUP));
}

TEST(DRHelperTexts, SitesSourcesAndJobOperations) {
  ExpectTexts(&DRHelper::GetSiteStr, {{0, "Source"}, {1, "Destination"}}, "");
  // Physical machines (3) and storage-array replication (4) have no text.
  ExpectTexts(&DRHelper::GetInfoSourceStr, {{0, "VSA Replication"}, {2, "DB Replication"}}, "");
  ExpectTexts(&DRHelper::GetJobOpStr, {{0, "Suspend"}, {2, "Resume"}, {3, "Kill"}}, "");
}

TEST(DRInfoUtilsTexts, ThreadKinds) {
  ExpectTexts(&DRInfoUtils::GetDRThreadTypeStr,
              {{0, "Subclient"},
               {1, "Sub-Priority"},
               {3, "Break Volume Relationship"},
               {4, "Resync Volume Relationship"}},
              "Gen-Op");
  // The generic kind says "Gen-Op" with a hyphen; a batch operation without
  // text says "Gen Op" with a blank.
  EXPECT_EQ("Gen-Op", DRInfoUtils::GetDRThreadTypeStr(DR_THREAD_GENERIC_OP));
  EXPECT_EQ("Gen Op", DRInfoUtils::GetBatchOpStr(ZNDR::BATCH_OP_NONE));
}

TEST(DRHelperTexts, EnumeratorNumbersAreTheWireValues) {
  // Enumerators are written by name in code but travel as numbers: a
  // renumbered enumerator would break every stored row and message.
  EXPECT_EQ(26, Api::VIRTUAL_APP_PHASE_JOB_STATE);
  EXPECT_EQ(43, Api::VIRTUAL_APP_PHASE_REFRESH_VM);
  EXPECT_EQ(64, Api::VIRTUAL_APP_PHASE_STATE_PENDING);
  EXPECT_EQ(1, Api::DR_SITE_DESTINATION);
  EXPECT_EQ(19, ZNDR::BATCH_OP_RUN_PRE_SCRIPTS_SECONDARY);
  EXPECT_EQ(43, ZNDR::BATCH_OP_REFRESH_VM_DESTINATION);
  EXPECT_EQ(15, App::VSA_FAILOVER_STATUS_REVERT_FAILOVER_FAILED);
  EXPECT_EQ(11, App::VSA_REPL_STATUS_SYNC_STARTING);
  EXPECT_EQ(5, App::DR_TEST_FAILOVER_STATUS_UNDO_FAILED);
  EXPECT_EQ(13, TMMsg::DR_ORCHESTRATION_UNDO_TEST_FAILOVER);
  EXPECT_EQ(4, TMMsg::DR_OP_SOURCE_SNAP_ARRAY_REPLICATION);
  EXPECT_EQ(62, TMMsg::VM_OPERATION_GENERIC);
  EXPECT_EQ(3, JobManager::JOB_OP_KILL);
  EXPECT_EQ(105, ZN_OP_REPLICATION);
  EXPECT_EQ(4, DR_THREAD_RESYNC_VOLUME_RELATIONSHIP);
  EXPECT_EQ(4u, sizeof(Api::VirtualAppJobPhaseType));
  EXPECT_EQ(4u, sizeof(ZNDR::BatchOperation));
}
