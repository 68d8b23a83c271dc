// The records the storage-array management library fills and takes back:
// a volume relationship (SVSMRelationshipInfo, and its extension with the
// transfer progress) and an array management entry (_NASArrayInfo, with the
// array's interfaces). The system reads only a relationship's mirror state
// and relationship status; the other fields are the library's own, laid out
// as the library has them and filled by the array lab where it knows them.
//
// Every record starts cleared (texts empty, numbers 0, no interfaces) and
// Clear() returns it there.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct SVSMRelationshipInfo {
  SVSMRelationshipInfo() { Clear(); }
  void Clear();

  std::string sourceArray;
  std::string sourceVServer;
  std::string sourceVolume;
  std::string sourcePath;
  std::string destinationArray;
  std::string destinationVServer;
  std::string destinationVolume;
  std::string destinationPath;
  int32_t lagSeconds;
  int32_t consistent;        // 1 when the destination holds a usable copy
  std::string mirrorState;   // "snapmirrored", "broken-off", "uninitialized", ...
  std::string relationshipStatus;  // "idle", "transferring", ...
  std::string relationshipKind;
  int32_t transferCount;
  std::string policy;
  std::string schedule;
  std::string lastTransferType;
  std::string lastTransferError;
  std::string lastTransferEnd;
  std::string problem;
  std::string relationshipKey;
  std::string comment;
};

struct _SVSMRelationshipProgressInfo : SVSMRelationshipInfo {
  _SVSMRelationshipProgressInfo() { Clear(); }
  void Clear();

  std::string progressState;
  std::string currentTransferType;
  std::string currentTransferError;
  std::string currentOperationId;
  std::string transferSnapshot;
  int32_t transferredKb;
  int32_t percentDone;
  int32_t elapsedSeconds;
  std::string latestSnapshot;
  std::string baseSnapshot;
  std::string lastTransferFrom;
};

// One network interface of an array.
struct AliasInterface {
  AliasInterface() { Clear(); }
  void Clear();

  int64_t interfaceId;
  std::string address;
};

// The management entry of an array: who it is and how to reach it. The
// library fills it by control host id and configures an array object from
// it (NASSnapUtil::SetONTAPObject).
struct _NASArrayInfo {
  _NASArrayInfo() { Clear(); }
  void Clear();

  std::string arrayName;
  std::string userName;
  std::string password;
  std::string managementHost;
  std::string alternateHost;
  std::string vserverName;  // may be empty: the array's own
  std::string protocol;
  std::string certificate;
  std::string description;
  int32_t controlHostId;
  int32_t port;
  int32_t arrayType;
  int32_t timeoutSeconds;
  int32_t flags;
  std::string proxyHost;
  int32_t proxyPort;
  bool useProxy;
  std::string backupHost;
  int32_t backupPort;
  std::string comment;
  std::vector<AliasInterface> interfaces;
};
