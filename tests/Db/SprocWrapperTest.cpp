#include "DbTestSupport.h"
#include "Db/Proc/AppVSAReplicationsDeleteOptions.h"
#include "Db/Proc/TM_GetTaskDetail.h"
#include "Db/SprocWrapper.h"
#include "log/LogSink.h"

namespace {

using CDeleteWrapper = SprocWrapper<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t>;
const char* kProc = "AppVSAReplicationsDeleteOptions";

class SprocWrapperTest : public CDbTestBase {
 protected:
  void SetUp() override {
    CDbTestBase::SetUp();
    CDBProcRegistry::Register(kProc, [this](const std::vector<SDBProcValue>& in, SDBProcResult& out) {
      m_input = in.empty() ? "" : in[0].text;
      if (!m_answer.empty()) out.rows.push_back({SDBProcValue::Text(m_answer)});
      return 0;
    });
  }
  void TearDown() override {
    CDBProcRegistry::Unregister(kProc);
    CDbTestBase::TearDown();
  }
  std::string m_input;
  std::string m_answer = "<App_GenericResp errorCode=\"0\"/>";
};

}  // namespace

TEST_F(SprocWrapperTest, DeclarationIsPutRightInFrontOfTheText) {
  CDeleteWrapper w("RemoveReplicationEntriesFromDb", nullptr);
  EXPECT_STREQ(w.getKindText(), "SProcedure");
  EXPECT_FALSE(w.isOpen());
  w.getCursor()->setValues("<opts/>");
  std::string out;
  ASSERT_EQ(w.getXMLFromCursor(out, nullptr, false, true), 0);
  EXPECT_EQ(out, "<?xml version='1.0' encoding='utf-8' ?><App_GenericResp errorCode=\"0\"/>");
  EXPECT_EQ(m_input, "<opts/>");
  EXPECT_EQ(CDBProcRegistry::CloseCount(kProc), 1);
  w.getCursor()->setValues("<opts/>");
  ASSERT_EQ(w.getXMLFromCursor(out, nullptr, true, true), 0);
  EXPECT_EQ(out.substr(0, 40), "<?xml version='1.1' encoding='utf-8' ?><");
  w.getCursor()->setValues("<opts/>");
  ASSERT_EQ(w.getXMLFromCursor(out, nullptr, true, false), 0);
  EXPECT_EQ(out, m_answer);
}

TEST_F(SprocWrapperTest, EmptyTextSucceedsAndLeavesTheOutputAlone) {
  m_answer.clear();
  CDeleteWrapper w("caller", nullptr);
  w.getCursor()->setValues("x");
  std::string out = "untouched";
  EXPECT_EQ(w.getXMLFromCursor(out, nullptr, false, true), 0);
  EXPECT_EQ(out, "untouched");
}

TEST_F(SprocWrapperTest, EachFailingStepClosesOnceAndKeepsTheErrorText) {
  struct SCase {
    int fault;
    int closes;
  } cases[] = {{DB_PROC_FAIL_EXECUTE, 1}, {DB_PROC_FAIL_FETCH, 1}, {DB_PROC_FAIL_CLOSE, 1}};
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.fault);
    CDBProcRegistry::ResetCounters();
    CDBProcRegistry::SetFault(kProc, c.fault);
    CDeleteWrapper w("caller", nullptr);
    w.getCursor()->setValues("x");
    std::string out = "before";
    std::string err;
    EXPECT_EQ(w.getXMLFromCursor(out, &err, false, true), -1);
    EXPECT_EQ(out, "before");
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(err, w.getErrorString());
    EXPECT_EQ(CDBProcRegistry::CloseCount(kProc), c.closes);
    CDBProcRegistry::SetFault(kProc, DB_PROC_FAIL_NONE);
  }
  // Without an error text to fill, the wrapper still keeps one.
  CDBProcRegistry::SetFault(kProc, DB_PROC_FAIL_EXECUTE);
  CDeleteWrapper w("caller", nullptr);
  std::string out;
  EXPECT_EQ(w.getXMLFromCursor(out, nullptr, false, true), -1);
  EXPECT_NE(w.getErrorString().find("execute"), std::string::npos);
  CDBProcRegistry::SetFault(kProc, DB_PROC_FAIL_NONE);
}

TEST_F(SprocWrapperTest, UnknownProcedureIsAnError) {
  SprocWrapper<TM_GetTaskDetail, TM_GetTaskDetail_t> w("_QueryTaskInfo", nullptr);
  w.getCursor()->setValues(1, 2, 0);
  std::string out;
  EXPECT_EQ(w.getXMLFromCursor(out, nullptr, false, true), -1);
  EXPECT_NE(w.getErrorString().find("TM_GetTaskDetail"), std::string::npos);
}

TEST_F(SprocWrapperTest, DestroyingAClosedWrapperClosesNothing) {
  {
    CDeleteWrapper w("caller", nullptr);
    EXPECT_EQ(w.closeCursor(nullptr), 0);
  }
  EXPECT_EQ(CDBProcRegistry::CloseCount(kProc), 0);
}
