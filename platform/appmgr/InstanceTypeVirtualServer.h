// A virtualization instance of the management server: its properties are
// the instance's rows of the server's instance properties
// (CInstancePropStore), read into the property cache on first use; a
// changed property is written back there.
//
// Threads: one object per thread.
#pragma once

#include <string>

#include "appmgr/Instance.h"

// The instance's property naming its Unix file-recovery media agent (a
// client id, 0 or absent for none).
static const char* const ZN_PROP_FBR_UNIX_MEDIA_AGENT = "FBR Unix MediaAgent Client Id";
// The instance's property holding the host of the virtualization instance.
static const char* const ZN_PROP_VIRTUAL_SERVER_HOST = "Virtual Server Host";
// The user the management server reaches the virtualization instance as.
static const char* const ZN_PROP_VIRTUAL_SERVER_USER = "Virtual Server User";

class InstanceTypeVirtualServer : public Instance {
 public:
  // What getFBRUnixMediaAgent answers for an instance without one.
  static constexpr int kNoFBRMediaAgent = 0x80001;

  explicit InstanceTypeVirtualServer(long long instanceId);

  long long getInstanceId() const { return m_instanceId; }
  // The client id of the instance's Unix file-recovery media agent: 0 with
  // the id, kNoFBRMediaAgent when it has none, -1 when the properties
  // cannot be read.
  int getFBRUnixMediaAgent(unsigned long& clientId);
  // A property of the instance: 0 with the value, 1 when it has none, -1
  // when the properties cannot be read.
  int getProperty(const std::string& name, std::string& value);

  int storeProperty(const ApplProperty& property) override;

 private:
  bool Load();

  long long m_instanceId;
  bool m_loaded = false;
};
