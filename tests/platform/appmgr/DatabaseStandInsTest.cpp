// The database side of the lab: Oracle homes of instances, and the hosts that
// start and stop databases when a DR job runs their scripts, with the faults
// a test plants on a client's nth script call.
#include <string>

#include "Db/DbTestSupport.h"
#include "TestSupport.h"
#include "app/AppReplTestSupport.h"
#include "appmgr/ClientStore.h"
#include "appmgr/OracleInstance.h"
#include "appmgr/RemoteExecStore.h"
#include "log/LogSink.h"

namespace {

using drtest::SDBSite;

class DatabaseStandIns : public CDbTestBase {
 protected:
  void SetUp() override {
    CDbTestBase::SetUp();
    m_site = SDBSite{5, "db5", 105, "ORCL5", "/u01/app/oracle", false};
    drtest::SeedDBSite(m_site);
  }

  struct SRun {
    int result = 0;
    int exitCode = 0;
    std::string error;
  };
  // The time-out of a command that should answer: in scaled seconds, so as
  // many as make half the watchdog's real time, which no slow machine
  // reaches. A command meant to hang gets a short one.
  static constexpr int kAnswerSeconds = static_cast<int>(drtest::kWatchdogMs / 2 / 1000 / drtest::kTestScale);
  static constexpr int kHangSeconds = 60;

  // A command on a client through the platform's remote execution.
  static SRun On(int clientId, const std::string& command, const std::string& arguments,
                 int timeoutSeconds = kAnswerSeconds) {
    std::string xml;
    EXPECT_TRUE(App::ExecuteCommandReq().serializeUTF8(xml));
    ZnRemoteExecuteProcess process(clientId, command, arguments, "/opt/drclient/Base", true, timeoutSeconds);
    SRun run;
    run.result = process.remoteExecuteTool(xml);
    if (run.result == 0) {
      App::ExecuteToolResp reply;
      EXPECT_TRUE(reply.Unserialize(xml));
      run.exitCode = reply.GetInt32(App::ExecuteToolResp::kExitCode);
      run.error = reply.GetString(App::ExecuteToolResp::kErrorText);
    } else {
      ZNGui::GenericResp reply;
      EXPECT_TRUE(reply.Unserialize(xml));
      run.error = reply.GetString(ZNGui::GenericResp::kErrorText);
    }
    return run;
  }
  SRun Script(const std::string& script, const std::string& arguments, int timeoutSeconds = kAnswerSeconds) {
    return On(m_site.clientId, std::string("sh ") + script, arguments, timeoutSeconds);
  }
  bool Running() { return drtest::DatabaseRunning(m_site); }

  SDBSite m_site;
};

TEST_F(DatabaseStandIns, AnInstanceAnswersItsHomeEmptyWithoutOneAndAnErrorWhenUnknown) {
  std::string home = "stale";
  EXPECT_EQ(0, OracleInstance(105).getOracleHome(home, nullptr));
  EXPECT_EQ("/u01/app/oracle", home);

  drtest::SeedDBSite(SDBSite{6, "db6", 106, "ORCL6", "", false}, false);
  home = "stale";
  EXPECT_EQ(0, OracleInstance(106).getOracleHome(home, nullptr));
  EXPECT_EQ("", home);

  home = "stale";
  EXPECT_NE(0, OracleInstance(999).getOracleHome(home, nullptr));
  EXPECT_NE(0, OracleInstance(0).getOracleHome(home, nullptr));
  EXPECT_EQ("stale", home);
}

TEST_F(DatabaseStandIns, TheScriptsStartAndStopTheDatabaseOfTheirHome) {
  EXPECT_FALSE(Running());
  SRun run = Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle");
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(0, run.exitCode) << run.error;
  EXPECT_TRUE(Running());
  // Starting a running database changes nothing and succeeds.
  EXPECT_EQ(0, Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle").exitCode);
  EXPECT_EQ(0, Script(CDatabaseHosts::kStopScript, "db5 /u01/app/oracle").exitCode);
  EXPECT_FALSE(Running());

  // Another home of the client is another database.
  ASSERT_TRUE(CDatabaseHosts::PutDatabase(5, "/u02/other", false));
  EXPECT_EQ(0, Script(CDatabaseHosts::kStartScript, "db5 /u02/other").exitCode);
  EXPECT_FALSE(Running());
  bool other = false;
  ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::IsRunning(5, "/u02/other", other));
  EXPECT_TRUE(other);
}

TEST_F(DatabaseStandIns, WrongArgumentsAndOtherCommandsAreRefused) {
  {
    SRun run = Script(CDatabaseHosts::kStartScript, "db5 /u09/none");
    EXPECT_EQ(CDatabaseHosts::kExitRefused, run.exitCode);
    EXPECT_EQ("No database at Oracle home [/u09/none] on client [db5]", run.error);
  }
  EXPECT_EQ(CDatabaseHosts::kExitRefused, Script(CDatabaseHosts::kStartScript, "db6 /u01/app/oracle").exitCode);
  // A home with a blank arrives as two arguments.
  EXPECT_EQ(CDatabaseHosts::kExitUsage, Script(CDatabaseHosts::kStartScript, "db5 /u01/app oracle").exitCode);
  EXPECT_EQ(ZnRemoteExecuteProcess::kExitNoHandler, Script("other.sh", "db5 /u01/app/oracle").exitCode);
  EXPECT_EQ(ZnRemoteExecuteProcess::kExitNoHandler, On(5, "rm -rf /", "").exitCode);
  // A client without databases has no scripts.
  SClientRecord plain;
  plain.id = 9;
  plain.name = "plain";
  ASSERT_TRUE(CClientStore::PutClient(plain));
  EXPECT_EQ(ZnRemoteExecuteProcess::kExitNoHandler,
            On(9, "sh dbstartup.sh", "plain /u01/app/oracle").exitCode);
  EXPECT_FALSE(Running());
}

TEST_F(DatabaseStandIns, FaultsHitTheNthCallOfAScriptOnAClient) {
  ASSERT_TRUE(CDatabaseHosts::SetFault(5, CDatabaseHosts::kStartScript, 2, EDBHostFault::kExitCode, 7));
  ASSERT_TRUE(CDatabaseHosts::SetFault(5, CDatabaseHosts::kStartScript, 3, EDBHostFault::kHang));
  ASSERT_TRUE(CDatabaseHosts::SetFault(5, CDatabaseHosts::kStartScript, 4, EDBHostFault::kUnreachable));

  EXPECT_EQ(0, Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle").exitCode);
  ASSERT_TRUE(CDatabaseHosts::PutDatabase(5, m_site.home, false));
  // The stop script counts on its own.
  EXPECT_EQ(0, Script(CDatabaseHosts::kStopScript, "db5 /u01/app/oracle").exitCode);

  SRun second = Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle");
  EXPECT_EQ(0, second.result);
  EXPECT_EQ(7, second.exitCode);
  EXPECT_FALSE(Running());

  SRun hung = Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle", kHangSeconds);
  EXPECT_EQ(ZnRemoteExecuteProcess::kLaunchTimedOut, hung.result);
  EXPECT_FALSE(Running());

  SRun unreachable = Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle");
  EXPECT_EQ(ZnRemoteExecuteProcess::kLaunchUnreachable, unreachable.result);
  EXPECT_EQ("Client [db5] did not answer (injected)", unreachable.error);
  EXPECT_FALSE(Running());

  EXPECT_EQ(0, Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle").exitCode);
  EXPECT_TRUE(Running());
  int calls = 0;
  ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::Calls(5, CDatabaseHosts::kStartScript, calls));
  EXPECT_EQ(5, calls);

  // Cleared, the count starts again.
  ASSERT_TRUE(CDatabaseHosts::ClearFaults());
  EXPECT_EQ(0, Script(CDatabaseHosts::kStartScript, "db5 /u01/app/oracle").exitCode);
  ASSERT_EQ(EStoreResult::kOk, CDatabaseHosts::Calls(5, CDatabaseHosts::kStartScript, calls));
  EXPECT_EQ(1, calls);

  // A client marked unreachable is never asked.
  ASSERT_TRUE(CRemoteExecStore::SetReachable(5, false));
  EXPECT_EQ(ZnRemoteExecuteProcess::kLaunchUnreachable,
            Script(CDatabaseHosts::kStopScript, "db5 /u01/app/oracle").result);
  EXPECT_TRUE(Running());
}

}  // namespace
