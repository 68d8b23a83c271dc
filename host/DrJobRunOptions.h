// The DR options of a run (the DR types after a failover) written into the
// job's DR orchestration options where the system reads them, and read back
// from there when the job runs again.
#pragma once

#include <string>
#include <vector>

#include "DrJobArgs.h"
#include "msg/MsgEnums.h"

// What a DR job's record holds of the run that made it, from its DR
// orchestration options.
struct SRecordedRun {
  // DR_ORCHESTRATION_NONE for a record made before drjob kept the type.
  TMMsg::DROrchestrationType type = TMMsg::DR_ORCHESTRATION_NONE;
  int groupId = 0;                 // 0 when the options name none
  SRunDROptions options;           // restoreOptionsFile stays empty
  std::string restoreOptionsXml;   // the restore options as stored; empty when none
  bool deleteFromHypervisor = false;
  // The replications the options list (a clean-up's, a point in time's), in
  // the group's order when the job was made; empty when they list none.
  std::vector<int32_t> replicationIds;
};

class CDrJobRunOptions {
 public:
  // Edits the job's options XML; false with the reason when an option
  // cannot be applied (a restore-options file that cannot be read or
  // parsed, a DR group without replications, a point in time for a
  // replication the group does not hold).
  static bool Apply(const SRunDROptions& options, int groupId, std::string& optionsXml, std::string& error);

  // What a job's options XML records; false when it does not parse.
  static bool Read(const std::string& optionsXml, SRecordedRun& recorded);

  // A rerun runs the job its record describes: true when the type and each
  // option given (a restore-options file is read for it) agree with the
  // record; false with one line naming the first that does not, or the
  // restore-options file that cannot be read or parsed.
  static bool MatchRecorded(long long jobId, const CDrJobArgs& args, const SRecordedRun& recorded,
                            std::string& error);

  // The options a job's record holds, as drjob run takes them, each word
  // quoted for the shell when it needs it: " --delete-from-hypervisor
  // --point-in-time 101=1767225600 ..." (the points in time in the order
  // kept), empty when the record holds none. The record keeps restore
  // options as their text, not the file they came from: restoreFile names a
  // file that holds them.
  static std::string CommandOptions(const SRecordedRun& recorded, const std::string& restoreFile);
};
