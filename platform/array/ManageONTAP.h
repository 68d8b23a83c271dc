// The storage-array management library's calls, served by the array lab.
//
// NASSnapUtil finds an array's management entry by its control host id and
// configures an array object (ManageONTAP) from it; the object connects to
// the array and reads, breaks and re-syncs its volume relationships, lists
// the mapped LUNs of a volume and unmaps LUNs. Every call that reaches an
// array or a management entry is written to the call journal
// (CArrayCallJournal) with what it answered.
//
// An object that was never connected, or whose array is down (now, not only
// when it connected), fails every array call. Each object belongs to one
// thread; objects on different threads may work on one array at once.
#pragma once

#include <string>
#include <vector>

#include "array/ArrayCallJournal.h"
#include "array/ArrayRecords.h"

// How an array object connects; the system asks for the management kind.
enum montapConnectType { MONTAP_CONNECT_DEFAULT = 0, MONTAP_CONNECT_MANAGEMENT = 1 };

class ManageONTAP {
 public:
  ManageONTAP() = default;
  ManageONTAP(const ManageONTAP&) = delete;
  ManageONTAP& operator=(const ManageONTAP&) = delete;

  // True when connected: the object was configured and its array is up.
  bool OpenConnection();
  // The configured array's name and vserver (the vserver may be empty).
  const char* GetFileServerName() const { return m_arrayName.c_str(); }
  const char* GetVserverName() const { return m_vserver.c_str(); }

  // The relationship whose destination path is destPath, with the next
  // relationship status the array answers.
  bool GetSnapMirrorInfoCMode(_SVSMRelationshipProgressInfo& info, const std::string& destPath);
  // True when the array accepted the break (re-sync) of the relationship of
  // that destination volume and vserver.
  bool SMBreakRelationshipCMode(const std::string& destVolume, const std::string& destVServer);
  bool SMResyncRelationshipCMode(const std::string& destVolume, const std::string& destVServer);
  // The paths of the volume's mapped LUNs (replacing what luns held).
  bool GetAllMappedLUNs(const std::string& volume, std::vector<std::string>& luns);
  bool UnAssignLunFromAllInitiators(const std::string& lun);

 private:
  friend class NASSnapUtil;
  void Configure(const _NASArrayInfo& entry);
  // Connected and the array still up; journals the refusal otherwise.
  bool Usable(const char* call, const std::string& arguments);
  bool Answer(const char* call, const std::string& arguments, EArrayAnswer answer, const std::string& detail = "");

  bool m_configured = false;
  bool m_open = false;
  int m_controlHostId = 0;
  std::string m_arrayName;
  std::string m_vserver;
};

class NASSnapUtil {
 public:
  NASSnapUtil() = default;
  bool Initialize();
  // True, with the entry filled, when the array of that control host has a
  // management entry; the entry is cleared first in every case.
  bool GetArrayNameAndCredentialsByControlHostId(const int& controlHostId, _NASArrayInfo& entry);
  // Configures the array object from the entry; false for an entry that
  // names no array.
  bool SetONTAPObject(const _NASArrayInfo& entry, ManageONTAP& array, const montapConnectType& type,
                      const bool& flag);

 private:
  bool m_initialized = false;
};
