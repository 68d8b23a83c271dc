// The bindings on a real database file, in typed and in text mode.
#include <string.h>
#include <sys/stat.h>

#include <set>

#include "DbTestSupport.h"
#include "Db/Proc/AppGetVSMemberServers.h"
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/SprocWrapper.h"
#include "Db/Tbl/APP_Application.h"
#include "Db/Tbl/APP_Client.h"
#include "jobs/TaskStore.h"
#include "Db/Tbl/APP_ClientProp.h"
#include "Db/Tbl/APP_InstanceProp.h"
#include "Db/Tbl/APP_VSAReplication.h"
#include "Db/Tbl/APP_VSAReplicationProp.h"
#include "Db/Tbl/App_VirtualAppProp.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
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

INSTANTIATE_TEST_SUITE_P(BothModes, CDbModeTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Typed" : "Text"; });
