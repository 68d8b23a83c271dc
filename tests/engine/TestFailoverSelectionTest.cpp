// The destination's datacenter queries and the test-failover choices of a
// clone's VM size and network, over real machine records; the destination's
// proxy is a scoped XML request handler that records what it was asked.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "engine/DRInfoUtils.h"
#include "engine/FXString.h"
#include "engine/VMMachinesTestBase.h"
#include "vsa/VSARepInfo.h"
#include "xmlreq/XMLHandler.h"

namespace {

using VmInfo = App::VSAReplicationInfo;
using Policy = Ida::VMAllocationPolicy;
using Req = EVGui::GetVirtualMachineDestinationsReq;
using Size = EVGui::VMSizeInfo;

Size MakeSize(const std::string& name, int64_t cpus, int64_t memory, int64_t disks) {
  Size s;
  s.SetString(Size::kSizeName, name);
  s.SetInt64(Size::kCpuCount, cpus);
  s.SetInt64(Size::kMemoryMB, memory);
  s.SetInt64(Size::kDiskCount, disks);
  return s;
}

struct SNetwork {
  std::string name;
  std::string subnet;
};

// What the destination's proxy offers, and what it was asked.
struct SProxy {
  std::vector<Size> sizes;
  std::vector<SNetwork> networks;
  std::vector<std::string> datastores;
  bool noHost = false;
  bool fail = false;
  std::vector<Req> asked;
};

class TestFailoverSelection : public CVMMachinesTestBase {
 protected:
  void SetUp() override {
    CVMMachinesTestBase::SetUp();
    m_handler.reset(new CScopedHandler<unsigned long, XMLRequestHandler>(
        XMLHandler::Handlers(), Req::kTypeId, [this](int, std::string& xml, std::string& error) {
          Req req;
          EXPECT_TRUE(req.Unserialize(xml));
          m_proxy.asked.push_back(req);
          if (m_proxy.fail) {
            error = "proxy unreachable";
            return -1;
          }
          EVGui::VirtualMachineDestination resp;
          resp.TouchField(EVGui::VirtualMachineDestination::kHosts);
          if (!m_proxy.noHost) {
            CNMessageBase& host = resp.AddMsg(EVGui::VirtualMachineDestination::kHosts);
            for (const Size& s : m_proxy.sizes) host.AppendMsg(EVGui::VMHostInfo::kVMSizes, s);
            for (const SNetwork& n : m_proxy.networks) {
              CNMessageBase& net = host.AddMsg(EVGui::VMHostInfo::kNetworks);
              net.SetString(EVGui::VMNetworkInfo::kNetworkName, n.name);
              if (!n.subnet.empty())
                net.AddMsg(EVGui::VMNetworkInfo::kSubnets).SetString(EVGui::SubnetInfo::kSubnet, n.subnet);
            }
            for (const std::string& d : m_proxy.datastores)
              host.AddMsg(EVGui::VMHostInfo::kDatastores).SetString(EVGui::VMDataStoreInfo::kDatastoreName, d);
          }
          xml = Xml(resp);
          return 0;
        }));
  }
  void TearDown() override {
    m_handler.reset();
    CVMMachinesTestBase::TearDown();
  }

  // One machine per destination vendor, in order; instance 8 at the source,
  // 9 at the destination, proxy 55.
  std::vector<CDRInfo*> ByVendor(const std::vector<int>& vendors) {
    std::vector<App::VSAReplicationInfo> repls;
    int id = 0;
    for (int vendor : vendors) {
      VmInfo info = Repl(++id, vendor);
      CNMessageBase& sub = info.MutableMsg(VmInfo::kSubclient);
      sub.SetInt32(ZnEntities::SubClientEntity::kSubclientId, 100 + id);
      sub.SetInt32(ZnEntities::SubClientEntity::kInstanceId, 8);
      info.MutableMsg(VmInfo::kDestinationInstance).SetInt32(ZnEntities::InstanceEntity::kInstanceId, 9);
      info.MutableMsg(VmInfo::kDestinationProxy).SetInt64(ZnEntities::ClientEntity::kClientId, 55);
      repls.push_back(info);
    }
    return Machines(repls);
  }

  // A recovery target: the region (vendor-5 family), the original and the
  // configured sizes, the test and destination networks.
  static Policy Target(const std::string& region, const std::string& original, const std::string& configured) {
    Policy p;
    if (!region.empty()) p.MutableMsg(Policy::kInstance).SetString(ZnEntities::PolicyInstanceFields::kRegion, region);
    CNMessageBase& cloud = p.MutableMsg(Policy::kCloudOptions);
    cloud.TouchField(Ida::CloudOptions::kOriginalInstanceTypes);
    if (!original.empty()) {
      cloud.AddMsg(Ida::CloudOptions::kOriginalInstanceTypes)
          .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, original);
    }
    if (!configured.empty()) {
      cloud.AddMsg(Ida::CloudOptions::kTestFailoverInstanceTypes)
          .MutableMsg(Ida::InstanceTypeDetails::kInstanceType)
          .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, configured);
    }
    return p;
  }
  static Policy Networks(const std::string& testNetwork, const std::string& testSubnet, const std::string& destination) {
    Policy p = Target("westeurope", "", "");
    if (!testNetwork.empty()) {
      CNMessageBase& card = p.AddMsg(Policy::kTestNetworkCards);
      card.SetString(Ida::NetworkCard::kNetworkName, testNetwork);
      if (!testSubnet.empty()) card.AddMsg(Ida::NetworkCard::kSubnets).SetString(Ida::SubnetInfo::kSubnet, testSubnet);
    }
    if (!destination.empty()) {
      p.AddMsg(Policy::kDestinationNics).SetString(Ida::VMWAdvancedRestoreOptionsNic::kDestinationNetwork, destination);
    }
    return p;
  }

  // The caller passes an empty size unless it has one of its own.
  std::string SelectSize(CDRInfo* info, const Policy& policy, const std::string& start = "") {
    std::string size = start;
    DRInfoUtils::SelectTestFailoverVMSize(info, policy, size);
    return size;
  }

  SProxy m_proxy;
  std::unique_ptr<CScopedHandler<unsigned long, XMLRequestHandler>> m_handler;
};

const char kD2s[] = "Standard_D2s (2 cores : 8192 MB : 4 data disks : x)";

// ---- the size text ------------------------------------------------------------

TEST(VMSizeText, SplitKeepsEveryEmptyPieceSoIndexesCountSeparators) {
  using V = std::vector<std::string>;
  EXPECT_EQ((V{"a", "", "b"}), FXString::Split("a::b", ":"));
  EXPECT_EQ((V{"", "a", ""}), FXString::Split(":a:", ":"));
  EXPECT_EQ((V{""}), FXString::Split("", ":"));
  EXPECT_EQ((V{"a", "b:c"}), FXString::Split("a::b:c", "::"));
  EXPECT_EQ((V{"a b"}), FXString::Split("a b", ""));
  EXPECT_EQ((V{"", "8192", "MB", ""}), FXString::Split(" 8192 MB ", " "));
}

TEST(VMSizeText, ASizeTextGivesNameCpusMemoryAndDisksWithTheSystemDisk) {
  Size info;
  DRInfoUtils::GetVMSizeInfoFromVMSizeName(kD2s, info);
  EXPECT_EQ("Standard_D2s", info.GetString(Size::kSizeName));
  EXPECT_EQ(2, info.GetInt64(Size::kCpuCount));
  EXPECT_EQ(8192, info.GetInt64(Size::kMemoryMB));
  EXPECT_EQ(5, info.GetInt64(Size::kDiskCount));

  // Three pieces or fewer: nothing at all.
  Size three;
  DRInfoUtils::GetVMSizeInfoFromVMSizeName("Standard_D2s (2 cores : 8192 MB : 4 data disks", three);
  EXPECT_EQ(0u, three.FieldCount());
}

TEST(VMSizeText, AMissingOrOutOfRangeNumberLeavesItsFieldAndOnlyItsFieldUnset) {
  struct SCase {
    const char* text;
    bool cpus, memory, disks;
    int64_t cpuValue, memoryValue, diskValue;
  };
  const SCase cases[] = {
      // Two blanks before the parenthesis: the CPU word is empty.
      {"Standard_X  (2 cores : 8192 MB : 4 data disks : x)", false, true, true, 0, 8192, 5},
      {"Standard_X (99999999999 cores : 8192 MB : 4 data disks : x)", false, true, true, 0, 8192, 5},
      {"Standard_X (2 cores : 2147483648 MB : 2147483647 data disks : x)", true, false, false, 2, 0, 0},
      // atoi's own results stay: no digits read 0, digits stop at a letter.
      {"Standard_X (two cores : -12 MB : 7x data disks : x)", true, true, true, 0, -12, 8},
      // An empty second word reads 0, as atoi reads "".
      {"Standard_X (2 cores :  : 2147483646 data disks : x)", true, true, true, 2, 0, 2147483647},
      {"Standard_X (-2147483648 cores : 1 MB : 0 : x)", true, true, true, INT32_MIN, 1, 1},
  };
  for (const SCase& c : cases) {
    SCOPED_TRACE(c.text);
    Size info;
    DRInfoUtils::GetVMSizeInfoFromVMSizeName(c.text, info);
    EXPECT_EQ("Standard_X", info.GetString(Size::kSizeName));
    EXPECT_EQ(c.cpus, info.Has(Size::kCpuCount));
    EXPECT_EQ(c.memory, info.Has(Size::kMemoryMB));
    EXPECT_EQ(c.disks, info.Has(Size::kDiskCount));
    // An unset field reads 0.
    EXPECT_EQ(c.cpuValue, info.GetInt64(Size::kCpuCount));
    EXPECT_EQ(c.memoryValue, info.GetInt64(Size::kMemoryMB));
    EXPECT_EQ(c.diskValue, info.GetInt64(Size::kDiskCount));
  }
}

// ---- the best size ------------------------------------------------------------

TEST(VMSizeChoice, TheSmallestSizeThatHoldsTheVMAndTheLastOfEqualOnes) {
  Size required = MakeSize("", 2, 4096, 2);
  const std::vector<Size> sizes = {MakeSize("S1", 4, 8192, 3), MakeSize("S2", 2, 4096, 2), MakeSize("S3", 2, 4096, 2),
                                   MakeSize("S4", 8, 2048, 8)};
  Size best = MakeSize("kept", 0, 0, 0);
  DRInfoUtils::GetBestAvailableVMSize(sizes, required, best);
  EXPECT_EQ("S3", best.GetString(Size::kSizeName));

  // S4 alone never qualifies (too little memory): best stays as it was.
  Size untouched = MakeSize("kept", 0, 0, 0);
  DRInfoUtils::GetBestAvailableVMSize({sizes[3]}, required, untouched);
  EXPECT_EQ("kept", untouched.GetString(Size::kSizeName));
  // Smaller in one dimension but larger in another is passed over.
  Size mixed;
  DRInfoUtils::GetBestAvailableVMSize({MakeSize("A", 2, 8192, 2), MakeSize("B", 4, 4096, 2)}, required, mixed);
  EXPECT_EQ("A", mixed.GetString(Size::kSizeName));
  // A requirement that did not parse lets nothing qualify.
  Size unparsed, none;
  DRInfoUtils::GetBestAvailableVMSize(sizes, unparsed, none);
  EXPECT_FALSE(none.Has(Size::kSizeName));
}

TEST(VMSizeChoice, SizesAreComparedAsSigned32BitValues) {
  Size required = MakeSize("", 2, 4096, 2);
  Size best;
  // 2^32 + 2 CPUs reads as 2; 2^31 MB reads negative and never suffices.
  DRInfoUtils::GetBestAvailableVMSize(
      {MakeSize("wide", (int64_t{1} << 32) + 2, 4096, 2), MakeSize("negative", 2, int64_t{1} << 31, 2)}, required,
      best);
  EXPECT_EQ("wide", best.GetString(Size::kSizeName));
}

// ---- datacenter queries -----------------------------------------------------------

TEST_F(TestFailoverSelection, TheQueryNamesTheSitesInstanceAndTheProxyAndTheFirstHostAnswers) {
  std::vector<CDRInfo*> m = ByVendor({5});
  m_proxy.datastores = {"ds1", "ds2"};
  std::vector<EVGui::VMDataStoreInfo> datastores(3);
  ASSERT_TRUE(DRInfoUtils::GetDatastoresFromDatacenter(m[0], "dc-east", Api::DR_SITE_DESTINATION, datastores));
  ASSERT_EQ(2u, datastores.size()) << "the answer replaces what the vector held";
  EXPECT_EQ("ds2", datastores[1].GetString(EVGui::VMDataStoreInfo::kDatastoreName));
  std::vector<EVGui::VMNetworkInfo> networks;
  EXPECT_FALSE(DRInfoUtils::GetNetworksFromDatacenter(m[0], "dc-east", Api::DR_SITE_SOURCE, networks))
      << "an empty list of the kind asked is no answer";

  ASSERT_EQ(2u, m_proxy.asked.size());
  const Req& dst = m_proxy.asked[0];
  const CNMessageBase& entity = dst.GetMsg(Req::kEntity);
  EXPECT_EQ(9, entity.GetInt64(ZnEntities::AppInstanceEntity::kInstanceId));
  EXPECT_EQ(106, entity.GetInt32(ZnEntities::AppInstanceEntity::kApplicationType));
  EXPECT_EQ(55, entity.GetInt64(ZnEntities::AppInstanceEntity::kClientId));
  EXPECT_EQ(55, dst.GetInt64(Req::kProxyClientId));
  EXPECT_EQ("dc-east", dst.GetString(Req::kDatacenter));
  EXPECT_EQ("|dc-east", dst.GetString(Req::kDatacenterPath));
  EXPECT_EQ(3, dst.GetInt32(Req::kQueryKind));
  EXPECT_TRUE(dst.Has(Req::kFlag2) && dst.Has(Req::kFlag8) && dst.Has(Req::kText9));
  EXPECT_EQ(0, dst.GetInt32(Req::kFlag2));
  EXPECT_EQ(0, dst.GetInt32(Req::kFlag8));
  EXPECT_EQ("", dst.GetString(Req::kText9));
  EXPECT_EQ(8, m_proxy.asked[1].GetMsg(Req::kEntity).GetInt64(ZnEntities::AppInstanceEntity::kInstanceId));
  EXPECT_EQ(6, m_proxy.asked[1].GetInt32(Req::kQueryKind));

  std::vector<Size> sizes;
  m_proxy.noHost = true;
  EXPECT_FALSE(DRInfoUtils::GetVMSizesFromDatacenter(m[0], "dc-east", Api::DR_SITE_DESTINATION, sizes));
  EXPECT_EQ(8, m_proxy.asked.back().GetInt32(Req::kQueryKind));
  m_proxy.fail = true;
  EXPECT_FALSE(DRInfoUtils::GetVMSizesFromDatacenter(m[0], "dc-east", Api::DR_SITE_DESTINATION, sizes));
  EXPECT_TRUE(CLogSink::Instance().Contains("Failed to query GetVirtualMachineDestinations [proxy unreachable]",
                                            "GetVMSizesFromDatacenter"));
  EXPECT_FALSE(DRInfoUtils::GetVMSizesFromDatacenter(nullptr, "dc-east", Api::DR_SITE_DESTINATION, sizes));
}

TEST_F(TestFailoverSelection, TheRegionComesFromTheZoneForVendor4AndFromTheInstanceForTheFamily5) {
  std::vector<CDRInfo*> m = ByVendor({4, 7, 1});
  Policy p = Target("westeurope", "", "");
  p.MutableMsg(Policy::kCloudOptions)
      .AddMsg(Ida::CloudOptions::kAvailabilityZones)
      .SetString(ZnEntities::AvailabilityZoneEntity::kZoneName, "us-east-1a");
  std::string region = "kept";
  DRInfoUtils::GetRegionFromAllocPolicy(m[0], p, region);
  EXPECT_EQ("us-east-1a", region);
  DRInfoUtils::GetRegionFromAllocPolicy(m[1], p, region);
  EXPECT_EQ("westeurope", region);
  region = "kept";
  DRInfoUtils::GetRegionFromAllocPolicy(m[2], p, region);
  EXPECT_EQ("kept", region);
  DRInfoUtils::GetRegionFromAllocPolicy(m[1], Policy(), region);
  EXPECT_EQ("kept", region);
}

// ---- the test-failover size ---------------------------------------------------------

TEST_F(TestFailoverSelection, WithoutAnySizeEachVendorHasItsDefault) {
  std::vector<CDRInfo*> m = ByVendor({5, 7, 17, 4, 4, 1});
  Ida::VirtualMachine own;
  own.MutableMsg(Ida::VirtualMachine::kInstanceType)
      .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, "m5.large");
  DRInfoUtils::GetVSARepInfo(m[3])->SetVMInfo(own);
  const Policy none = Target("westeurope", "", "");
  for (int i = 0; i < 3; ++i) EXPECT_EQ("Standard_B1s", SelectSize(m[i], none));
  EXPECT_EQ("m5.large", SelectSize(m[3], none)) << "the source VM's own instance type";
  EXPECT_EQ("a1.2xlarge", SelectSize(m[4], none));
  EXPECT_EQ("", SelectSize(m[5], none));
  // A target without the original-size list reads no configured size either.
  EXPECT_EQ("Standard_B1s", SelectSize(m[0], Policy()));
  EXPECT_TRUE(m_proxy.asked.empty());
  EXPECT_TRUE(CLogSink::Instance().Contains(
      "Original VM size [Auto_Select], Test failover VM size [Auto_Select] retrieved for clone VM"));
}

TEST_F(TestFailoverSelection, AConfiguredSizeIsReducedToItsNameForTheFamily5AndKeptWholeOtherwise) {
  std::vector<CDRInfo*> m = ByVendor({17, 4, 5});
  EXPECT_EQ("Standard_D2s", SelectSize(m[0], Target("r", "", kD2s)));
  EXPECT_EQ(kD2s, SelectSize(m[1], Target("r", "", kD2s)));
  // A text of three pieces does not parse: the vendor default.
  EXPECT_EQ("Standard_B1s", SelectSize(m[2], Target("r", "", "Standard_D4s (4 cores : 16384 MB : 8 data disks")));
  // The configured entry without its size clears what the caller passed.
  Policy noEntity = Target("r", "", "");
  noEntity.MutableMsg(Policy::kCloudOptions).AddMsg(Ida::CloudOptions::kTestFailoverInstanceTypes);
  EXPECT_EQ("Standard_B1s", SelectSize(m[2], noEntity, "as-passed"));
  EXPECT_TRUE(m_proxy.asked.empty());
}

TEST_F(TestFailoverSelection, WithOnlyTheOriginalSizeTheRegionsSmallestFittingSizeIsChosen) {
  std::vector<CDRInfo*> m = ByVendor({5, 4});
  m_proxy.sizes = {MakeSize("S1", 4, 8192, 3), MakeSize("S2", 2, 4096, 2), MakeSize("S3", 2, 4096, 2),
                   MakeSize("S4", 8, 2048, 8)};
  const char original[] = "Standard_A2 (2 cores : 4096 MB : 1 data disks : x)";
  EXPECT_EQ("S3", SelectSize(m[0], Target("westeurope", original, "")));
  ASSERT_EQ(1u, m_proxy.asked.size());
  EXPECT_EQ("westeurope", m_proxy.asked[0].GetString(Req::kDatacenter));
  EXPECT_EQ(8, m_proxy.asked[0].GetInt32(Req::kQueryKind));

  // An original size that does not parse lets nothing qualify.
  EXPECT_EQ("Standard_B1s", SelectSize(m[0], Target("westeurope", "Standard_A2 (2 cores : 4096 MB", "")));
  // The region's sizes cannot be had: the size stays.
  m_proxy.fail = true;
  EXPECT_EQ("", SelectSize(m[0], Target("westeurope", original, "")));
  // No region in the target: logged, unchanged, nothing asked.
  const size_t asked = m_proxy.asked.size();
  EXPECT_EQ("", SelectSize(m[0], Target("", original, "")));
  EXPECT_EQ(asked, m_proxy.asked.size());
  EXPECT_TRUE(CLogSink::Instance().Contains("Failed to query Availability region from Target/Task. Please check if "
                                            "region in Recovery target is properly configured."));
  // Only the vendor-5 family picks from the region.
  EXPECT_EQ("", SelectSize(m[1], Target("westeurope", original, "")));
}

// ---- the test network ------------------------------------------------------------

TEST_F(TestFailoverSelection, NetworkCases) {
  std::vector<CDRInfo*> m = ByVendor({5});
  auto select = [&](const Policy& p, std::string network = "", std::string subnet = "") {
    DRInfoUtils::SelectTestFailoverNetwork(m[0], p, network, subnet);
    return network + "/" + subnet;
  };
  m_proxy.networks = {{"prod-net", "10.0.0.0/24"}, {"lab-net", "10.9.0.0/24"}};

  // A configured network other than the destination's is taken as it is.
  EXPECT_EQ("test-net/10.1.0.0/24", select(Networks("test-net", "10.1.0.0/24", "prod-net")));
  EXPECT_EQ("test-net/", select(Networks("test-net", "", "prod-net")));
  EXPECT_TRUE(m_proxy.asked.empty());

  // The same as the destination's, or none: the region's networks decide,
  // the destination network passed over.
  EXPECT_EQ("lab-net/10.9.0.0/24", select(Networks("prod-net", "10.1.0.0/24", "prod-net")));
  EXPECT_TRUE(CLogSink::Instance().Contains(
      "Test network [prod-net] and destination network [prod-net] are same. Pick the next one"));
  EXPECT_EQ("prod-net/10.0.0.0/24", select(Networks("", "", "other-net")));
  EXPECT_EQ(2u, m_proxy.asked.size());
  EXPECT_EQ(6, m_proxy.asked[0].GetInt32(Req::kQueryKind));
  EXPECT_EQ("westeurope", m_proxy.asked[0].GetString(Req::kDatacenter));

  // Only the destination network in the region: it stays chosen, logged.
  m_proxy.networks = {{"prod-net", "10.0.0.0/24"}};
  CLogSink::Instance().ClearCapture();
  EXPECT_EQ("prod-net/10.0.0.0/24", select(Networks("prod-net", "", "prod-net")));
  EXPECT_TRUE(CLogSink::Instance().Contains("Failed to pick unique test network "));

  // Nothing to ask, or no answer: what the target configured stays.
  m_proxy.networks.clear();
  EXPECT_EQ("prod-net/10.1.0.0/24", select(Networks("prod-net", "10.1.0.0/24", "prod-net")));
  Policy noRegion = Networks("prod-net", "", "prod-net");
  noRegion.ClearField(Policy::kInstance);
  const size_t asked = m_proxy.asked.size();
  EXPECT_EQ("prod-net/", select(noRegion, "x", "y"));
  EXPECT_EQ(asked, m_proxy.asked.size());
}

}  // namespace
