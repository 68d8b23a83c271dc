#include "DrJobRunOptions.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "DrJobLab.h"
#include "msg/MsgClasses.h"
#include "msg/MsgXmlStyle.h"

namespace {

// A file the user names is read only when it is a regular file, and no
// more of it than the longest message text plus one byte: a device such as
// /dev/zero would otherwise be read until memory ran out, and a FIFO would
// hold the open (hence O_NONBLOCK, and nothing read before fstat says what
// was opened).
bool ReadRestoreFile(const std::string& path, std::string& text, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = "cannot read the restore options [" + path + "]: " + strerror(errno);
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    error = "cannot read the restore options [" + path + "]: " + strerror(errno);
    close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "the restore options [" + path + "] are " + (S_ISDIR(st.st_mode) ? "a folder" : "not a regular file") +
            ": only a file of restore options is read";
    close(fd);
    return false;
  }
  const size_t limit = kMsgXmlMaxInputBytes;
  char buffer[65536];
  for (;;) {
    const size_t want = std::min(sizeof(buffer), limit + 1 - text.size());
    const ssize_t n = read(fd, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read the restore options [" + path + "]: " + strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > limit) {
      error = "the restore options [" + path + "] are longer than the [" + std::to_string(limit) +
              "] bytes a message may take";
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}

// The restore options a file holds, as a message of their class.
bool ReadRestoreOptions(const std::string& path, CNMessageBase& restore, std::string& error) {
  std::string text;
  if (!ReadRestoreFile(path, text, error)) return false;
  std::string why;
  if (!restore.Unserialize(text, &why)) {
    error = "the restore options [" + path + "] do not parse: " + why;
    return false;
  }
  return true;
}

// Points in time by replication; the order given is kept within one
// replication, where it decides which one the system takes.
std::vector<std::pair<int, uint64_t>> ByReplication(std::vector<std::pair<int, uint64_t>> points) {
  std::stable_sort(points.begin(), points.end(),
                   [](const std::pair<int, uint64_t>& a, const std::pair<int, uint64_t>& b) { return a.first < b.first; });
  return points;
}

std::string PointsText(const std::vector<std::pair<int, uint64_t>>& points) {
  if (points.empty()) return "no --point-in-time";
  std::string text;
  for (const auto& point : points) {
    if (!text.empty()) text += " ";
    text += "--point-in-time " + std::to_string(point.first) + "=" + std::to_string(point.second);
  }
  return text;
}

std::string FlagText(const char* flag, bool set) { return set ? std::string(flag) : std::string("no ") + flag; }

}  // namespace

bool CDrJobRunOptions::Apply(const SRunDROptions& options, int groupId, std::string& optionsXml, std::string& error) {
  TMMsg::JobOption job;
  if (!job.Unserialize(optionsXml, &error)) return false;
  CNMessageBase& dr = job.MutableMsg(TMMsg::JobOption::kBackupOptions)
                          .MutableMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  if (!options.pointsInTime.empty()) {
    const std::vector<int32_t> ids = CDrJobLab::GroupReplications(groupId);
    if (ids.empty()) {
      error = "DR group [" + std::to_string(groupId) + "] has no replications to give points in time";
      return false;
    }
    // The job reads a point in time only for a replication of its group:
    // another would be kept and never used.
    for (const auto& point : options.pointsInTime) {
      if (std::find(ids.begin(), ids.end(), point.first) != ids.end()) continue;
      std::string held;
      for (int32_t id : ids) held += (held.empty() ? "" : ", ") + std::to_string(id);
      error = "--point-in-time names replication [" + std::to_string(point.first) + "], which DR group [" +
              CDrJobLab::StoredGroupName(groupId) + "] does not hold; its replications are " + held;
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
      // At most CDrJobArgs::kMaxTestbootWaitMinutes, which the parser holds to.
      adv.SetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime, static_cast<int32_t>(options.testbootWaitMinutes));
    }
    if (options.keepNetworkAdapters) adv.SetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter, 1);
    if (options.noPowerOn) adv.SetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM, 0);
  }
  if (!options.restoreOptionsFile.empty()) {
    CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
    if (!ReadRestoreOptions(options.restoreOptionsFile, restore, error)) return false;
    dr.SetMsg(TMMsg::DROrchestrationOption::kRestoreOptions, restore);
  }
  return job.serializeUTF8(optionsXml);
}

bool CDrJobRunOptions::Read(const std::string& optionsXml, SRecordedRun& recorded) {
  recorded = SRecordedRun();
  TMMsg::JobOption job;
  if (!job.Unserialize(optionsXml) || !job.Has(TMMsg::JobOption::kBackupOptions)) return false;
  const CNMessageBase& backup = job.GetMsg(TMMsg::JobOption::kBackupOptions);
  if (!backup.Has(TMMsg::BackupOptionFields::kDROrchestrationOption)) return false;
  const CNMessageBase& dr = backup.GetMsg(TMMsg::BackupOptionFields::kDROrchestrationOption);
  if (dr.Has(TMMsg::DROrchestrationOption::kOrchestrationType)) {
    TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;
    if (CDrJobArgs::ParseType(std::to_string(dr.GetInt32(TMMsg::DROrchestrationOption::kOrchestrationType)), type)) {
      recorded.type = type;
    }
  }
  if (dr.Has(TMMsg::DROrchestrationOption::kVirtualAppEntity)) {
    const CNMessageBase& entity = dr.GetMsg(TMMsg::DROrchestrationOption::kVirtualAppEntity);
    if (entity.Has(ZnEntities::VirtualAppEntity::kVirtualAppId)) {
      recorded.groupId = entity.GetInt32(ZnEntities::VirtualAppEntity::kVirtualAppId);
    }
  }
  if (dr.Has(TMMsg::DROrchestrationOption::kReplicationInfo)) {
    const CNMessageBase& info = dr.GetMsg(TMMsg::DROrchestrationOption::kReplicationInfo);
    for (size_t i = 0; i < info.ListSize(TMMsg::DRReplicationInfoFields::kReplicationIds); ++i) {
      recorded.replicationIds.push_back(info.GetListInt32(TMMsg::DRReplicationInfoFields::kReplicationIds, i));
    }
    for (size_t i = 0; i < info.ListSize(TMMsg::DRReplicationInfoFields::kConfigOptions); ++i) {
      const CNMessageBase& option = info.GetListMsg(TMMsg::DRReplicationInfoFields::kConfigOptions, i);
      recorded.options.pointsInTime.emplace_back(option.GetInt32(TMMsg::DRConfigOption::kReplicationId),
                                                 option.GetUInt64(TMMsg::DRConfigOption::kPointInTime));
    }
  }
  if (dr.Has(TMMsg::DROrchestrationOption::kAdvancedOptions)) {
    const CNMessageBase& adv = dr.GetMsg(TMMsg::DROrchestrationOption::kAdvancedOptions);
    if (adv.Has(TMMsg::DRAdvancedOptionFields::kDelayTime)) {
      recorded.options.testbootWaitMinutes = adv.GetInt32(TMMsg::DRAdvancedOptionFields::kDelayTime);
    }
    recorded.options.keepNetworkAdapters = adv.Has(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter) &&
                                           adv.GetInt32(TMMsg::DRAdvancedOptionFields::kDisableNetworkAdapter) == 1;
    recorded.options.noPowerOn = adv.Has(TMMsg::DRAdvancedOptionFields::kPowerOnVM) &&
                                 adv.GetInt32(TMMsg::DRAdvancedOptionFields::kPowerOnVM) == 0;
  }
  if (dr.Has(TMMsg::DROrchestrationOption::kRestoreOptions)) {
    dr.GetMsg(TMMsg::DROrchestrationOption::kRestoreOptions).serializeUTF8(recorded.restoreOptionsXml);
  }
  recorded.deleteFromHypervisor = dr.Has(TMMsg::DROrchestrationOption::kDeleteFromHypervisor) &&
                                  dr.GetInt32(TMMsg::DROrchestrationOption::kDeleteFromHypervisor) == 1;
  return true;
}

bool CDrJobRunOptions::MatchRecorded(long long jobId, const CDrJobArgs& args, const SRecordedRun& recorded,
                                     std::string& error) {
  const SRunDROptions& given = args.DROptions();
  std::string made, asked;
  if (args.Type() != TMMsg::DR_ORCHESTRATION_NONE && recorded.type != TMMsg::DR_ORCHESTRATION_NONE &&
      args.Type() != recorded.type) {
    made = std::string("--type ") + CDrJobArgs::TypeName(recorded.type);
    asked = std::string("--type ") + CDrJobArgs::TypeName(args.Type());
  } else if (!given.pointsInTime.empty() &&
             ByReplication(given.pointsInTime) != ByReplication(recorded.options.pointsInTime)) {
    made = PointsText(recorded.options.pointsInTime);
    asked = PointsText(given.pointsInTime);
  } else if (given.testbootWaitMinutes >= 0 && given.testbootWaitMinutes != recorded.options.testbootWaitMinutes) {
    made = recorded.options.testbootWaitMinutes < 0
               ? std::string("no --testboot-wait")
               : "--testboot-wait " + std::to_string(recorded.options.testbootWaitMinutes);
    asked = "--testboot-wait " + std::to_string(given.testbootWaitMinutes);
  } else if (given.keepNetworkAdapters && !recorded.options.keepNetworkAdapters) {
    made = FlagText("--keep-network-adapters", false);
    asked = FlagText("--keep-network-adapters", true);
  } else if (given.noPowerOn && !recorded.options.noPowerOn) {
    made = FlagText("--no-power-on", false);
    asked = FlagText("--no-power-on", true);
  } else if (args.DeleteFromHypervisor() && !recorded.deleteFromHypervisor) {
    made = FlagText("--delete-from-hypervisor", false);
    asked = FlagText("--delete-from-hypervisor", true);
  } else if (!given.restoreOptionsFile.empty()) {
    // Read whatever the record holds: a file that is gone or broken is the
    // same mistake on a rerun as on a first run.
    CNMessageBase restore(TMMsg::VirtualServerRestoreOptionFields::ClassInfo());
    if (!ReadRestoreOptions(given.restoreOptionsFile, restore, error)) return false;
    std::string xml;
    restore.serializeUTF8(xml);
    if (xml != recorded.restoreOptionsXml) {
      made = recorded.restoreOptionsXml.empty() ? std::string("no --restore-options") : std::string("other restore options");
      asked = "--restore-options " + given.restoreOptionsFile;
    }
  }
  if (made.empty()) return true;
  error = "DR job [" + std::to_string(jobId) + "] was made with [" + made + "], not [" + asked +
          "]; a rerun keeps the job's DR type and options, nothing was changed";
  return false;
}

std::string CDrJobRunOptions::CommandOptions(const SRecordedRun& recorded, const std::string& restoreFile) {
  std::string words;
  if (recorded.deleteFromHypervisor) words += " --delete-from-hypervisor";
  if (!recorded.options.pointsInTime.empty()) words += " " + PointsText(recorded.options.pointsInTime);
  if (recorded.options.testbootWaitMinutes >= 0) {
    words += " --testboot-wait " + std::to_string(recorded.options.testbootWaitMinutes);
  }
  if (recorded.options.keepNetworkAdapters) words += " --keep-network-adapters";
  if (recorded.options.noPowerOn) words += " --no-power-on";
  if (!recorded.restoreOptionsXml.empty()) words += " --restore-options " + CDrJobArgs::ShellWord(restoreFile);
  return words;
}
