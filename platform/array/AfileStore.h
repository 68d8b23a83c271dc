// The archive files (afiles) of storage-array snapshots, one per VM and
// master job, with each snapshot's mount state, and the one owner of
// PLT_SnapAfiles. The columns are the archive-files procedure's, plus the
// storage copy and the application (subclient) id the snapshot belongs to.
//
// Job columns are 32-bit, as the procedure answers them: a master job or
// job id outside 1 to 2^31-1 is refused (the job simulator's ids stay
// below 2^31).
//
// Threads and processes: every member may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include "core/StoreResult.h"

struct SSnapAfile {
  // Mount states: mounted by another process (59) or by DR (78); not
  // mounted (39, 79).
  static constexpr int kMountedElsewhere = 59;
  static constexpr int kMountedByDR = 78;
  static constexpr int kUnmounted = 79;

  int afileId = 0;  // given by Add
  long long masterJobId = 0;
  std::string vmName;
  long long jobId = 0;
  int vmClientId = 0;
  std::string vmGuid;
  int vmAppId = 0;
  int mountStatus = kUnmounted;
  int mountHostId = 0;
  bool failoverMount = false;
  int copyId = 0;
  int applicationId = 0;
};

class CAfileStore {
 public:
  static constexpr const char* kTable = "PLT_SnapAfiles";

  // Adds an afile and gives it its id (afile.afileId); false (logged) for
  // job ids that do not fit the columns.
  static bool Add(SSnapAfile& afile);
  static EStoreResult Get(int afileId, SSnapAfile& out);
  static EStoreResult All(std::vector<SSnapAfile>& out);
  // The afiles of the master jobs, by afile id.
  static EStoreResult OfMasterJobs(const std::vector<long long>& masterJobIds, std::vector<SSnapAfile>& out);
  // The newest afile of a VM under a master job (of that copy; 0: any).
  static EStoreResult Latest(long long masterJobId, const std::string& vmGuid, int copyId, SSnapAfile& out);
  static EStoreResult SetMount(int afileId, int mountStatus, int mountHostId, bool failoverMount);

  static bool CreateTables();
};
