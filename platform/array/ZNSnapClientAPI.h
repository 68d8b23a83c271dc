// The storage-array snapshot client: lists and deletes the volume
// snapshots a snap backup left (CVolumeSnapStore).
// Threads: any; one object per call sequence.
#pragma once

#include <string>
#include <vector>

// What a snapshot query selects and, once read, the snapshots found.
struct SMVolSnapInfo {
  long long snapJobId = 0;
  long long jobId = 0;  // the job that asks
  int retrieveValidFlags = 0;
  std::vector<std::string> snapNames;  // filled by getVolumeSnaps
};

class ZNSnapClientAPI {
 public:
  // 0 with the job's snapshots in info; non-zero when it has none or they
  // cannot be read (getErrCodeAndStr says why).
  int getVolumeSnaps(SMVolSnapInfo& info);
  // 0 when every snapshot of the job is gone.
  int deleteVolumeSnaps(SMVolSnapInfo& info);
  int getErrCodeAndStr(std::string& text) const;

 private:
  int Fail(int code, const std::string& text);
  int m_errorCode = 0;
  std::string m_errorText;
};
