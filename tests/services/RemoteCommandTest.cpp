// Remote commands: the request the application manager sends, the argument
// vector a client's handler is given (never a shell), and how launch
// failures, exit codes, missing handlers and time-outs come back.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "ServicesTestSupport.h"
#include "TestSupport.h"
#include "appmgr/ClientProperties.h"
#include "appmgr/ClientStore.h"
#include "appmgr/RemoteExecStore.h"
#include "appmgr/ZNClient.h"
#include "appmgr/ZnRemoteExecuteProcess.h"
#include "core/Mutex.h"
#include "core/RequestTap.h"
#include "core/StopState.h"
#include "services/DRAppManager.h"

namespace {

using Remote = ZnRemoteExecuteProcess;

// Takes the any-client handler away for a while (the simulators install one).
class CNoAnyClientHandler {
 public:
  CNoAnyClientHandler() {
    m_had = Remote::Handlers().Find(Remote::kAnyClient, m_previous);
    Remote::Handlers().Unregister(Remote::kAnyClient);
  }
  ~CNoAnyClientHandler() {
    if (m_had) Remote::Handlers().Register(Remote::kAnyClient, m_previous);
  }

 private:
  RemoteExecHandler m_previous;
  bool m_had = false;
};

// A client's handler that records what it was given and answers as told.
class CRecordingHandler {
 public:
  SRemoteOutcome answer;
  std::function<void()> during;
  RemoteExecHandler Handler() {
    return [this](const SRemoteCommand& c) {
      {
        CMutexLock lock(m_mutex);
        m_calls.push_back(c);
      }
      if (during) during();
      return answer;
    };
  }
  std::vector<SRemoteCommand> Calls() {
    CMutexLock lock(m_mutex);
    return m_calls;
  }

 private:
  CMutex m_mutex;
  std::vector<SRemoteCommand> m_calls DR_GUARDED_BY(m_mutex);
};

class RemoteCommandTest : public CServicesTestBase {
 protected:
  static constexpr int kDbClient = 5;
  // The application manager gives a remote command sixty seconds, which the
  // test scale makes sixty real milliseconds: less than a busy machine may
  // take to start the handler's thread. These tests expect the handler to
  // answer, so the clock runs slower for them (thirty real seconds), and
  // only the test of the time-out itself runs it at the test scale.
  static constexpr double kAnswerScale = 0.5;

  void SetUp() override {
    CServicesTestBase::SetUp();
    m_scale = CPlatformClock::Instance().Scale();
    CPlatformClock::Instance().SetScale(kAnswerScale);
    SClientRecord client;
    client.id = kDbClient;
    client.name = "db5";
    ASSERT_TRUE(CClientStore::PutClient(client));
    ASSERT_TRUE(CRemoteExecStore::CreateTables());
  }
  void TearDown() override {
    CPlatformClock::Instance().SetScale(m_scale);
    CRequestTap::SetEnabled(false);
    CRequestTap::Clear();
    CServicesTestBase::TearDown();
  }
  bool Run(int clientId, std::string command, std::string arguments, bool wait = true) {
    return m_app.ExecuteRemoteCommand(clientId, command, arguments, wait);
  }
  static std::vector<SRemoteExecEntry> Journal() {
    std::vector<SRemoteExecEntry> entries;
    EXPECT_EQ(EStoreResult::kOk, CRemoteExecStore::Entries(entries));
    return entries;
  }

  CDRAppManager m_app;
  CRecordingHandler m_handler;
  double m_scale = drtest::kTestScale;
};

TEST_F(RemoteCommandTest, TheRequestCarriesEveryFieldAndTheHandlerTheSplitArguments) {
  ASSERT_EQ(0, ClientProperties(kDbClient).setAttribute(ZN_PROP_INSTALL_DIRECTORY, "/srv/agent"));
  CScopedHandler<int, RemoteExecHandler> served(Remote::Handlers(), kDbClient, m_handler.Handler());
  CRequestTap::Clear();
  CRequestTap::SetEnabled(true);

  EXPECT_TRUE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01/app/oracle"));

  std::vector<STappedRequest> tapped = CRequestTap::Taken();
  ASSERT_EQ(1u, tapped.size());
  EXPECT_EQ("remote", tapped[0].entry);
  App::ExecuteCommandReq request;
  ASSERT_TRUE(request.Unserialize(tapped[0].request));
  EXPECT_EQ("/srv/agent/Base", request.GetString(App::ExecuteCommandReq::kStartDirectory));
  EXPECT_EQ("sh dbstartup.sh", request.GetString(App::ExecuteCommandReq::kCommand));
  EXPECT_EQ("db5", request.GetMsg(App::ExecuteCommandReq::kClient).GetString(ZnEntities::ClientEntity::kClientName));
  EXPECT_EQ("db5 /u01/app/oracle", request.GetString(App::ExecuteCommandReq::kArguments));
  EXPECT_EQ(1, request.GetInt32(App::ExecuteCommandReq::kWait));
  EXPECT_TRUE(Logged("ExecuteCommandReq request <"));

  std::vector<SRemoteCommand> calls = m_handler.Calls();
  ASSERT_EQ(1u, calls.size());
  EXPECT_EQ((std::vector<std::string>{"sh", "dbstartup.sh", "db5", "/u01/app/oracle"}), calls[0].argv);
  EXPECT_EQ("/srv/agent/Base", calls[0].startDirectory);
  EXPECT_EQ("db5", calls[0].clientName);
  std::vector<SRemoteExecEntry> journal = Journal();
  ASSERT_EQ(1u, journal.size());
  EXPECT_EQ(kDbClient, journal[0].clientId);
  EXPECT_EQ(calls[0].argv, journal[0].argv);
  EXPECT_EQ(0, journal[0].result);

  // Without the attribute the client's folder is the default one.
  ASSERT_EQ(0, ClientProperties(kDbClient).setAttribute(ZN_PROP_INSTALL_DIRECTORY, ""));
  EXPECT_TRUE(Run(kDbClient, "sh dbshutdown.sh", "db5 "));
  EXPECT_EQ(std::string(ZNClient::kDefaultInstallDirectory) + "/Base", m_handler.Calls().back().startDirectory);
  EXPECT_EQ((std::vector<std::string>{"sh", "dbshutdown.sh", "db5", ""}), m_handler.Calls().back().argv);
}

TEST_F(RemoteCommandTest, AnUnreachableClientReportsTheLaunchResultNotTheReplysCode) {
  CScopedHandler<int, RemoteExecHandler> served(Remote::Handlers(), kDbClient, m_handler.Handler());
  ASSERT_TRUE(CRemoteExecStore::SetReachable(kDbClient, false));

  EXPECT_FALSE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01"));
  EXPECT_TRUE(Logged("Failed to launch process on remote machine [db5] with error code [3] and error msg [Client "
                     "[db5] is not reachable]"));
  EXPECT_FALSE(Logged("error code [113]"));
  EXPECT_TRUE(m_handler.Calls().empty());
  ASSERT_EQ(1u, Journal().size());
  EXPECT_EQ(Remote::kLaunchUnreachable, Journal()[0].result);

  // A handler may find the client unreachable too.
  ASSERT_TRUE(CRemoteExecStore::SetReachable(kDbClient, true));
  m_handler.answer.unreachable = true;
  CLogSink::Instance().ClearCapture();
  EXPECT_FALSE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01"));
  EXPECT_TRUE(Logged("Failed to launch process on remote machine [db5] with error code [3]"));
}

TEST_F(RemoteCommandTest, ANonZeroExitCodeFailsWithTheRepliedText) {
  CScopedHandler<int, RemoteExecHandler> served(Remote::Handlers(), kDbClient, m_handler.Handler());
  m_handler.answer.exitCode = 3;
  m_handler.answer.error = "ORA-01034: not available";

  EXPECT_FALSE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01"));
  EXPECT_TRUE(Logged("Failed to execute process on remote machine [db5] with exit code [3] and error msg [ORA-01034: "
                     "not available]"));
  EXPECT_EQ(3, Journal()[0].exitCode);

  // Without waiting the exit code is not reported, though the command ran.
  EXPECT_TRUE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01", false));
  EXPECT_EQ(2u, m_handler.Calls().size());
  EXPECT_FALSE(Journal()[1].wait);
  EXPECT_EQ(3, Journal()[1].exitCode);
}

TEST_F(RemoteCommandTest, AClientWithoutAHandlerExits127) {
  CNoAnyClientHandler none;
  EXPECT_FALSE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01"));
  EXPECT_TRUE(Logged("Failed to execute process on remote machine [db5] with exit code [127]"));
  EXPECT_EQ(Remote::kExitNoHandler, Journal()[0].exitCode);
}

TEST_F(RemoteCommandTest, AnUnknownClientIsNotLaunched) {
  EXPECT_FALSE(Run(999, "sh dbstartup.sh", "x /u01"));
  EXPECT_TRUE(Logged("Cannot read the installation folder of client [999]"));

  // The platform's own answer for one.
  std::string xml;
  App::ExecuteCommandReq request;
  ASSERT_TRUE(request.serializeUTF8(xml));
  Remote process(999, "sh", "x", "/tmp", true, 60);
  EXPECT_EQ(Remote::kLaunchUnknownClient, process.remoteExecuteTool(xml));
  ZNGui::GenericResp reply;
  ASSERT_TRUE(reply.Unserialize(xml));
  EXPECT_EQ(Remote::kReplyUnknownClient, reply.GetInt32(ZNGui::GenericResp::kErrorCode));
  EXPECT_EQ("Client [999] is not known", reply.GetString(ZNGui::GenericResp::kErrorText));
}

TEST_F(RemoteCommandTest, AHandlerOutlivingTheTimeOutIsStoppedAndTheLaunchFails) {
  CPlatformClock::Instance().SetScale(m_scale);
  CScopedHandler<int, RemoteExecHandler> served(Remote::Handlers(), kDbClient, m_handler.Handler());
  bool stopped = false;
  // Without an end of its own, so that only the time-out's stop request,
  // however late a slow machine makes it, ends it.
  m_handler.during = [&stopped] { stopped = XOSLEEP(kWaitForever) == EWaitResult::Stopped; };

  EXPECT_FALSE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01"));
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(Logged("Failed to launch process on remote machine [db5] with error code [4] and error msg [Remote "
                     "process timed out after [60] seconds]"));
  EXPECT_EQ(Remote::kLaunchTimedOut, Journal()[0].result);
  // The time-out is the platform's own wait, not one of the job's.
  EXPECT_EQ(0u, CPlatformClock::Instance().CountWaits(60000));
}

TEST_F(RemoteCommandTest, AHandlerStillRunningAtTheTimeOutKeepsItsAnswer) {
  CPlatformClock::Instance().SetScale(m_scale);
  CScopedHandler<int, RemoteExecHandler> served(Remote::Handlers(), kDbClient, m_handler.Handler());
  m_handler.answer.exitCode = 3;
  // Busy, never in a platform wait, until the caller's time-out has passed
  // and asked it to stop: a handler a loaded machine ran late.
  bool asked = false;
  m_handler.during = [&asked] {
    drtest::Eventually([] { return CStopState::CurrentStopRequested(); });
    asked = CStopState::CurrentStopRequested();
  };

  EXPECT_FALSE(Run(kDbClient, "sh dbstartup.sh", "db5 /u01"));
  EXPECT_TRUE(asked);
  EXPECT_TRUE(Logged("Failed to execute process on remote machine [db5] with exit code [3]"));
  EXPECT_EQ(0, Journal()[0].result);
  EXPECT_EQ(3, Journal()[0].exitCode);
}

TEST_F(RemoteCommandTest, ShellTextReachesTheHandlerAsLiteralArgumentsAndRunsNothing) {
  const std::string dir = drtest::MakeTempDir("remote");
  char saved[4096];
  ASSERT_NE(nullptr, getcwd(saved, sizeof(saved)));
  ASSERT_EQ(0, chdir(dir.c_str()));
  CScopedHandler<int, RemoteExecHandler> served(Remote::Handlers(), kDbClient, m_handler.Handler());
  const std::string text = "$(touch x); rm -rf /";

  EXPECT_TRUE(Run(kDbClient, text, text));

  ASSERT_EQ(0, chdir(saved));
  std::vector<SRemoteCommand> calls = m_handler.Calls();
  ASSERT_EQ(1u, calls.size());
  const std::vector<std::string> once = {"$(touch", "x);", "rm", "-rf", "/"};
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(twice, calls[0].argv);
  struct stat st;
  for (const std::string& place : {dir + "/x", std::string(saved) + "/x", m_dir + "/x",
                                   std::string(ZNClient::kDefaultInstallDirectory) + "/Base/x"}) {
    EXPECT_NE(0, stat(place.c_str(), &st)) << place;
  }
  EXPECT_EQ(0, stat(m_dir.c_str(), &st));
  drtest::RemoveTree(dir);
}

TEST(RemoteArguments, EveryBlankSplitsAndEmptyPiecesStay) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{"sh", "dbstartup.sh", "client", ""}), Remote::SplitArguments("sh dbstartup.sh", "client "));
  EXPECT_EQ((V{"a", "", "b", "c"}), Remote::SplitArguments("a  b", "c"));
  EXPECT_EQ((V{"sh"}), Remote::SplitArguments("sh", ""));
  EXPECT_EQ((V{"", ""}), Remote::SplitArguments(" ", ""));
  EXPECT_TRUE(Remote::SplitArguments("", "").empty());
}

}  // namespace
