#include "DrJobRunOptions.h"

#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "jobs/LabStore.h"
#include "msg/MsgClasses.h"

namespace {

bool ReadFile(const std::string& path, std::string& text) {
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return false;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) text.append(buffer, n);
  fclose(f);
  return true;
}

// The replication ids of a DR group, priority by priority.
bool GroupReplications(int groupId, std::vector<int32_t>& ids) {
  std::string xml;
  Api::VirtualApp app;
  if (!CLabStore::GetDRGroup(groupId, xml) || !app.Unserialize(xml)) return false;
  const CNMessageBase& config = app.GetMsg(Api::VirtualApp::kConfig);
  for (size_t p = 0; p < config.ListSize(TMMsg::DRGroupConfigFields::kPriorities); ++p) {
    const CNMessageBase& group = config.GetListMsg(TMMsg::DRGroupConfigFields::kPriorities, p);
    for (size_t v = 0; v < group.ListSize(TMMsg::VMGroup::kVMSequence); ++v) {
      const CNMessageBase& entry = group.GetListMsg(TMMsg::VMGroup::kVMSequence, v);
      ids.push_back(entry.GetInt32(TMMsg::VMDependencyOrder::kReplicationId));
    }
  }
  return !ids.empty();
}

}  // namespace

bool CDrJobRunOptions::Apply(const SRunDROptions& options, int groupId, std::string& optionsXml, std::string& error) {
  TMMsg::JobOption job;
  if (!job.Unserialize(optionsXml, &error)) return false;
  CNMessageBase& dr = job.MutableMsg(TMMsg::JobOption::kBackupOptions)
                          .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  if (!options.pointsInTime.empty()) {
    std::vector<int32_t> ids;
    if (!GroupReplications(groupId, ids)) {
      error = "DR group [" + std::to_string(groupId) + "] has no replications to give points in time";
      return false;
    }
    CNMessageBase& info = dr.MutableMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
    info.SetInt32List(TMMsg::DRReplicationInfoFields::kReplicationIds, ids);
    for (const auto& point : options.pointsInTime) {
      CNMessageBase& option = info.AddMsg(TMMsg::DRReplicationInfoFields::kConfigOptions);
      option.SetInt32(TMMsg::DRConfigOption::kReplicationId, point.first);
      option.SetUInt64(TMMsg::DRConfigOption::kPointInTime, point.second);
    }
  }
  const bool advanced = options.testbootWaitMinutes >= 0 || options.keepNetworkAdapters || options.noPowerOn;
  if (advanced) {
    CNMessageBase& adv = dr.MutableMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
    if (options.testbootWaitMinutes >= 0) {
      const int64_t minutes = options.testbootWaitMinutes > INT32_MAX ? INT32_MAX : options.testbootWaitMinutes;
      adv.SetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime, static_cast<int32_t>(minutes));
    }
    if (options.keepNetworkAdapters) adv.SetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter, 1);
    if (options.noPowerOn) adv.SetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM, 0);
  }
  if (!options.restoreOptionsFile.empty()) {
    std::string text;
    CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
    if (!ReadFile(options.restoreOptionsFile, text)) {
      error = "cannot read the restore options [" + options.restoreOptionsFile + "]";
      return false;
    }
    std::string why;
    if (!restore.Unserialize(text, &why)) {
      error = "the restore options [" + options.restoreOptionsFile + "] do not parse: " + why;
      return false;
    }
    dr.SetMsg(TMMsg::DROrchestrationOption::kRestoreOptions, restore);
  }
  return job.serializeUTF8(optionsXml);
}
