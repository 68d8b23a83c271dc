// The failback's restore: its options (from the job, or built from an index
// browse of the DR VMs' last backup) and the task request that runs the
// replication task as that restore.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "VSAFailback.h"
#include "VSARepInfo.h"
#include "appmgr/ApplicationId.h"
#include "appmgr/InstanceTypeVirtualServer.h"
#include "drorch/DRJobManager.h"
#include "engine/DRHelper.h"
#include "engine/DRInfo.h"
#include "engine/DRInfoUtils.h"
#include "services/DRAppManager.h"

namespace {

constexpr int kBrowseModeVMs = 4;
constexpr int kBrowseModeFiles = 6;
constexpr int kVirtualServerAppType = 106;
constexpr int kStartTaskOperation = 5;

bool EndsWith(const std::string& text, const char* suffix) {
  const size_t n = strlen(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

// The VM index metadata of a browse entry; null when it carries none.
const IdxMetadata::VirtualServerIdxMetaData* MetadataOf(const CNMessageBase& entry) {
  if (!entry.Has(databrowse::BrowseData::kMetadata)) return nullptr;
  const CNMessageBase& meta = entry.GetMsg(databrowse::BrowseData::kMetadata);
  if (!meta.Has(databrowse::EntryMetadataFields::kIndexMetadata)) return nullptr;
  const CNMessageBase& index = meta.GetMsg(databrowse::EntryMetadataFields::kIndexMetadata);
  if (!index.Has(IdxMetadata::ItemMetadataFields::kVirtualServer)) return nullptr;
  return &index.GetMsgAs<IdxMetadata::VirtualServerIdxMetaData>(IdxMetadata::ItemMetadataFields::kVirtualServer);
}

void AddFilter(CNMessageBase& options, int id, const std::string& value) {
  CNMessageBase& filter = options.AddMsg(TMMsg::TaskOperationOptionFields::kFilters);
  filter.SetInt32(TMMsg::OptionFilter::kFilterId, id);
  filter.SetString(TMMsg::OptionFilter::kValue, value);
}

}  // namespace

bool CVSAFailback::GetVSRstOptions() {
  TMMsg::DROrchestrationOption* option = m_appManager->GetDROrchestrationOption();
  if (option == nullptr || !option->Has(TMMsg::DROrchestrationOption::kRestoreOptions)) {
    m_event.Debug("GetVSRstOptions", "Virtual Server Restore Options not set");
    return true;
  }
  std::string xml;
  if (!DRHelper::GetFormattedXML(option->GetMsg(TMMsg::DROrchestrationOption::kRestoreOptions), xml)) {
    m_event.Error("GetVSRstOptions", "Failed to serialize VirtualServerRestoreOption");
    return false;
  }
  m_failbackRestoreText = xml;
  m_event.Debug("GetVSRstOptions", "Retrieved failback xml [%s]", m_failbackRestoreText.c_str());
  return true;
}

bool CVSAFailback::RestorePowersOn() {
  // The job's own restore options say it; without them the options built
  // from the browse carry the job's power-on option.
  TMMsg::DROrchestrationOption* option = m_appManager->GetDROrchestrationOption();
  if (option == nullptr || !option->Has(TMMsg::DROrchestrationOption::kRestoreOptions)) {
    return m_appManager->IsPowerOnVMAllowed();
  }
  return option->GetMsg(TMMsg::DROrchestrationOption::kRestoreOptions)
             .GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions)
             .GetInt32(TMMsg::DiskLevelVMRestoreOption::kPowerOnVM) == 1;
}

bool CVSAFailback::IsLeftOutOfRestoreOptions(CDRInfo* info) {
  TMMsg::DROrchestrationOption* option = m_appManager->GetDROrchestrationOption();
  IRepInfo* rep = info->GetRepInfo();
  if (option == nullptr || rep == nullptr || !option->Has(TMMsg::DROrchestrationOption::kRestoreOptions)) return false;
  const CNMessageBase& disk = option->GetMsg(TMMsg::DROrchestrationOption::kRestoreOptions)
                                  .GetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions);
  const std::string name = rep->GetSourceName();
  for (size_t i = 0; i < disk.ListSize(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions); ++i) {
    // Field 3 names the restored VM.
    if (disk.GetListMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, i)
            .GetString(TMMsg::VMWAdvancedRestoreOptions::kDatacenter) == name) {
      return false;
    }
  }
  return true;
}

bool CVSAFailback::IsLeftOffOnRequest(CDRInfo* info) {
  if (info == nullptr || !info->HasBegun()) return CVSADRBase::IsLeftOffOnRequest(info);
  return !RestorePowersOn();
}

bool CVSAFailback::LoadSyncTask(TMMsg::TaskOperationReq& request, std::vector<CDRInfo*>& list) {
  // Task groups load their requests at once: a text browsed here is this
  // request's alone.
  std::string restoreText = m_failbackRestoreText;
  if (list.empty()) return false;
  if (restoreText.empty()) {
    m_event.Debug("LoadSyncTask",
                  "VirtualServerRestoreOption restore options not received in DRJob task params. Attempting to "
                  "retrive it from index");
    if (!LoadVirtualRstOptions(list, restoreText)) return false;
  }
  IRepInfo* rep = list.front() != nullptr ? list.front()->GetRepInfo() : nullptr;
  if (rep == nullptr) return false;
  const int taskId = rep->GetTaskId();
  CNMessageBase& subtask = request.AddMsg(TMMsg::TaskOperationReq::kSubtasks);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kTaskId, taskId);
  subtask.SetInt32(ZnEntities::SubtaskEntity::kSubtaskId, rep->GetSubTaskId());
  CNMessageBase& options = request.MutableMsg(TMMsg::TaskOperationReq::kOptions);
  AddFilter(options, TMMsg::OPTION_FILTER_FAILBACK, "true");
  AddFilter(options, TMMsg::OPTION_FILTER_RESTORE_OPTIONS, restoreText);
  AddFilter(options, TMMsg::OPTION_FILTER_RESTORE_REPLICATIONS, DRInfoUtils::GetReplStr(list));
  AddFilter(options, TMMsg::OPTION_FILTER_SOURCE_CLIENT, std::to_string(rep->GetSourceVClientId()));
  request.AddUInt32(TMMsg::TaskOperationReq::kTaskIds, static_cast<uint32_t>(taskId));
  request.SetInt32(TMMsg::TaskOperationReq::kOperation, kStartTaskOperation);
  return true;
}

bool CVSAFailback::LoadVirtualRstOptions(std::vector<CDRInfo*> list, std::string& restoreText) {
  CDRInfo* first = list.empty() ? nullptr : list.front();
  IRepInfo* rep = first != nullptr ? first->GetRepInfo() : nullptr;
  if (rep == nullptr) return false;
  ApplicationId appId(m_jobManager->GetHDID(), rep->getSubclientId());
  InstanceTypeVirtualServer instance(appId.getInstanceId());
  std::string host, user;
  instance.getProperty(ZN_PROP_VIRTUAL_SERVER_HOST, host);
  instance.getProperty(ZN_PROP_VIRTUAL_SERVER_USER, user);

  int toTime = 0;
  databrowse::BrowseRequest request;
  databrowse::BrowseResponseList response;
  m_appManager->PrepareBrowseRequest(request, appId, kBrowseModeVMs, "\\", 0, toTime);
  if (!m_appManager->GetBrowseResponse(request, response)) {
    VSARepInfo* vsa = GetVSARepInfo(first);
    if (vsa != nullptr) {
      int endTime = 0;
      if (!m_appManager->GetLastSuccessfulBackupJobEndTime(vsa->GetSourceVMClientId(), endTime) || endTime < 1) {
        m_event.Error("LoadVirtualRstOptions", "Full Browse failed");
        return false;
      }
      toTime = endTime;
      m_event.Debug("LoadVirtualRstOptions", "Retry query index with toTime [%d]", toTime);
      request = databrowse::BrowseRequest();
      response = databrowse::BrowseResponseList();
      m_appManager->PrepareBrowseRequest(request, appId, kBrowseModeVMs, "\\", 0, toTime);
      if (!m_appManager->GetBrowseResponse(request, response)) {
        m_event.Error("LoadVirtualRstOptions", "Full Browse failed");
        return false;
      }
    }
  }

  CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
  restore.SetInt32(TMMsg::VirtualServerRestoreOptionFields::kFlag3, 1);
  restore.SetString(TMMsg::VirtualServerRestoreOptionFields::kSourceGuid, rep->GetSourceGuid());
  CNMessageBase& entity = restore.MutableMsg(TMMsg::VirtualServerRestoreOptionFields::kInstanceEntity);
  entity.SetInt64(ZnEntities::AppInstanceEntity::kInstanceId, appId.getInstanceId());
  entity.SetInt32(ZnEntities::AppInstanceEntity::kApplicationType, kVirtualServerAppType);
  entity.SetInt64(ZnEntities::AppInstanceEntity::kClientId, rep->GetSourceVClientId());
  CNMessageBase disk(TMMsg::DiskLevelVMRestoreOption::ClassInfo());
  int matched = 0;
  for (size_t r = 0; r < response.ListSize(databrowse::BrowseResponseList::kResponses); ++r) {
    const CNMessageBase& result =
        response.GetListMsg(databrowse::BrowseResponseList::kResponses, r).GetMsg(databrowse::BrowseResponse::kResult);
    for (size_t e = 0; e < result.ListSize(databrowse::BrowseResultFields::kEntries); ++e) {
      databrowse::BrowseData entry(result.GetListMsg(databrowse::BrowseResultFields::kEntries, e));
      CDRInfo* machine = DRInfoUtils::GetDRInfoForBrowseData(entry, list);
      if (machine == nullptr) continue;
      ++matched;
      const IdxMetadata::VirtualServerIdxMetaData* metadata = MetadataOf(entry);
      disk.SetString(TMMsg::DiskLevelVMRestoreOption::kVirtualServerHost, host);
      disk.MutableMsg(TMMsg::DiskLevelVMRestoreOption::kUser).SetString(ZNGui::VirtualServerUserFields::kUserName, user);
      disk.SetString(TMMsg::DiskLevelVMRestoreOption::kEsxHost,
                     metadata != nullptr ? metadata->GetString(IdxMetadata::VirtualServerIdxMetaData::kField1)
                                         : std::string());
      disk.SetInt32(TMMsg::DiskLevelVMRestoreOption::kPowerOnVM, m_appManager->IsPowerOnVMAllowed() ? 1 : 0);
      disk.SetInt32(TMMsg::DiskLevelVMRestoreOption::kFlag10, 0);
      TMMsg::VMWAdvancedRestoreOptions advanced;
      if (!LoadVMRestoreOption(first, machine, entry, appId, toTime, advanced)) return false;
      disk.AppendMsg(TMMsg::DiskLevelVMRestoreOption::kAdvancedRestoreOptions, advanced);
    }
  }
  if (matched == 0) {
    m_event.Error("LoadVirtualRstOptions", "No VMs retrieved from browse. Cannot failback");
    return false;
  }
  restore.SetMsg(TMMsg::VirtualServerRestoreOptionFields::kVMRestoreOptions, disk);
  if (!DRHelper::GetFormattedXML(restore, restoreText)) {
    m_event.Error("LoadVirtualRstOptions", "Failed to serialize VirtualServerRestoreOption");
    return false;
  }
  return true;
}

bool CVSAFailback::LoadVMRestoreOption(CDRInfo* first, CDRInfo* matched, CNMessageBase& entry, ApplicationId& appId,
                                       int toTime, CNMessageBase& advanced) {
  using Meta = IdxMetadata::VirtualServerIdxMetaData;
  using Advanced = TMMsg::VMWAdvancedRestoreOptions;
  static const IdxMetadata::VirtualServerIdxMetaData kNoMetadata;
  const IdxMetadata::VirtualServerIdxMetaData* found = MetadataOf(entry);
  IdxMetadata::VirtualServerIdxMetaData metadata(found != nullptr ? *found : kNoMetadata);
  IRepInfo* rep = matched->GetRepInfo();
  const std::string sourceName = rep != nullptr ? rep->GetSourceName() : std::string();
  const std::string datastore = DRInfoUtils::GetDatastoreFromIndex(first, &metadata);
  advanced.SetString(Advanced::kVMGuid, entry.GetString(databrowse::BrowseData::kName));
  advanced.SetString(Advanced::kVMName, sourceName);
  // Field 3 names the restored VM.
  advanced.SetString(Advanced::kDatacenter, sourceName);
  advanced.SetString(Advanced::kEsxHost, metadata.GetString(Meta::kField1));
  advanced.SetString(Advanced::kDatastore, datastore);
  advanced.SetString(Advanced::kField10, metadata.GetString(Meta::kField3));
  advanced.SetString(Advanced::kField12, metadata.GetString(Meta::kField4));
  advanced.SetString(Advanced::kCluster, metadata.GetString(Meta::kDatacenter));
  advanced.SetString(Advanced::kNewVMName, metadata.GetString(Meta::kField17));
  advanced.SetInt32(Advanced::kRestoreAsManagedVM, DRInfoUtils::GetRestoreAsManagedVM(first, &metadata) ? 1 : 0);
  if (sourceName.empty()) {
    m_event.Error("LoadVirtualRstOptions", "Coudn't retrieve VM name for failback restore");
    return false;
  }
  if (datastore.empty() && metadata.GetString(Meta::kField1).empty()) return true;

  databrowse::BrowseRequest request;
  databrowse::BrowseResponseList files;
  m_appManager->PrepareBrowseRequest(request, appId, kBrowseModeFiles, entry.GetString(databrowse::BrowseData::kPath),
                                     0, toTime);
  if (!m_appManager->GetBrowseResponse(request, files)) {
    m_event.Error("LoadVirtualRstOptions", "Browse VM files failed");
    return false;
  }
  advanced.TouchField(Advanced::kDisks);
  for (size_t r = 0; r < files.ListSize(databrowse::BrowseResponseList::kResponses); ++r) {
    const CNMessageBase& result =
        files.GetListMsg(databrowse::BrowseResponseList::kResponses, r).GetMsg(databrowse::BrowseResponse::kResult);
    for (size_t e = 0; e < result.ListSize(databrowse::BrowseResultFields::kEntries); ++e) {
      const CNMessageBase& file = result.GetListMsg(databrowse::BrowseResultFields::kEntries, e);
      const std::string& name = file.GetString(databrowse::BrowseData::kName);
      if (!EndsWith(name, ".vmdk")) continue;
      const Meta* fileMeta = MetadataOf(file);
      CNMessageBase& diskOption = advanced.AddMsg(Advanced::kDisks);
      diskOption.SetString(TMMsg::VMWAdvancedRestoreOptionsDisk::kDiskName, name);
      diskOption.SetString(TMMsg::VMWAdvancedRestoreOptionsDisk::kDatastore,
                           fileMeta != nullptr ? fileMeta->GetString(Meta::kDatastore) : std::string());
    }
  }
  const std::string& networksText = metadata.GetString(Meta::kNetworks);
  if (networksText.empty()) return true;
  IdxMetadata::VMNetworks networks;
  if (!networks.Unserialize(networksText)) {
    m_event.Debug("LoadVirtualRstOptions", "Failed to unserialize the Message [%s] to IdxMetadata::VMNetworks object",
                  networksText.c_str());
    return false;
  }
  advanced.TouchField(Advanced::kNics);
  for (size_t n = 0; n < networks.ListSize(IdxMetadata::VMNetworks::kNetworks); ++n) {
    const CNMessageBase& network = networks.GetListMsg(IdxMetadata::VMNetworks::kNetworks, n);
    using Nic = TMMsg::VMWAdvancedRestoreOptionsNic;
    using Net = IdxMetadata::VMNetwork;
    CNMessageBase& nic = advanced.AddMsg(Advanced::kNics);
    const std::string& name = network.GetString(Net::kField3);
    nic.SetString(Nic::kField2, name);
    nic.SetString(Nic::kField4, name);
    nic.SetString(Nic::kField5, name);
    nic.SetString(Nic::kField6, name);
    nic.SetString(Nic::kField3, network.GetString(Net::kField4));
    nic.SetString(Nic::kField1, network.GetString(Net::kField1));
    nic.SetString(Nic::kField7, network.GetString(Net::kField5));
    if (network.Has(Net::kField13) && network.GetInt32(Net::kField13) != 0) advanced.SetInt32(Advanced::kNicFlag26, 1);
  }
  return true;
}
