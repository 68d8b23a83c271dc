// Every binding against its description: select list, struct definition,
// keys, serial column, order-by, relations, kind and version.
#include <string.h>

#include <functional>
#include <memory>
#include <sstream>
#include <type_traits>
#include <utility>

#include <gtest/gtest.h>

#include "Db/Proc/APPSetActivityControl.h"
#include "Db/Proc/AppGetSnapDRArchiveFiles.h"
#include "Db/Proc/AppGetVSMemberServers.h"
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/Proc/MM_SMNetAppOpenReplReport.h"
#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/Tbl/APP_Application.h"
#include "Db/Tbl/APP_Client.h"
#include "Db/Tbl/APP_ClientProp.h"
#include "Db/Tbl/APP_InstanceProp.h"
#include "Db/Tbl/APP_VM.h"
#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/APP_VSAReplicationProp.h"
#include "Db/Tbl/App_VirtualAppJobStats.h"
#include "Db/Tbl/App_VirtualAppProp.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "Db/Tbl/JMAdminJobInfoTable.h"
#include "Db/Tbl/JMBkpJobInfo.h"
#include "Db/Tbl/JMJobDataLink.h"
#include "Db/Tbl/OBGlobalParam.h"
#include "Db/ZNSimpleDBSem.h"
#include "db/DBConnection.h"

namespace {

using Relations = std::map<std::string, std::map<std::string, std::string>>;

// What a binding reports, read through its public surface in typed mode.
struct SObserved {
  int kind = 0;
  std::string selectList, description, version, orderBy, serialName;
  bool serialNameNull = false, serialFieldIsFirst = false, serialFieldNull = false;
  std::string structDef, primaryWhere;
  int serialColNum = 0, headerType = 0;
  size_t primaryData = 0;
  std::vector<std::string> columns;
  Relations relations;
  std::string tableName;
  // Per column of the descriptor: type code, and whether it starts null and
  // not updated.
  std::vector<int> dataTypes;
  bool valuesStartEmpty = true;
  // Field offsets in the value struct, in column order.
  std::vector<size_t> offsets;
};

template <class X>
SObserved Observe() {
  bool saved = DBtable::b_newDBBase;
  DBtable::b_newDBBase = true;
  SObserved o;
  {
    X x(nullptr);
    o.kind = x.getKind();
    o.selectList = x.getSelectList();
    o.description = x.getDescription();
    o.version = o.kind == 2 ? std::string(x.getVersion()) : std::string(x.getVersionText());
    o.orderBy = x.getOrderBy();
    o.serialNameNull = x.getSerialName() == nullptr;
    o.serialName = x.getSerialName() ? x.getSerialName() : "";
    o.serialFieldNull = x.getSerialField() == nullptr;
    o.serialFieldIsFirst = x.getSerialField() == static_cast<void*>(x.getDataPtr());
    auto* d = x.getRowDescriptor();
    o.structDef = d->getStructDef();
    o.primaryWhere = d->getPrimaryWhere();
    o.serialColNum = d->getSerialColNum();
    o.headerType = d->getHeaderType();
    o.primaryData = d->getPrimaryData().size();
    for (size_t i = 0; i < d->getData().size(); ++i) o.columns.push_back(d->getColumnName(static_cast<int>(i)));
    o.relations = d->getForeignKeyMap();
    o.tableName = d->getTableName();
    for (ZNDBDataTypeBase* v : d->getData()) {
      o.dataTypes.push_back(v->getDataType());
      o.valuesStartEmpty = o.valuesStartEmpty && v->isNull() && v->getUpdated() == NOT_UPDATED;
    }
    for (int i = 0; i < X::Desc().columnCount; ++i) o.offsets.push_back(X::Desc().columns[i].offset);
  }
  DBtable::b_newDBBase = saved;
  return o;
}

struct SExpected {
  const char* name;
  std::function<SObserved()> observe;
  int kind;
  const char* version;
  const char* columns;  // names joined by ", "
  const char* structDef;  // before the x -> b turn
  const char* primaryWhere;
  int serialColNum;
  const char* orderBy;  // tables
  Relations relations;
};

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + v[i];
  return s;
}

// The column value a struct-definition token calls for.
std::vector<int> TypeCodes(const std::string& structDef) {
  std::vector<int> codes;
  size_t start = 0;
  for (size_t bar; (bar = structDef.find('|', start)) != std::string::npos; start = bar + 1) {
    switch (structDef[start]) {
      case 'i':
        codes.push_back(1);
        break;
      case 'f':
        codes.push_back(2);
        break;
      case 'b':
      case 'x':
        codes.push_back(4);
        break;
      case 't':
        codes.push_back(5);
        break;
      default:
        codes.push_back(6);
    }
  }
  return codes;
}

size_t KeyCount(const std::string& primaryWhere) {
  size_t n = 0;
  for (size_t at = 0; (at = primaryWhere.find(" = ?", at)) != std::string::npos; at += 4) ++n;
  return n;
}

std::string XtoB(std::string s) {
  for (char& c : s) {
    if (c == 'x') c = 'b';
  }
  return s;
}

const char kBkpJobInfoColumns[] =
    "jobId, haldenId, applicationId, numStreams, currentPolicy, targetCopyList, bkpLevel, indexOverride, "
    "startNewMedia, compBytes, unCompBytes, filesToXfer, backupTaskId, scanFileFailures, scanFolderFailures, "
    "backupFileFailures, backupFolderFailures, shadowCopyId, bkpOptions, oraSubLevel, bkpattributes, dataPolicy, "
    "logPolicy, filesXfered, currentThroughput, averageThroughput, filesIndexed, filesFailedToIndex, "
    "filesSkippedForIndex, contentIndexDBSize, totalMediaUsageTime, mediaAgentName, scanType, scanTypeChangeReason, "
    "numStreamsAllocated, maxRestarts, restartInterval, cloudId, diffPolicy, targetClientId, unCompBytesToXfer, "
    "secondaryBkpLevel, jobIdActedOn, fromTime, toTime, nwTransBytes, totSkippedObjects, bkpAttributesEx, "
    "jobReferenceTime, totReadBytes, totReadTime, totPhysicalWriteBytes, totPhysicalWriteTime, totNwTransTime, "
    "totSidbLookups, totSidbLookupTime, readCurrentThroughput, readAverageThroughput, writeCurrentThroughput, "
    "writeAverageThroughput, networkCurrentThroughput, networkAverageThroughput, sidbCurrentLookups, "
    "sidbAverageLookups";
const char kAdminJobInfoColumns[] =
    "jobId, opType, status, servStart, servEnd, archGrpID, archGrpName, AP_NumDays, AP_IsForecast, AP_SeqNum, "
    "AC_NewMediaFlag, ER_BkpLevel, ER_DbName, ER_Destination, ER_SendCount, ER_MediasUsed, TotalObjects, "
    "ObjectsDone, ObjectsFailed, archGrpCopyID, LibraryID, MI_InventoryType, currentWriteTime, noOfStreams, appID, "
    "dependantJobId, workFlowId, srcMediaAgent, destMediaAgent, drivePoolId, mediaId, sourceJobId, TotalSize, "
    "noOfStreamsAllocated, maxRestarts, restartInterval, embeddedObjects, uncompBytes, numFiles, skippedItems, "
    "writeTime, reportType, cloudId, reportSetId, reportName, reportSetName, fromTime, toTime, subTaskId, "
    "otherOpName, nwTransBytes, haldenId";
const char kAdminJobInfoFormat[] =
    "i|i|i|x|x|i|s|i|i|i|i|i|s|s|i|s|b|b|b|i|i|i|i|i|i|i|i|s|s|i|i|i|b|i|i|i|b|b|b|b|i|i|i|i|s|s|i|i|i|s|b|i|";

const std::vector<SExpected>& Expected() {
  static const std::vector<SExpected> all = {
      {"APP_InstanceProp", Observe<APP_InstanceProp>, 1, "1.13.278.3",
       "id, componentNameId, attrName, attrType, attrVal, created, modified, hdpId", "i|i|s2049|i|s|x|x|i|", "id = ?", 0,
       "id", {{"APP_InstanceName", {{"componentNameId", "id"}}}}},
      {"APP_Client", Observe<APP_Client>, 1, "1.63.2.10",
       "id, name, simOperatingSystemId, net_hostname, client_password, refTime, modified, offlineEntity, "
       "offlineTimeStamp, dhHostName, clientDescription, jobResultDir, clientSkewTime, zndPort, evclientPort, status, "
       "releaseId, spaceCheckFlags, hdpId, hdpTime, origHDId, GUID, specialClientFlags, displayName",
       "i|s511|i|s511|s511|x|x|i|x|s511|s|s511|i|i|i|i|i|i|i|x|i|s65|i|s511|", "id = ?", 0, "id",
       {{"simOperatingSystem", {{"simOperatingSystemId", "id"}}}, {"simAllOrbeloRel", {{"releaseId", "id"}}}}},
      {"APP_Application", Observe<APP_Application>, 1, "1.38.2.9",
       "id, clientId, appTypeId, instance, backupSet, appNumber, dataArchGrpID, logArchGrpID, refTime, modified, "
       "subclientName, subclientStatus, hdpId, hdpTime, origHDId, GUID",
       "i|i|i|i|i|i|i|i|x|x|s257|i|i|x|i|s65|", "id = ?", 0, "id",
       {{"APP_client", {{"clientId", "id"}}},
        {"APP_iDAType", {{"appTypeId", "type"}}},
        {"APP_InstanceName", {{"instance", "id"}}},
        {"APP_BackupSetName", {{"backupSet", "id"}}},
        {"archGroup", {{"logArchGrpID", "id"}}}}},
      {"App_VirtualAppProp", Observe<App_VirtualAppProp>, 1, "1.1.2.4",
       "componentNameId, attrName, attrType, attrVal, created, modified", "i|s2049|i|s2049|x|x|", "", -1, "",
       {{"App_VirtualApp", {{"componentNameId", "id"}}}}},
      {"AppGetVSMemberServers", Observe<AppGetVSMemberServers>, 2, "00d:0000000000000000", "", "", "", -1, "", {}},
      {"TM_GetTaskDetail", Observe<TM_GetTaskDetail>, 2, "v1.62.2.30.4.1", "xmlText", "s|", "", -1, "", {}},
      {"OBGlobalParam", Observe<OBGlobalParam>, 1, "1.120.88.3", "id, name, value, created, modified", "i|s129|s|x|x|",
       "", 0, "id", {}},
      {"APP_VSAReplication", Observe<APP_VSAReplication>, 1, "1.4.2.5",
       "replicationId, replicationGuid, sourceGuid, sourceName, destinationGuid, destinationName, lastRestoreTime, "
       "lastBackupTime, taskId, subclientId, powerOn, options, spare1, spare2, spare3, created, modified, flags, "
       "status, backupsetId, lastSyncedBkpJob, VMSyncedTillTime, BkpJobsToSync, ValidationFailCount, FailoverStatus",
       "i|s256|s256|s|s256|s|x|x|i|i|b|s|s|s|s|x|x|i|i|i|i|i|s|i|i|", "replicationId = ?", 0, "replicationId", {}},
      {"APP_VSAReplicationProp", Observe<APP_VSAReplicationProp>, 1, "1.1.2.4",
       "id, replicationId, propertyTypeId, propertyValue, created, modified", "i|i|i|s|x|x|", "id = ?", 0, "id", {}},
      {"App_VmAllocationPolicy", Observe<App_VmAllocationPolicy>, 1, "1.5.50.1",
       "id, name, vDataCenterId, description, vxml, ownerId, created, modified, alive, flags", "i|s513|i|s|s|i|x|x|i|i|",
       "id = ?", 0, "id", {{"UMUsers", {{"ownerId", "id"}}}, {"App_VMDataCenter", {{"vDataCenterId", "id"}}}}},
      {"APP_ClientProp", Observe<APP_ClientProp>, 1, "1.11.278.10",
       "id, componentNameId, attrName, attrType, attrVal, created, modified, hdpId", "i|i|s2049|i|s2049|x|x|i|", "", 0,
       "id", {{"APP_Client", {{"componentNameId", "id"}}}}},
      {"AppVSAReplicationsDeleteOptions", Observe<AppVSAReplicationsDeleteOptions>, 2, "00d:0000000000000000",
       "o_xmlString", "s|", "", -1, "", {}},
      {"APP_VM", Observe<APP_VM>, 1, "1.9.50.3",
       "id, vHostId, clientId, GUID, name, vxml, timeStamp, addTimeStamp, removalTimeStamp, status, "
       "vmAllocationPolicyId",
       "i|i|i|s257|s513|s|t|t|t|i|i|", "", 0, "id",
       {{"App_VMHost", {{"vHostId", "id"}}}, {"APP_Client", {{"clientId", "id"}}}}},
      {"APPSetActivityControl", Observe<APPSetActivityControl>, 2, "00010017000200190000", "", "", "", -1, "", {}},
      {"AppGetSnapDRArchiveFiles", Observe<AppGetSnapDRArchiveFiles>, 2, "00d:0000000000000000",
       "o_masterJobId, o_vmName, o_afileId, o_jobId, o_vmClientId, o_vmGuid, o_vmAppId, o_mountStatus, o_mountHostId, "
       "o_isFailoverMount",
       "i|s1021|i|i|i|s1021|i|i|i|i|", "", -1, "", {}},
      {"MM_SMNetAppOpenReplReport", Observe<MM_SMNetAppOpenReplReport>, 2, "00d:0000000000000000",
       "o_spName, o_copyName, o_copyType, o_clientName, o_subclientName, o_relationshipId, o_relationshipType, "
       "o_sourcePath, o_sourceArray, o_targetPath, o_targetArray, o_snapCount, o_subclientId, o_copyId, "
       "o_replicaGroupId, o_storagePolicyId, o_defaultSPCopy, o_controlHostId, o_replicaPairId",
       "s1021|s1021|s1021|s1021|s1021|s1021|s1021|s1021|s1021|s1021|s1021|i|i|i|i|i|i|i|i|", "", -1, "", {}},
      {"JMJobDataLink", Observe<JMJobDataLink>, 1, "1.13.302.2",
       "haldenId, parentJobId, childJobId, parentAppid, childAppid, linkType, childJobStatus", "i|i|i|i|i|i|i|",
       "haldenId = ?AND parentJobId = ?AND childJobId = ?", -1, "haldenId, parentJobId, childJobId",
       {{"APP_Halden", {{"haldenId", "id"}}}, {"JMJobStats", {{"childJobId", "jobId"}, {"haldenId", "haldenId"}}}}},
      {"JMBkpJobInfo", Observe<JMBkpJobInfo>, 1, "1.46.200.6", kBkpJobInfoColumns,
       "i|i|i|i|i|s|i|i|i|b|b|b|i|i|i|i|i|s|i|i|b|i|i|b|f|f|b|b|b|b|b|s|i|s25|i|i|i|i|i|i|b|i|i|i|i|b|b|b|i|b|b|b|b|b|"
       "b|b|f|f|f|f|f|f|f|f|",
       "jobId = ?AND haldenId = ?", -1, "jobId, haldenId",
       {{"JMJobInfo", {{"jobId", "jobId"}, {"haldenId", "haldenId"}}}, {"APP_Application", {{"applicationId", "id"}}}}},
      {"JMAdminJobInfoTable", Observe<JMAdminJobInfoTable>, 1, "1.42.210.3", kAdminJobInfoColumns,
       kAdminJobInfoFormat, "jobId = ?AND haldenId = ?", -1, "jobId, haldenId",
       {{"JMJobInfo", {{"jobId", "jobId"}, {"haldenId", "haldenId"}}}}},
  };
  return all;
}

}  // namespace

TEST(BindingDescription, EveryBindingMatchesItsDescription) {
  for (const SExpected& e : Expected()) {
    SCOPED_TRACE(e.name);
    SObserved o = e.observe();
    EXPECT_EQ(o.kind, e.kind);
    EXPECT_EQ(o.headerType, e.kind);
    EXPECT_EQ(o.tableName, e.name);
    EXPECT_EQ(o.version, e.version);
    EXPECT_EQ(o.selectList, e.columns);
    EXPECT_EQ(Join(o.columns), e.columns);
    EXPECT_EQ(o.structDef, XtoB(e.structDef));
    EXPECT_EQ(o.structDef.find('x'), std::string::npos);
    EXPECT_EQ(o.primaryWhere, e.primaryWhere);
    EXPECT_EQ(o.primaryData, KeyCount(e.primaryWhere));
    EXPECT_EQ(o.dataTypes, TypeCodes(e.structDef));
    EXPECT_TRUE(o.valuesStartEmpty);
    // A field bound under another column's name shows as offsets out of order.
    for (size_t i = 1; i < o.offsets.size(); ++i) EXPECT_GT(o.offsets[i], o.offsets[i - 1]) << o.columns[i];
    EXPECT_EQ(o.serialColNum, e.serialColNum);
    EXPECT_EQ(o.relations, e.relations);
    if (e.kind == 1) {
      EXPECT_EQ(o.description, std::string("Table ") + e.name);
      EXPECT_EQ(o.orderBy, e.orderBy);
      if (e.serialColNum == 0) {
        EXPECT_TRUE(o.serialFieldIsFirst);
        EXPECT_EQ(o.serialName, o.columns[0]);
      } else {
        EXPECT_TRUE(o.serialFieldNull);
        EXPECT_EQ(o.serialName, "");
      }
    } else {
      EXPECT_EQ(o.description, std::string("Procedure ") + e.name);
      EXPECT_TRUE(o.serialNameNull);
      EXPECT_TRUE(o.serialFieldNull);
      EXPECT_EQ(o.orderBy, "");
    }
  }
}

TEST(BindingDescription, RelationsIterateInNameOrderAndLaterEntriesReplace) {
  SObserved policy = Observe<App_VmAllocationPolicy>();
  ASSERT_EQ(policy.relations.size(), 2u);
  EXPECT_EQ(policy.relations.begin()->first, "App_VMDataCenter");
  SObserved app = Observe<APP_Application>();
  EXPECT_EQ(app.relations.size(), 5u);
  EXPECT_EQ(app.relations["archGroup"].size(), 1u);
  EXPECT_EQ(app.relations["archGroup"].count("logArchGrpID"), 1u);
}

TEST(BindingDescription, TextModeHasNoDescriptorAndColumnNamesOutOfRangeAreEmpty) {
  bool saved = DBtable::b_newDBBase;
  DBtable::b_newDBBase = false;
  {
    APP_Client c(nullptr);
    EXPECT_EQ(c.getDescriptor(), nullptr);
    EXPECT_EQ(c.getExtIndicatorArray(), nullptr);
  }
  DBtable::b_newDBBase = true;
  {
    APP_VSAReplication r(nullptr);
    EXPECT_EQ(r.getExtIndicatorArray(), static_cast<const void*>(r.getIndicators()));
    auto* d = r.getRowDescriptor();
    EXPECT_STREQ(d->getColumnName_t2(24), "FailoverStatus");
    EXPECT_STREQ(d->getColumnName_t2(25), "");
    EXPECT_STREQ(d->getColumnName_t2(-1), "");
    EXPECT_EQ(d->getColumnName(99), "");
    EXPECT_EQ(d->getData().size(), 25u);
    EXPECT_EQ(d->getData()[10]->getDataType(), 4);  // powerOn
    EXPECT_EQ(d->getData()[21]->getDataType(), 1);  // VMSyncedTillTime
    EXPECT_EQ(d->searchForeignKey("anything"), 0);
    AppVSAReplicationsDeleteOptions p(nullptr);
    EXPECT_STREQ(p.getVersion(), "00d:0000000000000000");
    AppGetVSMemberServers m(nullptr);
    EXPECT_EQ(m.getExtIndicatorArray(), nullptr);  // no output columns
  }
  DBtable::b_newDBBase = saved;
}

TEST(BindingDescription, SecondDescriptorSkipsTheFillLock) {
  { APP_InstanceProp first(nullptr); }
  ASSERT_TRUE(APP_InstanceProp_t2::s_isInitialized.load());
  // With the shared fill lock held here, a filled class must not wait on it.
  ZNDBRowBase::s_semColumnVec->wait();
  {
    APP_InstanceProp_t2 again;
    EXPECT_EQ(APP_InstanceProp_t2::m_staticColumnVec.size(), 8u);
  }
  ZNDBRowBase::s_semColumnVec->release(1);
}

TEST(BindingDescription, WholeRowSetterCopiesAndKeepsFixedTextsTerminated) {
  App_VirtualAppProp_t row;
  row.componentNameId = 4;
  memset(row.attrName, 'a', sizeof(row.attrName));  // unterminated on purpose
  strcpy(row.attrVal, "v");
  row.created = 99;
  App_VirtualAppProp p(nullptr);
  p.setValues(&row);
  EXPECT_EQ(p.getDataPtr()->componentNameId, 4);
  EXPECT_EQ(strlen(p.getDataPtr()->attrName), sizeof(row.attrName) - 1);
  EXPECT_STREQ(p.getDataPtr()->attrVal, "v");
  EXPECT_EQ(p.getDataPtr()->created, 99);
}

namespace {

// A fresh value struct read through its description: 0 in every number,
// null in every owned text, the empty text in every fixed buffer.
template <class T>
T FieldAt(const char* field) {
  T v;
  memcpy(&v, field, sizeof(v));
  return v;
}

// Out of line: inlined into a row without date-time columns, the compiler
// would warn about a read it cannot see is never made.
__attribute__((noinline)) void ExpectClearedDateTime(const char* field) {
  const DB_DATETIME& d = *reinterpret_cast<const DB_DATETIME*>(field);
  EXPECT_EQ(d.year, 0);
  EXPECT_EQ(d.month + d.day + d.hour + d.minute + d.second, 0);
  EXPECT_EQ(d.fraction, 0u);
  EXPECT_EQ(d.text[0], 0);
  EXPECT_EQ(d.flag, 0);
}

template <class X>
void ExpectFreshRow() {
  // On the heap: the checks read fields by offset, which the compiler cannot
  // follow on a stack object.
  auto row = std::make_unique<std::remove_pointer_t<decltype(std::declval<X&>().getDataPtr())>>();
  const SDBBindingDesc& d = X::Desc();
  const char* base = reinterpret_cast<const char*>(row.get());
  for (int i = 0; i < d.columnCount; ++i) {
    SCOPED_TRACE(d.columns[i].name);
    const char* field = base + d.columns[i].offset;
    SDBColumnType t = DBParseColumnToken(d.columns[i].token);
    switch (t.kind) {
      case 'i':
        EXPECT_EQ(FieldAt<int>(field), 0);
        break;
      case 'b':
      case 'x':
        EXPECT_EQ(FieldAt<long long>(field), 0);
        break;
      case 'f':
        EXPECT_EQ(FieldAt<float>(field), 0.0f);
        break;
      case 't':
        ExpectClearedDateTime(field);
        break;
      default:
        if (t.size == 0) {
          EXPECT_EQ(FieldAt<char*>(field), nullptr);
        } else {
          EXPECT_EQ(field[0], 0);
        }
    }
  }
}

}  // namespace

TEST(BindingDescription, JobInfoRowsStartAtZeroNullAndEmpty) {
  ExpectFreshRow<JMJobDataLink>();
  ExpectFreshRow<JMBkpJobInfo>();
  ExpectFreshRow<JMAdminJobInfoTable>();
  JMBkpJobInfo_t bkp;
  EXPECT_EQ(DBParseColumnToken(JMBkpJobInfo::Desc().columns[33].token).size, sizeof(bkp.scanTypeChangeReason));
  EXPECT_STREQ(bkp.scanTypeChangeReason, "");
  JMAdminJobInfoTable_t admin;
  EXPECT_EQ(admin.servStart, 0);
  EXPECT_EQ(admin.servEnd, 0);
  EXPECT_EQ(sizeof(admin.servStart), 8u);
}

TEST(BindingDescription, AdminJobInfoStoresItsTimesAsSixtyFourBitColumns) {
  JMAdminJobInfoTable_t2 d;
  std::string def = d.getStructDef();
  const std::string format = kAdminJobInfoFormat;
  ASSERT_EQ(def.size(), format.size());
  std::vector<size_t> differ;
  for (size_t i = 0; i < def.size(); ++i) {
    if (def[i] != format[i]) differ.push_back(i);
  }
  // The fourth and fifth tokens, servStart and servEnd.
  EXPECT_EQ(differ, (std::vector<size_t>{6, 8}));
  EXPECT_EQ(def.substr(6, 3), "b|b");
}

TEST(BindingDescription, JobInfoKeyDataAreTheKeyColumnsOwnValues) {
  {
    JMAdminJobInfoTable_t2 d;
    std::vector<ZNDBDataTypeBase*> all = d.getData();
    ASSERT_EQ(all.size(), 52u);
    EXPECT_EQ(d.getPrimaryData(), (std::vector<ZNDBDataTypeBase*>{all[0], all[51]}));
    EXPECT_EQ(d.getPrimaryData(), d.getPrimaryData());
    EXPECT_EQ(d.getData(), all);
  }
  {
    JMBkpJobInfo_t2 d;
    std::vector<ZNDBDataTypeBase*> all = d.getData();
    ASSERT_EQ(all.size(), 64u);
    EXPECT_EQ(d.getPrimaryData(), (std::vector<ZNDBDataTypeBase*>{all[0], all[1]}));
    EXPECT_EQ(d.getData(), all);
  }
  {
    JMJobDataLink_t2 d;
    std::vector<ZNDBDataTypeBase*> all = d.getData();
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(d.getPrimaryData(), (std::vector<ZNDBDataTypeBase*>{all[0], all[1], all[2]}));
  }
}

TEST(BindingDescription, SecondJobInfoDescriptorLeavesTheClassMembersAlone) {
  { JMBkpJobInfo_t2 first; }
  ASSERT_TRUE(JMBkpJobInfo_t2::s_isInitialized.load());
  JMBkpJobInfo_t2 second;
  EXPECT_EQ(JMBkpJobInfo_t2::m_staticColumnVec.size(), 64u);
  EXPECT_EQ(JMBkpJobInfo_t2::m_foreignKeyMap.size(), 2u);
  EXPECT_STREQ(second.getColumnName_t2(63), "sidbAverageLookups");
  EXPECT_EQ(second.getTableName(), "JMBkpJobInfo");
}

TEST(BindingDescription, VMRowStartsEmptyAndItsDescriptorKeepsElevenColumns) {
  ExpectFreshRow<APP_VM>();
  for (int i = 0; i < 3; ++i) {
    APP_VM_t2 d;
    EXPECT_EQ(APP_VM_t2::m_staticColumnVec.size(), 11u);
    EXPECT_EQ(d.getSerialColNum(), 0);
    EXPECT_TRUE(d.getPrimaryData().empty());
    EXPECT_STREQ(d.getColumnName_t2(8), "removalTimeStamp");
  }
}

TEST(BindingDescription, ActivityControlDescriptorHasNoColumns) {
  APPSetActivityControl_t2 d;
  EXPECT_TRUE(d.getData().empty());
  EXPECT_EQ(d.getHeaderType(), 2);
  EXPECT_EQ(d.getStructDef(), "");
  EXPECT_EQ(d.getSerialColNum(), -1);
  EXPECT_TRUE(d.getForeignKeyMap().empty());
  APPSetActivityControl p(nullptr);
  EXPECT_EQ(p.getExtIndicatorArray(), nullptr);  // no output columns
}

TEST(BindingDescription, StorageArrayProcedureRowsStartEmptyAndHandTheirIndicatorsOver) {
  ExpectFreshRow<AppGetSnapDRArchiveFiles>();
  ExpectFreshRow<MM_SMNetAppOpenReplReport>();
  AppGetSnapDRArchiveFiles_t afiles;
  EXPECT_EQ(sizeof(afiles.o_vmGuid), 1021u);
  MM_SMNetAppOpenReplReport_t report;
  EXPECT_EQ(sizeof(report.o_targetArray), 1021u);
  bool saved = DBtable::b_newDBBase;
  DBtable::b_newDBBase = true;
  {
    AppGetSnapDRArchiveFiles a(nullptr);
    EXPECT_EQ(a.getExtIndicatorArray(), static_cast<const void*>(a.getIndicators()));
    EXPECT_EQ(a.getRowDescriptor()->getData().size(), 10u);
    MM_SMNetAppOpenReplReport m(nullptr);
    EXPECT_EQ(m.getExtIndicatorArray(), static_cast<const void*>(m.getIndicators()));
    EXPECT_EQ(m.getRowDescriptor()->getData().size(), 19u);
    EXPECT_STREQ(m.getRowDescriptor()->getColumnName_t2(18), "o_replicaPairId");
  }
  DBtable::b_newDBBase = saved;
}

// A binding describes only the columns it binds; the table is the
// platform's, described by its owner. The two cannot drift apart: every
// column a binding binds is in its table's description, of the same kind.
std::vector<std::string> BindingDrift(const SDBBindingDesc& binding, const SDBTableSchema& table) {
  std::vector<std::string> drift;
  for (int i = 0; i < binding.columnCount; ++i) {
    const SDBColumnBind& bound = binding.columns[i];
    const SDBColumnBind* described = nullptr;
    for (const SDBColumnBind& c : table.columns) {
      if (strcmp(c.name, bound.name) == 0) described = &c;
    }
    if (described == nullptr) {
      drift.push_back(std::string(bound.name) + " is not in " + table.name);
    } else if (DBParseColumnToken(described->token).kind != DBParseColumnToken(bound.token).kind) {
      drift.push_back(std::string(bound.name) + " is " + bound.token + " here, " + described->token + " in " +
                      table.name);
    }
  }
  return drift;
}

TEST(BindingDescription, EveryTableBindingBindsColumnsItsTablesDescriptionHas) {
  const std::vector<const SDBBindingDesc*> tables = {
      &APP_Application_t2::Desc(),    &APP_Client_t2::Desc(),          &APP_ClientProp_t2::Desc(),
      &APP_InstanceProp_t2::Desc(),   &APP_VM_t2::Desc(),              &APP_VSAReplication_t2::Desc(),
      &APP_VSAReplicationProp_t2::Desc(), &App_VirtualAppProp_t2::Desc(), &App_VmAllocationPolicy_t2::Desc(),
      &JMAdminJobInfoTable_t2::Desc(), &JMBkpJobInfo_t2::Desc(),       &JMJobDataLink_t2::Desc(),
      &OBGlobalParam_t2::Desc(),      &App_VirtualAppJobStats_t2::Desc(),
  };
  for (const SDBBindingDesc* binding : tables) {
    SCOPED_TRACE(binding->name);
    ASSERT_EQ(1, binding->kind);
    SDBTableSchema table;
    ASSERT_TRUE(CDBConnection::FindTable(binding->name, table)) << "no owner describes " << binding->name;
    EXPECT_EQ(std::vector<std::string>(), BindingDrift(*binding, table));
  }
  // The check sees a column the description lacks and one of another kind.
  const SDBColumnBind bound[] = {{"id", "i", 0}, {"name", "i", 0}, {"extra", "s", 0}};
  const SDBBindingDesc drifted = {"T", 1, "", "", bound, 3, nullptr, 0, nullptr, "", nullptr, 0};
  SDBTableSchema described;
  described.name = "T";
  described.columns = {{"id", "i", 0}, {"name", "s32", 0}};
  EXPECT_EQ(2u, BindingDrift(drifted, described).size());
}
