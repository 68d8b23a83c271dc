// The application manager's proxies and file-recovery servers, answered by
// the hypervisor lab through the management database.
#include <gtest/gtest.h>

#include "appmgr/ClientStore.h"
#include "services/DRAppManager.h"
#include "services/ServicesTestSupport.h"
#include "vm/HypervisorLab.h"

namespace {

class DRAppManagerProxies : public CServicesTestBase {
 protected:
  static constexpr int kThree = 3;  // proxies 31, 32, 33
  static constexpr int kTwo = 4;    // proxies 32, 41

  void SetUp() override {
    CServicesTestBase::SetUp();
    AddInstance(kThree, "three", 0);
    AddInstance(kTwo, "two", 41);
    AddProxy(31, {{kThree, 1}});
    AddProxy(32, {{kThree, 2}, {kTwo, 1}});
    AddProxy(33, {{kThree, 3}});
    AddProxy(41, {{kTwo, 2}});
  }

  static void AddInstance(int id, const std::string& name, int fbrClient) {
    SLabInstance instance;
    instance.id = id;
    instance.name = name;
    instance.vendor = 1;
    instance.fbrClientId = fbrClient;
    ASSERT_TRUE(CHypervisorLab::AddInstance(instance));
  }

  static void AddProxy(long long id, std::vector<SLabProxyInstance> served) {
    SLabProxy proxy;
    proxy.clientId = id;
    proxy.name = "proxy-" + std::to_string(id);
    proxy.instances = std::move(served);
    ASSERT_TRUE(CHypervisorLab::AddProxy(proxy));
  }

  static App::MemberServer Server(long long id) {
    App::MemberServer server;
    server.MutableMsg(App::MemberServer::kClientEntity).SetInt64(ZnEntities::GenericEntity::kClientId, id);
    return server;
  }

  static long long Id(const App::MemberServer& s) {
    return s.GetMsg(App::MemberServer::kClientEntity).GetInt64(ZnEntities::GenericEntity::kClientId);
  }

  static std::vector<long long> Ids(const std::vector<App::MemberServer>& list) {
    std::vector<long long> ids;
    for (const App::MemberServer& s : list) ids.push_back(Id(s));
    return ids;
  }

  long long Select(int instance) {
    App::MemberServer proxy;
    EXPECT_TRUE(m_am.SelectProxy(instance, proxy));
    return Id(proxy);
  }

  CDRAppManager m_am;
};

TEST_F(DRAppManagerProxies, SelectionCyclesThroughAnInstancesProxies) {
  EXPECT_EQ(31, Select(kThree));
  EXPECT_EQ(32, Select(kThree));
  EXPECT_EQ(33, Select(kThree));
  EXPECT_EQ(31, Select(kThree));
  EXPECT_EQ(1, CHypervisorLab::MemberServerCalls()) << "the instance's proxies are read once";
}

TEST_F(DRAppManagerProxies, OneRememberedProxyServesEveryInstance) {
  EXPECT_EQ(31, Select(kThree));
  // 31 is not a proxy of the other instance: its first is taken.
  EXPECT_EQ(32, Select(kTwo));
  // 32 was the last chosen anywhere, so the first instance goes on after it.
  EXPECT_EQ(33, Select(kThree));
  EXPECT_EQ(32, Select(kTwo));
  EXPECT_EQ(41, Select(kTwo));
  App::MemberServer proxy;
  EXPECT_FALSE(m_am.SelectProxy(99, proxy));
  EXPECT_TRUE(Logged("Failed to get member servers for instance [99]"));
}

TEST_F(DRAppManagerProxies, TheCacheHoldsTheAnswerNotTheCallersList) {
  std::vector<App::MemberServer> mine = {Server(7)};
  ASSERT_TRUE(m_am.QueryMemberServersForInstance(kThree, mine));
  EXPECT_EQ((std::vector<long long>{7, 31, 32, 33}), Ids(mine)) << "appended to what the caller had";
  EXPECT_TRUE(Logged("Found [4] proxies configured for instance [3]"));

  std::vector<App::MemberServer> fresh;
  ASSERT_TRUE(m_am.QueryMemberServersForInstance(kThree, fresh));
  EXPECT_EQ((std::vector<long long>{31, 32, 33}), Ids(fresh)) << "the caller's own server is not the instance's";
  EXPECT_EQ(1, CHypervisorLab::MemberServerCalls()) << "the second answer came from the cache";

  // An instance without proxies is not cached: the next query asks again.
  std::vector<App::MemberServer> none;
  EXPECT_FALSE(m_am.QueryMemberServersForInstance(99, none));
  EXPECT_TRUE(Logged("Unable to find proxy client Id for instance [99]"));
  EXPECT_FALSE(m_am.QueryMemberServersForInstance(99, none));
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(3, CHypervisorLab::MemberServerCalls());
}

TEST_F(DRAppManagerProxies, FileRecoveryServerOfAnInstance) {
  std::string host = "unchanged";
  EXPECT_FALSE(m_am.QueryFBRServerForInstance(0, host));
  EXPECT_TRUE(Logged("Instance Id is [0]"));

  EXPECT_FALSE(m_am.QueryFBRServerForInstance(kThree, host));
  EXPECT_FALSE(Logged("Failed to get FBR MA with error")) << "an instance without one is no error";
  EXPECT_EQ("unchanged", host);

  SClientRecord client;
  client.id = 41;
  client.name = "proxy-41";
  client.hostName = "fbr-41.lab";
  ASSERT_TRUE(CClientStore::PutClient(client));
  ASSERT_TRUE(m_am.QueryFBRServerForInstance(kTwo, host));
  EXPECT_EQ("fbr-41.lab", host);
  EXPECT_TRUE(Logged("Found Unix FBR Client Id = [41] [proxy-41]"));

  client.hostName = "moved.lab";
  ASSERT_TRUE(CClientStore::PutClient(client));
  ASSERT_TRUE(m_am.QueryFBRServerForInstance(kTwo, host));
  EXPECT_EQ("fbr-41.lab", host) << "cached for the instance";
  EXPECT_TRUE(Logged("Found managled FBR serverName [fbr-41.lab] in cache for instance [4]"));

  // A media agent the server does not know as a client.
  AddInstance(5, "orphan", 4242);
  EXPECT_FALSE(m_am.QueryFBRServerForInstance(5, host));
  EXPECT_TRUE(Logged("Failed to get FBR MA name with error [-1]"));
}

}  // namespace
