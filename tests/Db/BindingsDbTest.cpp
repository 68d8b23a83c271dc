// The bindings on a real database file, in typed and in text mode.
#include <string.h>
#include <sys/stat.h>

#include <set>

#include "DbTestSupport.h"
#include "Db/Proc/APPSetActivityControl.h"
#include "Db/Proc/AppGetSnapDRArchiveFiles.h"
#include "Db/Proc/AppGetVSMemberServers.h"
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/Proc/MM_SMNetAppOpenReplReport.h"
#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/SprocWrapper.h"
#include "Db/Tbl/APP_Application.h"
#include "Db/Tbl/APP_Client.h"
#include "jobs/TaskStore.h"
#include "Db/Tbl/APP_ClientProp.h"
#include "Db/Tbl/APP_InstanceProp.h"
#include "Db/Tbl/APP_VM.h"
#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/APP_VSAReplicationProp.h"
#include "Db/Tbl/App_VirtualAppProp.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "Db/Tbl/JMAdminJobInfoTable.h"
#include "Db/Tbl/JMBkpJobInfo.h"
#include "Db/Tbl/JMJobDataLink.h"
#include "Db/Tbl/OBGlobalParam.h"
#include "db/ZNGlobalParam.h"
#include "db/ZNSimpleDBConnObject.h"
#include "sim/Simulators.h"

namespace {

char* Owned(const char* text) {
  if (!text) return nullptr;
  char* p = new char[strlen(text) + 1];
  strcpy(p, text);
  return p;
}

int AddReplication(int taskId, const char* sourceName, const char* guid) {
  APP_VSAReplication r(nullptr);
  APP_VSAReplication_t* d = r.getDataPtr();
  d->taskId = taskId;
  d->sourceName = Owned(sourceName);
  strcpy(d->replicationGuid, guid);
  d->powerOn = 5000000000LL;
  d->status = 1;
  EXPECT_EQ(r.rowInsert(true), 0);
  return d->replicationId;
}

int AddClientProp(int client, const char* name, const char* value, long long modified) {
  APP_ClientProp p(nullptr);
  p.getDataPtr()->componentNameId = client;
  strcpy(p.getDataPtr()->attrName, name);
  strcpy(p.getDataPtr()->attrVal, value);
  p.getDataPtr()->modified = modified;
  EXPECT_EQ(p.rowInsert(true), 0);
  return p.getDataPtr()->id;
}

// Rows written the way the server's job manager does, past every binding.
void InsertRows(const char* table, const char* columns, std::initializer_list<const char*> values) {
  CDBConnection* c = CDBConnection::ForThread();
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->EnsureTable(table), DB_OK);
  for (const char* v : values) {
    ASSERT_EQ(c->Exec(std::string("INSERT INTO ") + table + " (" + columns + ") VALUES " + v), DB_OK) << v;
  }
}

}  // namespace

TEST_P(CDbModeTest, DatabaseFileIsCreatedOnFirstUse) {
  struct stat st;
  std::string path = m_dir + "/drorch.db";
  EXPECT_NE(stat(path.c_str(), &st), 0);
  OBGlobalParam g(nullptr);
  g.setWhere("name = '%s'", "nothing");
  EXPECT_EQ(getOneRow(&g, false, -1, 0), 100);
  EXPECT_EQ(stat(path.c_str(), &st), 0);
}

TEST_P(CDbModeTest, SerialIsFilledAndEveryRowComesBackFromStateZero) {
  int a = AddReplication(7, "vm-a", "g1");
  int b = AddReplication(7, "vm-b", "g2");
  int c = AddReplication(7, "vm-c", "g3");
  AddReplication(8, "other", "g4");
  EXPECT_GT(a, 0);
  EXPECT_EQ(b, a + 1);
  EXPECT_EQ(c, b + 1);

  APP_VSAReplication r(nullptr);
  r.setWhere("taskId = %d", 7);
  ASSERT_EQ(getOneRow(&r, false, -1, 0), 0);
  EXPECT_EQ(r.getDataPtr()->replicationId, a);
  // The callers then walk from state 0: the walk starts over and sees all.
  std::vector<int> ids;
  int state = 0;
  int rc;
  while ((rc = getNextRow(&r, &state, -1, 0)) == 0) ids.push_back(r.getDataPtr()->replicationId);
  EXPECT_EQ(rc, 100);
  EXPECT_EQ(ids, (std::vector<int>{a, b, c}));
  EXPECT_EQ(r.getDataPtr()->powerOn, 5000000000LL);

  r.setWhere("replicationId = %d", b);
  ASSERT_EQ(getOneRow(&r, false, -1, 0), 0);
  EXPECT_STREQ(r.getDataPtr()->sourceName, "vm-b");
  EXPECT_STREQ(r.getDataPtr()->replicationGuid, "g2");
  EXPECT_EQ(r.getDataPtr()->status, 1);
}

TEST_P(CDbModeTest, NullColumnsComeBackNullAfterAValue) {
  AddReplication(3, "named", "g1");
  AddReplication(3, nullptr, "g2");
  ZNSimpleDBConnObject sql;
  ASSERT_EQ(sql.ExecuteSQL("INSERT INTO APP_VSAReplication (taskId, replicationGuid, status) VALUES (3, NULL, NULL)"), 0);
  EXPECT_EQ(sql.FetchRow(), 1);
  sql.CloseSQLConnection();

  APP_VSAReplication r(nullptr);
  r.setWhere("taskId = %d", 3);
  int state = 0;
  ASSERT_EQ(getNextRow(&r, &state, -1, 0), 0);
  const long long* ind = r.getIndicators();
  EXPECT_STREQ(r.getDataPtr()->sourceName, "named");
  EXPECT_EQ(ind[3], 5);
  EXPECT_EQ(ind[18], 4);
  ASSERT_EQ(getNextRow(&r, &state, -1, 0), 0);
  EXPECT_EQ(r.getDataPtr()->sourceName, nullptr);
  EXPECT_EQ(ind[3], -1);
  EXPECT_STREQ(r.getDataPtr()->replicationGuid, "g2");
  ASSERT_EQ(getNextRow(&r, &state, -1, 0), 0);
  EXPECT_EQ(ind[1], -1);
  EXPECT_STREQ(r.getDataPtr()->replicationGuid, "");
  EXPECT_EQ(ind[18], -1);
  EXPECT_EQ(r.getDataPtr()->status, 0);
  EXPECT_EQ(getNextRow(&r, &state, -1, 0), 100);
}

TEST_P(CDbModeTest, WhereTextsOfTheCallersRunUnchanged) {
  {
    APP_InstanceProp p(nullptr);
    p.getDataPtr()->componentNameId = 12;
    strcpy(p.getDataPtr()->attrName, "Virtual Server Host");
    p.getDataPtr()->attrVal = Owned("esx01.example");
    ASSERT_EQ(p.rowInsert(true), 0);
  }
  APP_InstanceProp p(nullptr);
  p.setWhere("attrName = 'Virtual Server Host' AND componentNameId = '%d' ", 12);
  ASSERT_EQ(getOneRow(&p, false, -1, 0), 0);
  EXPECT_STREQ(p.getDataPtr()->attrVal, "esx01.example");

  int clientId;
  {
    APP_Client c(nullptr);
    strcpy(c.getDataPtr()->name, "client-1");
    c.getDataPtr()->clientDescription = Owned("described");
    ASSERT_EQ(c.rowInsert(true), 0);
    clientId = c.getDataPtr()->id;
  }
  {
    APP_Application a(nullptr);
    a.getDataPtr()->instance = 12;
    a.getDataPtr()->clientId = clientId;
    ASSERT_EQ(a.rowInsert(true), 0);
  }
  APP_Application a(nullptr);
  a.setWhere("instance = '%d' ", 12);
  ASSERT_EQ(getOneRow(&a, false, -1, 0), 0);
  APP_Client c(nullptr);
  c.setWhere("id = '%d' ", a.getDataPtr()->clientId);
  ASSERT_EQ(getOneRow(&c, false, -1, 0), 0);
  EXPECT_STREQ(c.getDataPtr()->name, "client-1");
  EXPECT_STREQ(c.getDataPtr()->clientDescription, "described");

  AddClientProp(40, "Last VM Backup Job Info", "job 9", 0);
  AddClientProp(41, "VM UUID", "5010-aa", 0);
  AddClientProp(42, "VM UUID", "5010-aa", 1700000000);
  APP_ClientProp cp(nullptr);
  cp.setWhere("attrName = '%s' AND attrVal = '%s' AND modified = 0", "VM UUID", "5010-aa");
  int state = 0;
  std::vector<int> owners;
  while (getNextRow(&cp, &state, -1, 0) == 0) owners.push_back(cp.getDataPtr()->componentNameId);
  EXPECT_EQ(owners, std::vector<int>{41});
  cp.setWhere("componentNameId = %d AND attrName = 'Last VM Backup Job Info' AND modified = 0", 40);
  ASSERT_EQ(getOneRow(&cp, false, -1, 0), 0);
  EXPECT_STREQ(cp.getDataPtr()->attrVal, "job 9");

  {
    App_VmAllocationPolicy pol(nullptr);
    pol.getDataPtr()->vxml = Owned("<policy/>");
    ASSERT_EQ(pol.rowInsert(true), 0);
    int id = pol.getDataPtr()->id;
    App_VmAllocationPolicy q(nullptr);
    q.setWhere("id = %d", id);
    ASSERT_EQ(getOneRow(&q, false, -1, 0), 0);
    EXPECT_STREQ(q.getDataPtr()->vxml, "<policy/>");
  }
  {
    for (int type : {2204, 2205, 2204}) {
      APP_VSAReplicationProp rp(nullptr);
      rp.getDataPtr()->replicationId = 77;
      rp.getDataPtr()->propertyTypeId = type;
      ASSERT_EQ(rp.rowInsert(true), 0);
    }
    APP_VSAReplicationProp del(nullptr);
    del.setWhere("replicationId = '%d' AND propertyTypeId  = '%d'", 77, 2204);
    EXPECT_EQ(del.rowDelete(), 0);
    EXPECT_EQ(del.rowDelete(), 100);
    del.setWhere("replicationId = %d", 77);
    ASSERT_EQ(del.openCursor(), 0);
    EXPECT_EQ(del.getRowCount(), 1);
    del.closeCursor();
  }
}

TEST_P(CDbModeTest, UpdateTellsWhenNothingMatched) {
  {
    App_VirtualAppProp_t row;
    row.componentNameId = 5;
    strcpy(row.attrName, "DR option");
    strcpy(row.attrVal, "old");
    row.attrType = 2;
    App_VirtualAppProp p(nullptr);
    p.setValues(&row);
    ASSERT_EQ(p.rowInsert(true), 0);
  }
  App_VirtualAppProp p(nullptr);
  p.setWhere("componentNameId = %d AND attrName = '%s'", 5, "DR option");
  EXPECT_EQ(p.rowUpdate("attrVal = '%s'", "new"), 0);
  ASSERT_EQ(getOneRow(&p, false, -1, 0), 0);
  EXPECT_STREQ(p.getDataPtr()->attrVal, "new");
  p.setWhere("componentNameId = %d AND attrName = '%s'", 6, "DR option");
  EXPECT_EQ(p.rowUpdate("attrVal = '%s'", "other"), 100);
}

TEST_P(CDbModeTest, QuotesAndInjectionStayLiteralInEveryTextPath) {
  const char* hostile[] = {"O'Brien", "x' OR '1'='1", "'; DELETE FROM APP_ClientProp; --", "''"};
  std::set<int> ids;
  for (const char* h : hostile) ids.insert(AddClientProp(1, "name", h, 0));
  AddClientProp(1, "name", "innocent", 0);

  // Stored literally.
  for (const char* h : hostile) {
    APP_ClientProp p(nullptr);
    p.setWhere("attrName = '%s' AND attrVal = '%s' AND modified = 0", "name", h);
    int state = 0;
    int n = 0;
    while (getNextRow(&p, &state, -1, 0) == 0) {
      EXPECT_STREQ(p.getDataPtr()->attrVal, h);
      ++n;
    }
    EXPECT_EQ(n, 1) << h;
  }
  // An update whose value and where carry quotes changes exactly one row.
  APP_ClientProp u(nullptr);
  u.setWhere("componentNameId = %d AND attrName = '%s' AND attrVal = '%s'", 1, "name", "x' OR '1'='1");
  EXPECT_EQ(u.rowUpdate("attrVal = '%s'", "it's ' OR 1=1 --"), 0);
  APP_ClientProp all(nullptr);
  all.setWhere("componentNameId = %d", 1);
  ASSERT_EQ(all.openCursor(), 0);
  EXPECT_EQ(all.getRowCount(), 5);
  all.setWhere("attrVal = '%s'", "it's ' OR 1=1 --");
  ASSERT_EQ(all.openCursor(), 0);
  EXPECT_EQ(all.getRowCount(), 1);
  // A delete aimed by a hostile value removes nothing else.
  APP_ClientProp d(nullptr);
  d.setWhere("attrVal = '%s'", "nobody' OR '1'='1");
  EXPECT_EQ(d.rowDelete(), 100);
  all.setWhere("componentNameId = %d", 1);
  ASSERT_EQ(all.openCursor(), 0);
  EXPECT_EQ(all.getRowCount(), 5);

  // Procedure inputs reach the handler as the caller wrote them.
  std::string seen;
  CDBProcRegistry::Register("AppGetVSMemberServers", [&seen](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
    seen = in.empty() ? "" : in[0].text;
    out.rows.push_back({SDBProcValue::Text("<r a='1'/>")});
    return 0;
  });
  for (const char* h : hostile) {
    SprocWrapper<AppGetVSMemberServers, AppGetVSMemberServers_t> w("QueryMemberServersForInstance", nullptr);
    w.getCursor()->setValues(h);
    std::string out;
    ASSERT_EQ(w.getXMLFromCursor(out, nullptr, false, true), 0);
    EXPECT_EQ(seen, h);
    EXPECT_EQ(out, "<?xml version='1.0' encoding='utf-8' ?><r a='1'/>");
  }
  CDBProcRegistry::Unregister("AppGetVSMemberServers");
}

TEST_P(CDbModeTest, ProcedureInputsInTheirMode) {
  std::vector<SDBProcValue> seen;
  CDBProcRegistry::Register("TM_GetTaskDetail", [&seen](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
    seen = in;
    out.rows.push_back({SDBProcValue::Text("<TaskInfo/>")});
    return 0;
  });
  TM_GetTaskDetail t(nullptr);
  t.setValues(1, 2, 3);
  if (GetParam()) {
    EXPECT_EQ(t.BoundInputCount(), 3u);
    EXPECT_TRUE(t.getInputsBound());
    EXPECT_EQ(t.getValuesClause(), "");
    EXPECT_FALSE(t.BoundInputs()[0]->isNull());
    EXPECT_EQ(t.BoundInputs()[2]->getDataType(), 1);
    t.setValues(4, 5, 6);  // earlier inputs are cleared, not kept
    EXPECT_EQ(t.BoundInputCount(), 3u);
  } else {
    EXPECT_EQ(t.getDescriptor(), nullptr);
    EXPECT_EQ(t.BoundInputCount(), 0u);
    EXPECT_EQ(t.getValuesReserved(), 44u);
    EXPECT_EQ(t.getValuesClause(), "1,2,3");
  }
  ASSERT_EQ(t.ExecuteProcedure(), 0);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].AsInt(), GetParam() ? 4 : 1);
  std::string text;
  ASSERT_EQ(t.FetchProcedureText(text), 0);
  EXPECT_EQ(text, "<TaskInfo/>");
  EXPECT_EQ(t.CloseProcedure(), 0);
  // Rows of a procedure come into its value struct too.
  ASSERT_EQ(getOneRow(&t, false, -1, 0), 0);
  EXPECT_STREQ(t.getDataPtr()->xmlText, "<TaskInfo/>");

  AppVSAReplicationsDeleteOptions del(nullptr);
  del.setValues("abc");
  if (GetParam()) {
    EXPECT_EQ(del.BoundInputCount(), 1u);
    EXPECT_EQ(del.BoundInputs()[0]->getDataType(), 6);
  } else {
    EXPECT_EQ(del.getValuesReserved(), 7u);
    EXPECT_EQ(del.getValuesClause(), "'abc'");
  }
  CSimulators::Install();
}

TEST_P(CDbModeTest, GlobalParametersReadTheirTable) {
  int n = 10;
  EXPECT_FALSE(ZNGlobalParam::get("bSkipFailoverSnapshotCreation", n));
  EXPECT_EQ(n, 10);
  ASSERT_TRUE(ZNGlobalParam::set("bSkipFailoverSnapshotCreation", "1"));
  ASSERT_TRUE(ZNGlobalParam::set("note", "O'Brien"));
  EXPECT_TRUE(ZNGlobalParam::get("bSkipFailoverSnapshotCreation", n));
  EXPECT_EQ(n, 1);
  ASSERT_TRUE(ZNGlobalParam::set("bSkipFailoverSnapshotCreation", "0"));
  EXPECT_TRUE(ZNGlobalParam::get("bSkipFailoverSnapshotCreation", n));
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(ZNGlobalParam::get("note", n));
  OBGlobalParam g(nullptr);
  g.setWhere("name = '%s'", "note");
  ASSERT_EQ(getOneRow(&g, false, -1, 0), 0);
  EXPECT_STREQ(g.getDataPtr()->value, "O'Brien");
  EXPECT_GT(g.getDataPtr()->created, 0);
}

TEST_P(CDbModeTest, VmChildJobsComeFromTheBackupJobsLinks) {
  InsertRows("JMJobDataLink", "haldenId, parentJobId, childJobId, parentAppid, childAppid, linkType, childJobStatus",
             {"(2, 501, 602, 10, 12, 7, 1)", "(2, 501, 601, 10, 11, 7, 1)",
              "(3, 501, 603, 10, 13, 7, 1)",   // another Halden
              "(2, 501, 604, 10, 14, 5, 1)",   // another kind of link
              "(2, 502, 605, 10, 15, 7, 1)"});  // another parent
  const char* where = "parentJobId = '%lld' and haldenId =2 and linkType = 7";
  JMJobDataLink link(nullptr);
  EXPECT_EQ(link.getDescriptor() != nullptr, GetParam());
  link.setWhere(where, 501LL);
  ASSERT_EQ(getOneRow(&link, false, -1, 0), 0);
  EXPECT_EQ(link.getDataPtr()->childJobId, 601);  // in key order, not insert order
  std::vector<std::pair<int, int>> children;
  int state = 0;
  int rc;
  while ((rc = getNextRow(&link, &state, -1, 0)) == 0) {
    children.emplace_back(link.getDataPtr()->childJobId, link.getDataPtr()->childAppid);
    EXPECT_EQ(link.getDataPtr()->parentJobId, 501);
    EXPECT_EQ(link.getDataPtr()->childJobStatus, 1);
  }
  EXPECT_EQ(rc, 100);
  EXPECT_EQ(children, (std::vector<std::pair<int, int>>{{601, 11}, {602, 12}}));

  // A parent id wider than the column is printed whole, so it never selects
  // the links of the job its low 32 bits would name.
  link.setWhere(where, (1LL << 32) + 501);
  EXPECT_EQ(getOneRow(&link, false, -1, 0), 100);
  state = 0;
  EXPECT_EQ(getNextRow(&link, &state, -1, 0), 100);
}

TEST_P(CDbModeTest, RunningBackupJobOfAnApplication) {
  InsertRows("JMBkpJobInfo",
             "jobId, haldenId, applicationId, targetCopyList, compBytes, currentThroughput, mediaAgentName, "
             "scanTypeChangeReason, nwTransBytes, sidbAverageLookups",
             {"(7002, 2, 31, 'copies', 5000000000, 12.5, 'ma-1', 'changed by the user', 6000000000, 0.25)",
              "(7001, 2, 31, NULL, 1, 1.5, NULL, 'a reason longer than twenty-four', 2, 0)",
              "(0, 2, 30, NULL, 0, 0, NULL, NULL, 0, 0)"});
  JMBkpJobInfo bkp(nullptr);
  bkp.setWhere("applicationId = '%d' ", 31);
  bkp.setTop(1);
  ASSERT_EQ(getOneRow(&bkp, false, -1, 0), 0);
  const JMBkpJobInfo_t* row = bkp.getDataPtr();
  EXPECT_EQ(row->jobId, 7001);
  EXPECT_EQ(row->targetCopyList, nullptr);
  EXPECT_EQ(row->mediaAgentName, nullptr);
  // The fixed buffer holds 24 characters and its terminator.
  EXPECT_STREQ(row->scanTypeChangeReason, "a reason longer than twe");
  EXPECT_EQ(row->currentThroughput, 1.5f);

  bkp.setWhere("applicationId = '%d' and jobId = %d", 31, 7002);
  ASSERT_EQ(getOneRow(&bkp, false, -1, 0), 0);
  EXPECT_STREQ(row->targetCopyList, "copies");
  EXPECT_STREQ(row->mediaAgentName, "ma-1");
  EXPECT_STREQ(row->scanTypeChangeReason, "changed by the user");
  EXPECT_EQ(row->compBytes, 5000000000LL);
  EXPECT_EQ(row->nwTransBytes, 6000000000LL);
  EXPECT_EQ(row->sidbAverageLookups, 0.25f);

  // A row whose job id is 0 is still a row: the caller reads "no job" from
  // the id, not from the result.
  bkp.setWhere("applicationId = '%d' ", 30);
  bkp.setTop(1);
  ASSERT_EQ(getOneRow(&bkp, false, -1, 0), 0);
  EXPECT_EQ(row->jobId, 0);
  EXPECT_STREQ(row->scanTypeChangeReason, "");
  bkp.setWhere("applicationId = '%d' ", 32);
  bkp.setTop(1);
  EXPECT_EQ(getOneRow(&bkp, false, -1, 0), 100);
}

TEST_P(CDbModeTest, RunningCopyJobsOfAStoragePolicyAndItsCopies) {
  InsertRows("JMAdminJobInfoTable",
             "jobId, opType, status, servStart, servEnd, archGrpID, archGrpName, archGrpCopyID, srcMediaAgent, "
             "nwTransBytes, haldenId",
             {"(8002, 104, 1, 5000000000, 0, 50, 'policy-50', 40, 'ma-1', 7000000000, 2)",
              "(8001, 104, 1, 1700000000, 1700000100, 50, NULL, 41, NULL, 0, 2)",
              "(0, 104, 1, 0, 0, 51, NULL, 42, NULL, 0, 2)"});
  JMAdminJobInfoTable admin(nullptr);
  const JMAdminJobInfoTable_t* row = admin.getDataPtr();
  admin.setWhere("archGrpCopyID = '%d' ", 40);
  admin.setTop(1);
  ASSERT_EQ(getOneRow(&admin, false, -1, 0), 0);
  EXPECT_EQ(row->jobId, 8002);
  EXPECT_EQ(row->servStart, 5000000000LL);  // a time past 2038 keeps its width
  EXPECT_STREQ(row->archGrpName, "policy-50");
  EXPECT_STREQ(row->srcMediaAgent, "ma-1");
  EXPECT_EQ(row->nwTransBytes, 7000000000LL);
  EXPECT_EQ(row->haldenId, 2);

  admin.setWhere("archGrpID = '%d' ", 50);
  admin.setTop(1);
  ASSERT_EQ(getOneRow(&admin, false, -1, 0), 0);
  EXPECT_EQ(row->jobId, 8001);
  EXPECT_EQ(row->servEnd, 1700000100LL);
  EXPECT_EQ(row->archGrpName, nullptr);  // the earlier row's text is gone
  EXPECT_EQ(row->srcMediaAgent, nullptr);

  admin.setWhere("archGrpID = '%d' ", 51);
  admin.setTop(1);
  ASSERT_EQ(getOneRow(&admin, false, -1, 0), 0);
  EXPECT_EQ(row->jobId, 0);  // "no job" to the caller
  admin.setWhere("archGrpCopyID = '%d' ", 43);
  admin.setTop(1);
  EXPECT_EQ(getOneRow(&admin, false, -1, 0), 100);
}

TEST_P(CDbModeTest, ActivityControlTakesTheUserAndTheTextInOrder) {
  APPSetActivityControl p(nullptr);
  p.setValues(5, "x");
  if (GetParam()) {
    p.setValues(6, "y");  // the first call's inputs are cleared, not kept
    ASSERT_EQ(p.BoundInputCount(), 2u);
    EXPECT_TRUE(p.getInputsBound());
    EXPECT_EQ(p.BoundInputs()[0]->getDataType(), 1);
    EXPECT_EQ(p.BoundInputs()[1]->getDataType(), 6);
    EXPECT_FALSE(p.BoundInputs()[1]->isNull());
    EXPECT_EQ(p.getValuesClause(), "");
  } else {
    EXPECT_EQ(p.getDescriptor(), nullptr);
    EXPECT_EQ(p.BoundInputCount(), 0u);
    EXPECT_EQ(p.getValuesReserved(), 20u);
    EXPECT_EQ(p.getValuesClause(), "5,'x'");
  }

  // Whatever the mode, the procedure gets the user and the text as the caller
  // wrote them, quotes included.
  std::vector<SDBProcValue> seen;
  CScopedHandler<std::string, DBProcHandler> proc(
      CDBProcRegistry::Handlers(), "APPSetActivityControl",
      [&seen](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
        seen = in;
        out.rows.push_back({SDBProcValue::Text("<App_GenericResp errorCode=\"0\"/>")});
        return 0;
      });
  const char* text = "<?xml version='1.0'?><a b='it''s'/>";
  SprocWrapper<APPSetActivityControl, APPSetActivityControl_t> w("SetEnableBackupActivityAfterDelay", nullptr);
  w.getCursor()->setValues(7, text);
  if (!GetParam()) {
    EXPECT_EQ(w.getCursor()->getValuesClause(), "7,'<?xml version=''1.0''?><a b=''it''''s''/>'");
  }
  std::string out;
  ASSERT_EQ(w.getXMLFromCursor(out, nullptr, false, true), 0);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].AsInt(), 7);
  EXPECT_TRUE(seen[1].isText);
  EXPECT_EQ(seen[1].text, text);
  EXPECT_EQ(out, "<?xml version='1.0' encoding='utf-8' ?><App_GenericResp errorCode=\"0\"/>");
  EXPECT_EQ(CDBProcRegistry::CloseCount("APPSetActivityControl"), 1);
}

TEST_P(CDbModeTest, VMRowsAreReadAndGivenAPolicy) {
  InsertRows("APP_VM", "clientId, GUID, name, vxml, removalTimeStamp, vmAllocationPolicyId",
             {"(201, 'g-201', 'clone-1', '<vm a=''1''/>', NULL, 0)",
              "(202, 'g-202', 'clone-2', NULL, '2024-03-01 10:20:30.000', 0)",
              "(204, 'g-204', 'other', NULL, NULL, 4)"});
  APP_VM vm(nullptr);
  vm.setWhere("clientId = %d", 202);
  ASSERT_EQ(getOneRow(&vm, false, -1, 0), 0);
  const APP_VM_t* row = vm.getDataPtr();
  EXPECT_STREQ(row->GUID, "g-202");
  EXPECT_STREQ(row->name, "clone-2");
  EXPECT_EQ(row->vxml, nullptr);
  EXPECT_EQ(row->removalTimeStamp.year, 2024);
  EXPECT_EQ(row->removalTimeStamp.second, 30);
  EXPECT_EQ(row->addTimeStamp.year, 0);  // null comes back cleared
  EXPECT_EQ(vm.getIndicators()[8], static_cast<long long>(sizeof(ZNTIMESTAMP_STRUCT)));
  EXPECT_EQ(vm.getIndicators()[7], -1);

  // A fetched text is freed once, by the next fetch or the binding's end.
  vm.setWhere("clientId = %d", 201);
  ASSERT_EQ(getOneRow(&vm, false, -1, 0), 0);
  EXPECT_STREQ(row->vxml, "<vm a='1'/>");
  EXPECT_EQ(vm.rowUpdate("vmAllocationPolicyId = %ld", 5000000L), 0);
  vm.setWhere("clientId = %d", 999);
  EXPECT_EQ(vm.rowUpdate("vmAllocationPolicyId = %ld", 9L), 100);
  vm.setWhere("vmAllocationPolicyId = %d", 5000000);
  ASSERT_EQ(vm.openCursor(), 0);
  EXPECT_EQ(vm.getRowCount(), 1);
  vm.setWhere("clientId = %d", 204);
  ASSERT_EQ(getOneRow(&vm, false, -1, 0), 0);
  EXPECT_EQ(row->vmAllocationPolicyId, 4);
}

namespace {

// A procedure stand-in that keeps what it was called with and answers the
// given rows.
struct SRecordingProc {
  std::vector<SDBProcValue> inputs;
  int calls = 0;
  std::vector<std::vector<SDBProcValue>> rows;
  DBProcHandler Handler() {
    return [this](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
      inputs = in;
      ++calls;
      out.rows = rows;
      return 0;
    };
  }
};

SDBProcValue T(const char* text) { return SDBProcValue::Text(text); }
SDBProcValue N(long long n) { return SDBProcValue::Number(n); }

}  // namespace

// Old-mode quotes stay doubled in the values clause (the text is unsafe
// input), so a name with a quote reaches the procedure, and comes back,
// exactly as written.
TEST_P(CDbModeTest, ArchiveFilesTakeTheirThreeInputsAndAnswerTenColumns) {
  SRecordingProc proc;
  proc.rows = {{N(5001), T("O'Brien"), N(71), N(5002), N(301), T("guid-1"), N(401), N(78), N(9), N(1)},
               {N(5001), T("vm-2"), N(72), N(5003), N(302), T("guid-2"), N(402), N(79), N(0), N(0)}};
  CScopedHandler<std::string, DBProcHandler> scoped(CDBProcRegistry::Handlers(), "AppGetSnapDRArchiveFiles",
                                                    proc.Handler());
  AppGetSnapDRArchiveFiles p(nullptr);
  p.setValues(22, 7, "x");
  const char* xml = "<m n='O'Brien'/>";
  if (GetParam()) {
    p.setValues(23, 8, xml);  // the first call's inputs are cleared, not kept
    ASSERT_EQ(p.BoundInputCount(), 3u);
    EXPECT_TRUE(p.getInputsBound());
    EXPECT_EQ(p.BoundInputs()[0]->getDataType(), 1);
    EXPECT_EQ(p.BoundInputs()[1]->getDataType(), 1);
    EXPECT_EQ(p.BoundInputs()[2]->getDataType(), 6);
    EXPECT_EQ(p.getValuesClause(), "");
  } else {
    EXPECT_EQ(p.getDescriptor(), nullptr);
    EXPECT_EQ(p.getValuesReserved(), 35u);
    EXPECT_EQ(p.getValuesClause(), "22,7,'x'");
  }
  AppGetSnapDRArchiveFiles q(nullptr);
  q.setValues(23, 8, xml);
  if (!GetParam()) {
    EXPECT_EQ(q.getValuesClause(), "23,8,'<m n=''O''Brien''/>'");
  }
  AppGetSnapDRArchiveFiles& run = GetParam() ? p : q;
  run.setIsolationType(4);
  int state = 0;
  ASSERT_EQ(getNextRow(&run, &state, -1, 0), 0);
  ASSERT_EQ(proc.inputs.size(), 3u);
  EXPECT_EQ(proc.inputs[0].AsInt(), 23);
  EXPECT_EQ(proc.inputs[1].AsInt(), 8);
  EXPECT_EQ(proc.inputs[2].text, xml);
  const AppGetSnapDRArchiveFiles_t* row = run.getDataPtr();
  EXPECT_EQ(row->o_masterJobId, 5001);
  EXPECT_STREQ(row->o_vmName, "O'Brien");
  EXPECT_EQ(row->o_afileId, 71);
  EXPECT_EQ(row->o_jobId, 5002);
  EXPECT_EQ(row->o_vmClientId, 301);
  EXPECT_STREQ(row->o_vmGuid, "guid-1");
  EXPECT_EQ(row->o_vmAppId, 401);
  EXPECT_EQ(row->o_mountStatus, 78);
  EXPECT_EQ(row->o_mountHostId, 9);
  EXPECT_EQ(row->o_isFailoverMount, 1);
  ASSERT_EQ(getNextRow(&run, &state, -1, 0), 0);
  EXPECT_STREQ(row->o_vmName, "vm-2");
  EXPECT_EQ(row->o_isFailoverMount, 0);
  EXPECT_EQ(getNextRow(&run, &state, -1, 0), 100);
  EXPECT_EQ(proc.calls, 1);
}

TEST_P(CDbModeTest, ReplicaGroupReportTakesOneTextAndAnswersNineteenColumns) {
  SRecordingProc proc;
  proc.rows = {{T("sp"), T("copy"), T("snap"), T("client"), T("sc"), T("rel-1"), T("mirror"), T("vs:src"), T("prod"),
                T("vs_dr:dst"), T("O'Brien"), N(3), N(21), N(52), N(7), N(5), N(51), N(4), N(77)}};
  CScopedHandler<std::string, DBProcHandler> scoped(CDBProcRegistry::Handlers(), "MM_SMNetAppOpenReplReport",
                                                    proc.Handler());
  MM_SMNetAppOpenReplReport p(nullptr);
  p.setValues("x");
  const char* xml = "<e a='O'Brien'/>";
  if (GetParam()) {
    p.setValues(xml);
    ASSERT_EQ(p.BoundInputCount(), 1u);
    EXPECT_EQ(p.BoundInputs()[0]->getDataType(), 6);
    EXPECT_FALSE(p.BoundInputs()[0]->isNull());
  } else {
    EXPECT_EQ(p.getValuesReserved(), 5u);
    EXPECT_EQ(p.getValuesClause(), "'x'");
  }
  MM_SMNetAppOpenReplReport q(nullptr);
  q.setValues(xml);
  if (!GetParam()) {
    EXPECT_EQ(q.getValuesClause(), "'<e a=''O''Brien''/>'");
  }
  MM_SMNetAppOpenReplReport& run = GetParam() ? p : q;
  run.setIsolationType(4);
  int state = 0;
  ASSERT_EQ(getNextRow(&run, &state, -1, 0), 0);
  ASSERT_EQ(proc.inputs.size(), 1u);
  EXPECT_EQ(proc.inputs[0].text, xml);
  const MM_SMNetAppOpenReplReport_t* r = run.getDataPtr();
  EXPECT_STREQ(r->o_spName, "sp");
  EXPECT_STREQ(r->o_relationshipType, "mirror");
  EXPECT_STREQ(r->o_sourcePath, "vs:src");
  EXPECT_STREQ(r->o_sourceArray, "prod");
  EXPECT_STREQ(r->o_targetPath, "vs_dr:dst");
  EXPECT_STREQ(r->o_targetArray, "O'Brien");
  EXPECT_EQ(r->o_snapCount, 3);
  EXPECT_EQ(r->o_subclientId, 21);
  EXPECT_EQ(r->o_copyId, 52);
  EXPECT_EQ(r->o_replicaGroupId, 7);
  EXPECT_EQ(r->o_storagePolicyId, 5);
  EXPECT_EQ(r->o_defaultSPCopy, 51);
  EXPECT_EQ(r->o_controlHostId, 4);
  EXPECT_EQ(r->o_replicaPairId, 77);
  EXPECT_EQ(getNextRow(&run, &state, -1, 0), 100);
}

INSTANTIATE_TEST_SUITE_P(BothModes, CDbModeTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Typed" : "Text"; });
