// Stores and loads of one VM replication data manager from several threads.
#include <atomic>
#include <string>

#include "TestThread.h"
#include "vsa/VSAReplDataMgr.h"
#include "engine/DRRecordsTestSupport.h"

namespace {

class VSAReplDataMgrConcurrencyTest : public CDRRecordsTestBase {};

TEST_F(VSAReplDataMgrConcurrencyTest, StoreWithReloadOnOneThreadWhileAnotherLoadsDoesNotDeadlock) {
  for (int id = 1; id <= 4; ++id) StoreRepl(Repl(id));
  SDataSourceInfo info;
  info.jobId = kJob;
  info.replIds = {1, 2, 3, 4};
  CVSAReplDataMgr mgr(info);
  ASSERT_TRUE(mgr.LoadData(info));
  const std::string path = CDBConnection::Path();

  std::atomic<int> loads{0};
  drtest::CTestThread loader(
      [&] {
        CDBConnection::SetPath(path);
        SDataSourceInfo mine = info;
        for (int i = 0; i < 20; ++i) loads += mgr.LoadData(mine) ? 1 : 0;
        CDBConnection::CloseThreadConnections();
      },
      "loader");
  drtest::CTestThread storer(
      [&] {
        for (int i = 0; i < 10; ++i) mgr.UpdateReplPropTbl(1 + i % 4, 2220, std::to_string(i), true);
        CDBConnection::CloseThreadConnections();
      },
      "storer");
  // A deadlock shows as a join that does not come.
  ASSERT_TRUE(loader.Join());
  ASSERT_TRUE(storer.Join());

  EXPECT_EQ(20, loads.load());
  for (int id = 1; id <= 4; ++id) {
    VSARepInfo* rep = static_cast<VSARepInfo*>(mgr.FetchData(id));
    ASSERT_NE(nullptr, rep);
    int last = 0;
    for (int i = 0; i < 10; ++i) {
      if (1 + i % 4 == id) last = i;
    }
    EXPECT_EQ(last, rep->GetCloneVMCount()) << id;
  }
}

}  // namespace
