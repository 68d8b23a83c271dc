#include "appmgr/VmAllocationPolicyStore.h"

#include "appmgr/AppTableSql.h"
#include "db/DBConnection.h"
#include "msg/MsgClasses.h"
#include "time/PlatformClock.h"

namespace {

const SDBColumnBind kColumns[] = {
    {"id", "i", 0}, {"name", "s513", 0}, {"vDataCenterId", "i", 0}, {"description", "s", 0}, {"vxml", "s", 0},
    {"ownerId", "i", 0}, {"created", "x", 0}, {"modified", "x", 0}, {"alive", "i", 0}, {"flags", "i", 0},
};

}  // namespace

void CVmAllocationPolicyStore::DescribeTables() {
  CDBConnection::RegisterTable(kTable, kColumns, "id");
}

bool CVmAllocationPolicyStore::AddPolicy(int id, const std::string& name, const std::string& policyXml) {
  CDBConnection* c = AppTableReady("AddPolicy", kTable);
  if (c == nullptr) return false;
  CDBStatement add(c, "AddPolicy",
                   "INSERT INTO App_VmAllocationPolicy (id, name, vDataCenterId, description, vxml, ownerId, created, "
                   "modified, alive, flags) VALUES (?, ?, 0, '', ?, 0, ?, ?, 1, 0)");
  const long long now = CPlatformClock::Instance().NowEpochSeconds();
  add.Bind(id).Bind(name).Bind(policyXml).Bind(now).Bind(now);
  return add.Run() == EStoreResult::kOk;
}

bool CVmAllocationPolicyStore::AddRecoveryTarget(int id, const std::string& name, const SRecoveryTarget& target) {
  Ida::VMAllocationPolicy policy;
  policy.MutableMsg(Ida::VMAllocationPolicy::kInstance).SetString(ZnEntities::PolicyInstanceFields::kRegion, target.region);
  policy.SetInt32(Ida::VMAllocationPolicy::kTestVMHours, target.testVMHours);
  CNMessageBase& cloud = policy.MutableMsg(Ida::VMAllocationPolicy::kCloudOptions);
  cloud.AddMsg(Ida::CloudOptions::kOriginalInstanceTypes)
      .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, target.vmSize);
  cloud.AddMsg(Ida::CloudOptions::kTestFailoverInstanceTypes)
      .MutableMsg(Ida::InstanceTypeDetails::kInstanceType)
      .SetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName, target.testVMSize);
  CNMessageBase& card = policy.AddMsg(Ida::VMAllocationPolicy::kTestNetworkCards);
  card.SetString(Ida::NetworkCard::kNetworkName, target.testNetwork);
  card.AddMsg(Ida::NetworkCard::kSubnets).SetString(Ida::SubnetInfo::kSubnet, target.testSubnet);
  policy.AddMsg(Ida::VMAllocationPolicy::kDestinationNics)
      .SetString(Ida::VMWAdvancedRestoreOptionsNic::kDestinationNetwork, target.destinationNetwork);
  std::string xml;
  return policy.serializeUTF8(xml) && AddPolicy(id, name, xml);
}

bool CVmAllocationPolicyStore::CreateTables() { return AppTableReady("CreateTables", kTable) != nullptr; }
