// Every binding against its description: select list, struct definition,
// keys, serial column, order-by, relations, kind and version.
#include <functional>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "Db/Proc/AppGetVSMemberServers.h"
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/Tbl/APP_Application.h"
#include "Db/Tbl/APP_Client.h"
#include "Db/Tbl/APP_ClientProp.h"
#include "Db/Tbl/APP_InstanceProp.h"
#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/APP_VSAReplicationProp.h"
#include "Db/Tbl/App_VirtualAppProp.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "Db/Tbl/OBGlobalParam.h"
#include "Db/ZNSimpleDBSem.h"

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

std::string XtoB(std::string s) {
  for (char& c : s) {
    if (c == 'x') c = 'b';
  }
  return s;
}

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
    EXPECT_EQ(o.primaryData, e.primaryWhere[0] ? 1u : 0u);
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
