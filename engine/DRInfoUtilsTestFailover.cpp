// Datacenter queries to the destination's proxy, and the choice of a test
// failover clone's VM size and network from the recovery target.
#include <ctype.h>
#include <stdint.h>

#include "DRInfo.h"
#include "DRInfoUtils.h"
#include "FXString.h"
#include "IRepInfo.h"
#include "log/EvEvent.h"
#include "services/DRAppManager.h"
#include "vsa/VSARepInfo.h"

namespace {

using Size = EVGui::VMSizeInfo;
using Policy = Ida::VMAllocationPolicy;

const int kVirtualServerAppType = 106;
const int kQueryDatastores = 3;
const int kQueryNetworks = 6;
const int kQuerySizes = 8;
const char kDefaultCloudSize[] = "Standard_B1s";
const char kDefaultInstanceType[] = "a1.2xlarge";
const char kNoRegion[] =
    "Failed to query Availability region from Target/Task. Please check if region in Recovery target is properly "
    "configured.";

bool IsFamily5(int32_t vendor) { return DRInfoUtils::IsVendorOfFamily(vendor, Common::VS_VENDOR_5); }

// One kind of list the destination's proxy offers for a data center: the
// first host's list replaces out.
template <class T>
bool QueryDestinations(CDRInfo* info, const std::string& datacenter, Api::DRSite site, int kind,
                       const SMsgField& list, const char* label, std::vector<T>& out) {
  VSARepInfo* vsa = DRInfoUtils::GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  using Req = EVGui::GetVirtualMachineDestinationsReq;
  Req req;
  CNMessageBase& entity = req.MutableMsg(Req::kEntity);
  entity.SetInt64(ZnEntities::AppInstanceEntity::kInstanceId,
                  site != Api::DR_SITE_SOURCE ? vsa->GetDestInstanceId() : vsa->GetSrcInstanceId());
  entity.SetInt32(ZnEntities::AppInstanceEntity::kApplicationType, kVirtualServerAppType);
  entity.SetInt64(ZnEntities::AppInstanceEntity::kClientId, vsa->GetDestProxyId());
  req.SetInt32(Req::kFlag2, 0);
  req.SetInt64(Req::kProxyClientId, vsa->GetDestProxyId());
  req.SetString(Req::kDatacenter, datacenter);
  req.SetInt32(Req::kQueryKind, kind);
  req.SetString(Req::kDatacenterPath, "|" + datacenter);
  req.SetInt32(Req::kFlag8, 0);
  req.SetString(Req::kText9, "");

  CDRAppManager* appMgr = info->GetAppMgrPtr();
  if (appMgr == nullptr) return false;
  EVGui::VirtualMachineDestination resp;
  std::string xml, error;
  if (!appMgr->GetTaskResponse(req, resp, Req::kTypeId, xml, error, ZN_OP_NONE)) {
    EvEvent event;
    event.Error(label, "Failed to query GetVirtualMachineDestinations [%s]", error.c_str());
    return false;
  }
  if (resp.ListSize(EVGui::VirtualMachineDestination::kHosts) == 0) return false;
  const CNMessageBase& host = resp.GetListMsg(EVGui::VirtualMachineDestination::kHosts, 0);
  const size_t n = host.ListSize(list);
  if (n == 0) return false;
  out.clear();
  for (size_t i = 0; i < n; ++i) out.emplace_back(host.GetListMsg(list, i));
  return true;
}

// atoi's defined results: leading blanks, a sign, the digits up to the first
// other character, 0 without digits. A number beyond 32 bits has no defined
// result and is refused.
bool ParseInt32(const std::string& text, int32_t& value) {
  size_t i = 0;
  while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && isdigit(static_cast<unsigned char>(text[i])); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  const int64_t result = negative ? -magnitude : magnitude;
  if (result > INT32_MAX) return false;
  value = static_cast<int32_t>(result);
  return true;
}

// The second word of a piece, as a number.
bool SecondWord(const std::string& piece, int32_t& value) {
  const std::vector<std::string> words = FXString::Split(piece, " ");
  return words.size() >= 2 && ParseInt32(words[1], value);
}

// A size's dimension as the comparison sees it: its low 32 bits, signed.
int32_t Dim(const CNMessageBase& size, const SMsgField& field) { return static_cast<int32_t>(size.GetInt64(field)); }

bool HasDims(const CNMessageBase& size) {
  return size.Has(Size::kDiskCount) && size.Has(Size::kCpuCount) && size.Has(Size::kMemoryMB);
}

// A network's first subnet; empty without one.
std::string FirstSubnet(const CNMessageBase& network, const SMsgField& subnets, const SMsgField& subnet) {
  return network.ListSize(subnets) > 0 ? network.GetListMsg(subnets, 0).GetString(subnet) : std::string();
}

}  // namespace

bool DRInfoUtils::GetDatastoresFromDatacenter(CDRInfo* info, const std::string& datacenter, Api::DRSite site,
                                              std::vector<EVGui::VMDataStoreInfo>& out) {
  return QueryDestinations(info, datacenter, site, kQueryDatastores, EVGui::VMHostInfo::kDatastores,
                           "GetDatastoresFromDatacenter", out);
}

bool DRInfoUtils::GetNetworksFromDatacenter(CDRInfo* info, const std::string& datacenter, Api::DRSite site,
                                            std::vector<EVGui::VMNetworkInfo>& out) {
  return QueryDestinations(info, datacenter, site, kQueryNetworks, EVGui::VMHostInfo::kNetworks,
                           "GetNetworksFromDatacenter", out);
}

bool DRInfoUtils::GetVMSizesFromDatacenter(CDRInfo* info, const std::string& datacenter, Api::DRSite site,
                                           std::vector<EVGui::VMSizeInfo>& out) {
  return QueryDestinations(info, datacenter, site, kQuerySizes, EVGui::VMHostInfo::kVMSizes,
                           "GetVMSizesFromDatacenter", out);
}

bool DRInfoUtils::IsProxySelectionAutomaticSetInAllocPolicy(CDRInfo* info) {
  IRepInfo* rep = info != nullptr ? info->GetRepInfo() : nullptr;
  CDRAppManager* appMgr = info != nullptr ? info->GetAppMgrPtr() : nullptr;
  if (rep == nullptr || appMgr == nullptr) return false;
  EvEvent event;
  Policy policy;
  if (!appMgr->QueryVMAllocationPolicyFromTask(rep->GetTaskId(), policy)) {
    event.Error("IsProxySelectionAutomaticSetInAllocPolicy", "Failed to fetch VMAllocation policy from task [%ld]",
                static_cast<long>(rep->GetTaskId()));
    return false;
  }
  if (!policy.Has(Policy::kInstance) || !policy.Has(Policy::kProxyClient)) return false;
  const CNMessageBase& proxy = policy.GetMsg(Policy::kProxyClient);
  const int64_t proxyId = proxy.GetInt64(ZnEntities::ClientEntity::kClientId);
  event.Debug("IsProxySelectionAutomaticSetInAllocPolicy", "Proxy client [%lld][%s] set in recovery target.",
              static_cast<long long>(proxyId), proxy.GetString(ZnEntities::ClientEntity::kClientName).c_str());
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return false;
  // The instance's own client, or none, leaves the choice to the instance.
  return proxyId == vsa->GetDestInstanceClientId() || proxyId == 0;
}

void DRInfoUtils::GetRegionFromAllocPolicy(CDRInfo* info, const Ida::VMAllocationPolicy& policy, std::string& region) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return;
  const int32_t dest = vsa->GetDestinationVendor();
  if (dest == Common::VS_VENDOR_4) {
    const CNMessageBase& cloud = policy.GetMsg(Policy::kCloudOptions);
    if (policy.Has(Policy::kCloudOptions) && cloud.ListSize(Ida::CloudOptions::kAvailabilityZones) > 0) {
      region = cloud.GetListMsg(Ida::CloudOptions::kAvailabilityZones, 0)
                   .GetString(ZnEntities::AvailabilityZoneEntity::kZoneName);
    }
  } else if (IsFamily5(dest)) {
    const CNMessageBase& instance = policy.GetMsg(Policy::kInstance);
    if (policy.Has(Policy::kInstance) && instance.Has(ZnEntities::PolicyInstanceFields::kRegion)) {
      region = instance.GetString(ZnEntities::PolicyInstanceFields::kRegion);
    }
  }
}

void DRInfoUtils::SelectTestFailoverVMSize(CDRInfo* info, const Ida::VMAllocationPolicy& policy, std::string& size) {
  std::string original;
  const CNMessageBase& cloud = policy.GetMsg(Policy::kCloudOptions);
  if (policy.Has(Policy::kCloudOptions) && cloud.Has(Ida::CloudOptions::kOriginalInstanceTypes)) {
    if (cloud.ListSize(Ida::CloudOptions::kOriginalInstanceTypes) > 0) {
      original = cloud.GetListMsg(Ida::CloudOptions::kOriginalInstanceTypes, 0)
                     .GetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName);
    }
    if (cloud.ListSize(Ida::CloudOptions::kTestFailoverInstanceTypes) > 0) {
      const CNMessageBase& configured = cloud.GetListMsg(Ida::CloudOptions::kTestFailoverInstanceTypes, 0);
      size = configured.Has(Ida::InstanceTypeDetails::kInstanceType)
                 ? configured.GetMsg(Ida::InstanceTypeDetails::kInstanceType)
                       .GetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName)
                 : std::string();
    }
  }
  EvEvent event;
  event.Debug("SelectTestFailoverVMSize",
              "Original VM size [%s], Test failover VM size [%s] retrieved for clone VM",
              original.empty() ? "Auto_Select" : original.c_str(), size.empty() ? "Auto_Select" : size.c_str());
  if (!size.empty()) {
    ParseTestFailoverVMSize(info, size, size);
  } else if (original.empty()) {
    GenerateDefaultTestFailoverVMSize(info, size);
  } else {
    SelectBestAvailableTestFailoverVMSize(info, policy, original, size);
  }
}

void DRInfoUtils::ParseTestFailoverVMSize(CDRInfo* info, const std::string& text, std::string& name) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || text.empty() || !IsFamily5(vsa->GetDestinationVendor())) return;
  Size parsed;
  GetVMSizeInfoFromVMSizeName(text, parsed);
  // text may be name itself: it is not read after this point.
  name = parsed.Has(Size::kSizeName) ? parsed.GetString(Size::kSizeName) : std::string(kDefaultCloudSize);
}

void DRInfoUtils::GenerateDefaultTestFailoverVMSize(CDRInfo* info, std::string& size) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr) return;
  const int32_t dest = vsa->GetDestinationVendor();
  if (dest == Common::VS_VENDOR_4) {
    // The source VM's own instance type, when it has one.
    const Ida::VirtualMachine vm = vsa->GetVMInfo();
    const CNMessageBase& type = vm.GetMsg(Ida::VirtualMachine::kInstanceType);
    const std::string& own = type.GetString(ZnEntities::AmazonVMInstanceTypeEntity::kInstanceTypeName);
    size = vm.Has(Ida::VirtualMachine::kInstanceType) && !own.empty() ? own : std::string(kDefaultInstanceType);
  } else if (IsFamily5(dest)) {
    size = kDefaultCloudSize;
  }
}

void DRInfoUtils::SelectBestAvailableTestFailoverVMSize(CDRInfo* info, const Ida::VMAllocationPolicy& policy,
                                                        const std::string& original, std::string& size) {
  VSARepInfo* vsa = GetVSARepInfo(info);
  if (vsa == nullptr || !IsFamily5(vsa->GetDestinationVendor())) return;
  std::string region;
  GetRegionFromAllocPolicy(info, policy, region);
  if (region.empty()) {
    EvEvent event;
    event.Error("SelectBestAvailableTestFailoverVMSize", "%s", kNoRegion);
    return;
  }
  std::vector<Size> sizes;
  if (!GetVMSizesFromDatacenter(info, region, Api::DR_SITE_DESTINATION, sizes) || sizes.empty()) return;
  Size required, best;
  GetVMSizeInfoFromVMSizeName(original, required);
  GetBestAvailableVMSize(sizes, required, best);
  size = best.Has(Size::kSizeName) ? best.GetString(Size::kSizeName) : std::string(kDefaultCloudSize);
}

void DRInfoUtils::GetBestAvailableVMSize(const std::vector<EVGui::VMSizeInfo>& sizes, EVGui::VMSizeInfo& required,
                                         EVGui::VMSizeInfo& best) {
  if (!HasDims(required)) return;
  int32_t bestDisks = INT32_MAX, bestCpus = INT32_MAX, bestMemory = INT32_MAX;
  EvEvent event;
  for (const Size& entry : sizes) {
    if (!HasDims(entry)) continue;
    const int32_t disks = Dim(entry, Size::kDiskCount);
    const int32_t cpus = Dim(entry, Size::kCpuCount);
    const int32_t memory = Dim(entry, Size::kMemoryMB);
    if (disks < Dim(required, Size::kDiskCount) || cpus < Dim(required, Size::kCpuCount) ||
        memory < Dim(required, Size::kMemoryMB)) {
      continue;
    }
    // Equal candidates: the later one wins.
    if (disks > bestDisks || cpus > bestCpus || memory > bestMemory) continue;
    event.Debug("GetBestAvailableVMSize",
                "Candidate VM Size for auto selection : [%s], Num Disks [%d], Num CPUs [%d], MemoryInMB [%d]",
                entry.GetString(Size::kSizeName).c_str(), disks, cpus, memory);
    bestDisks = disks;
    bestCpus = cpus;
    bestMemory = memory;
    best = entry;
  }
}

void DRInfoUtils::GetVMSizeInfoFromVMSizeName(const std::string& text, EVGui::VMSizeInfo& info) {
  const std::vector<std::string> pieces = FXString::Split(text, ":");
  if (pieces.size() <= 3) return;
  int32_t value = 0;
  const std::vector<std::string> words = FXString::Split(pieces[0], " ");
  if (words.size() >= 2) {
    info.SetString(Size::kSizeName, words[0]);
    const std::vector<std::string> cpus = FXString::Split(words[1], " ");
    // The CPU count follows the opening parenthesis; an empty word has none.
    if (!cpus.empty() && !cpus[0].empty() && ParseInt32(cpus[0].substr(1), value)) info.SetInt64(Size::kCpuCount, value);
  }
  if (SecondWord(pieces[1], value)) info.SetInt64(Size::kMemoryMB, value);
  // The data disks and the system disk.
  if (SecondWord(pieces[2], value) && value < INT32_MAX) info.SetInt64(Size::kDiskCount, value + 1);
}

void DRInfoUtils::SelectTestFailoverNetwork(CDRInfo* info, const Ida::VMAllocationPolicy& policy, std::string& network,
                                            std::string& subnet) {
  EvEvent event;
  if (policy.ListSize(Policy::kTestNetworkCards) > 0) {
    const CNMessageBase& card = policy.GetListMsg(Policy::kTestNetworkCards, 0);
    network = card.GetString(Ida::NetworkCard::kNetworkName);
    subnet = FirstSubnet(card, Ida::NetworkCard::kSubnets, Ida::SubnetInfo::kSubnet);
  }
  const std::string destination =
      policy.ListSize(Policy::kDestinationNics) > 0
          ? policy.GetListMsg(Policy::kDestinationNics, 0).GetString(Ida::VMWAdvancedRestoreOptionsNic::kDestinationNetwork)
          : std::string();
  IRepInfo* rep = info != nullptr ? info->GetRepInfo() : nullptr;
  event.Debug("SelectTestFailoverNetwork",
              "Test network [%s], destination network [%s], subnet [%s] retrieved from target [%ld] for clone VM",
              network.c_str(), destination.c_str(), subnet.c_str(), rep != nullptr ? rep->GetTargetId() : 0L);
  if (!network.empty() && network != destination) return;

  std::string region;
  GetRegionFromAllocPolicy(info, policy, region);
  if (region.empty()) {
    event.Error("SelectTestFailoverNetwork", "%s", kNoRegion);
    return;
  }
  std::vector<EVGui::VMNetworkInfo> networks;
  if (!GetNetworksFromDatacenter(info, region, Api::DR_SITE_DESTINATION, networks) || networks.empty()) return;
  auto take = [&](const EVGui::VMNetworkInfo& n) {
    network = n.GetString(EVGui::VMNetworkInfo::kNetworkName);
    subnet = FirstSubnet(n, EVGui::VMNetworkInfo::kSubnets, EVGui::SubnetInfo::kSubnet);
  };
  take(networks[0]);
  if (network == destination) {
    event.Debug("SelectTestFailoverNetwork", "Test network [%s] and destination network [%s] are same. Pick the next one",
                network.c_str(), destination.c_str());
    if (networks.size() < 2) {
      // The only network is kept: a clone on the destination network beats none.
      event.Error("SelectTestFailoverNetwork", "Failed to pick unique test network ");
      return;
    }
    take(networks[1]);
  }
  event.Debug("SelectTestFailoverNetwork", "Test network [%s] subnet [%s] selected at site [DESTINATION] datacenter [%s]",
              network.c_str(), subnet.c_str(), region.c_str());
}
