// The platform's instance objects: the callbacks of an instance reach the
// one property cache, property store and content cache it has, however the
// instance type reaches them.
#include <gtest/gtest.h>

#include "Db/DbTestSupport.h"
#include "appmgr/InstanceTypeVirtualServer.h"

namespace {

// An instance type that also derives from the property part on its own: the
// virtual bases keep one part for both paths.
class CRecordingInstance : public Instance, public virtual ApplProperties {
 public:
  int storeProperty(const ApplProperty& property) override {
    stored.push_back(property);
    return stored.size() == 1 ? 0 : 9;
  }
  std::vector<ApplProperty> stored;
};

TEST(Instance, CallbacksReachTheOnePartEachBelongsTo) {
  CRecordingInstance instance;
  instance.propertyCallback("Virtual Server Host", "hv-1.lab");
  instance.propertyCallback("Virtual Server Host", "hv-2.lab");
  ApplProperties& viaProperties = instance;
  std::string value;
  ASSERT_TRUE(viaProperties.getCachedProperty("Virtual Server Host", value));
  EXPECT_EQ("hv-2.lab", value) << "a later property replaces an earlier one";
  EXPECT_FALSE(viaProperties.getCachedProperty("absent", value));

  EXPECT_EQ(0, instance.updatePropertyCallback("Owner", "ops", 5));
  EXPECT_EQ(9, instance.updatePropertyCallback(nullptr, nullptr, 2)) << "the store's answer comes back";
  ASSERT_EQ(2u, instance.stored.size());
  EXPECT_EQ("Owner", instance.stored[0].name);
  EXPECT_EQ("ops", instance.stored[0].value);
  EXPECT_EQ(5, instance.stored[0].type);
  EXPECT_EQ("", instance.stored[1].name);

  instance.contentCallback("/VM/Web");
  ApplBackupContent& content = instance;
  ASSERT_EQ(1u, content.contentCache().size());
  EXPECT_FALSE(content.isCaseSensitive());
  EXPECT_TRUE(content.hasContent("/vm/web"));
  instance.SetCaseSensitive(true);
  EXPECT_TRUE(content.isCaseSensitive());
  EXPECT_FALSE(content.hasContent("/vm/web"));
  EXPECT_TRUE(content.hasContent("/VM/Web"));
  instance.SetCaseSensitive(false);
  EXPECT_FALSE(content.isCaseSensitive());
}

class InstanceTypeVirtualServerTest : public CDbTestBase {};

TEST_F(InstanceTypeVirtualServerTest, PropertiesAreTheInstancesRowsOfTheServer) {
  InstanceTypeVirtualServer writer(12);
  unsigned long fbr = 0;
  EXPECT_EQ(InstanceTypeVirtualServer::kNoFBRMediaAgent, writer.getFBRUnixMediaAgent(fbr));
  EXPECT_EQ(0, writer.updatePropertyCallback(ZN_PROP_FBR_UNIX_MEDIA_AGENT, "44", 2));
  EXPECT_EQ(0, writer.getFBRUnixMediaAgent(fbr)) << "the writer's cache holds what it stored";
  EXPECT_EQ(44u, fbr);
  InstanceTypeVirtualServer reader(12);
  fbr = 0;
  EXPECT_EQ(0, reader.getFBRUnixMediaAgent(fbr));
  EXPECT_EQ(44u, fbr);
  EXPECT_EQ(InstanceTypeVirtualServer::kNoFBRMediaAgent, InstanceTypeVirtualServer(13).getFBRUnixMediaAgent(fbr));
  EXPECT_EQ(0, writer.updatePropertyCallback(ZN_PROP_FBR_UNIX_MEDIA_AGENT, "0", 2));
  EXPECT_EQ(InstanceTypeVirtualServer::kNoFBRMediaAgent, InstanceTypeVirtualServer(12).getFBRUnixMediaAgent(fbr));
}

}  // namespace
