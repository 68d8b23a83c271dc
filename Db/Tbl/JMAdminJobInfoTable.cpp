#include "JMAdminJobInfoTable.h"

#include <stddef.h>

namespace {

const SDBColumnBind kColumns[] = {
    {"jobId", "i", offsetof(JMAdminJobInfoTable_t, jobId)},
    {"opType", "i", offsetof(JMAdminJobInfoTable_t, opType)},
    {"status", "i", offsetof(JMAdminJobInfoTable_t, status)},
    {"servStart", "x", offsetof(JMAdminJobInfoTable_t, servStart)},
    {"servEnd", "x", offsetof(JMAdminJobInfoTable_t, servEnd)},
    {"archGrpID", "i", offsetof(JMAdminJobInfoTable_t, archGrpID)},
    {"archGrpName", "s", offsetof(JMAdminJobInfoTable_t, archGrpName)},
    {"AP_NumDays", "i", offsetof(JMAdminJobInfoTable_t, AP_NumDays)},
    {"AP_IsForecast", "i", offsetof(JMAdminJobInfoTable_t, AP_IsForecast)},
    {"AP_SeqNum", "i", offsetof(JMAdminJobInfoTable_t, AP_SeqNum)},
    {"AC_NewMediaFlag", "i", offsetof(JMAdminJobInfoTable_t, AC_NewMediaFlag)},
    {"ER_BkpLevel", "i", offsetof(JMAdminJobInfoTable_t, ER_BkpLevel)},
    {"ER_DbName", "s", offsetof(JMAdminJobInfoTable_t, ER_DbName)},
    {"ER_Destination", "s", offsetof(JMAdminJobInfoTable_t, ER_Destination)},
    {"ER_SendCount", "i", offsetof(JMAdminJobInfoTable_t, ER_SendCount)},
    {"ER_MediasUsed", "s", offsetof(JMAdminJobInfoTable_t, ER_MediasUsed)},
    {"TotalObjects", "b", offsetof(JMAdminJobInfoTable_t, TotalObjects)},
    {"ObjectsDone", "b", offsetof(JMAdminJobInfoTable_t, ObjectsDone)},
    {"ObjectsFailed", "b", offsetof(JMAdminJobInfoTable_t, ObjectsFailed)},
    {"archGrpCopyID", "i", offsetof(JMAdminJobInfoTable_t, archGrpCopyID)},
    {"LibraryID", "i", offsetof(JMAdminJobInfoTable_t, LibraryID)},
    {"MI_InventoryType", "i", offsetof(JMAdminJobInfoTable_t, MI_InventoryType)},
    {"currentWriteTime", "i", offsetof(JMAdminJobInfoTable_t, currentWriteTime)},
    {"noOfStreams", "i", offsetof(JMAdminJobInfoTable_t, noOfStreams)},
    {"appID", "i", offsetof(JMAdminJobInfoTable_t, appID)},
    {"dependantJobId", "i", offsetof(JMAdminJobInfoTable_t, dependantJobId)},
    {"workFlowId", "i", offsetof(JMAdminJobInfoTable_t, workFlowId)},
    {"srcMediaAgent", "s", offsetof(JMAdminJobInfoTable_t, srcMediaAgent)},
    {"destMediaAgent", "s", offsetof(JMAdminJobInfoTable_t, destMediaAgent)},
    {"drivePoolId", "i", offsetof(JMAdminJobInfoTable_t, drivePoolId)},
    {"mediaId", "i", offsetof(JMAdminJobInfoTable_t, mediaId)},
    {"sourceJobId", "i", offsetof(JMAdminJobInfoTable_t, sourceJobId)},
    {"TotalSize", "b", offsetof(JMAdminJobInfoTable_t, TotalSize)},
    {"noOfStreamsAllocated", "i", offsetof(JMAdminJobInfoTable_t, noOfStreamsAllocated)},
    {"maxRestarts", "i", offsetof(JMAdminJobInfoTable_t, maxRestarts)},
    {"restartInterval", "i", offsetof(JMAdminJobInfoTable_t, restartInterval)},
    {"embeddedObjects", "b", offsetof(JMAdminJobInfoTable_t, embeddedObjects)},
    {"uncompBytes", "b", offsetof(JMAdminJobInfoTable_t, uncompBytes)},
    {"numFiles", "b", offsetof(JMAdminJobInfoTable_t, numFiles)},
    {"skippedItems", "b", offsetof(JMAdminJobInfoTable_t, skippedItems)},
    {"writeTime", "i", offsetof(JMAdminJobInfoTable_t, writeTime)},
    {"reportType", "i", offsetof(JMAdminJobInfoTable_t, reportType)},
    {"cloudId", "i", offsetof(JMAdminJobInfoTable_t, cloudId)},
    {"reportSetId", "i", offsetof(JMAdminJobInfoTable_t, reportSetId)},
    {"reportName", "s", offsetof(JMAdminJobInfoTable_t, reportName)},
    {"reportSetName", "s", offsetof(JMAdminJobInfoTable_t, reportSetName)},
    {"fromTime", "i", offsetof(JMAdminJobInfoTable_t, fromTime)},
    {"toTime", "i", offsetof(JMAdminJobInfoTable_t, toTime)},
    {"subTaskId", "i", offsetof(JMAdminJobInfoTable_t, subTaskId)},
    {"otherOpName", "s", offsetof(JMAdminJobInfoTable_t, otherOpName)},
    {"nwTransBytes", "b", offsetof(JMAdminJobInfoTable_t, nwTransBytes)},
    {"haldenId", "i", offsetof(JMAdminJobInfoTable_t, haldenId)},
};
const char* const kKeys[] = {"jobId", "haldenId"};
const SDBRelation kRelations[] = {
    {"JMJobInfo", "jobId", "jobId", "haldenId", "haldenId"},
};

const SDBBindingDesc kDesc = {
    "JMAdminJobInfoTable",
    1,
    "1.42.210.3",
    "Db/Tbl/JMAdminJobInfoTable.h",
    kColumns,
    52,
    kKeys,
    2,
    nullptr,
    "jobId, haldenId",
    kRelations,
    1,
};


}  // namespace

JMAdminJobInfoTable_t::~JMAdminJobInfoTable_t() {
  delete[] archGrpName;
  archGrpName = nullptr;
  delete[] ER_DbName;
  ER_DbName = nullptr;
  delete[] ER_Destination;
  ER_Destination = nullptr;
  delete[] ER_MediasUsed;
  ER_MediasUsed = nullptr;
  delete[] srcMediaAgent;
  srcMediaAgent = nullptr;
  delete[] destMediaAgent;
  destMediaAgent = nullptr;
  delete[] reportName;
  reportName = nullptr;
  delete[] reportSetName;
  reportSetName = nullptr;
  delete[] otherOpName;
  otherOpName = nullptr;
}

JMAdminJobInfoTable_t2::~JMAdminJobInfoTable_t2() = default;

const SDBBindingDesc& JMAdminJobInfoTable_t2::Desc() { return kDesc; }

JMAdminJobInfoTable::JMAdminJobInfoTable(DBtran* tran)
    : ZNDBGeneratedBinding<JMAdminJobInfoTable, JMAdminJobInfoTable_t, JMAdminJobInfoTable_t2, 52>(tran) {
}

JMAdminJobInfoTable::~JMAdminJobInfoTable() = default;

const SDBBindingDesc& JMAdminJobInfoTable::Desc() { return kDesc; }
