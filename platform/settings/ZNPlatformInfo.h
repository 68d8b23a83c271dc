// Platform settings and facts about the local machine.
#pragma once

#include <functional>
#include <string>

class ZNPlatformInfo {
 public:
  // Reads a whole number; non-zero when the setting exists and is a number.
  static int getNumber(const char* section, const char* key, unsigned long* value);
  // 32-bit form: only when the 64-bit read succeeds is the caller's value
  // written (its low 32 bits); otherwise it is left as it was.
  static int getNumber(const char* section, const char* key, unsigned int* value) {
    unsigned long wide = 0;
    int rc = getNumber(section, key, &wide);
    if (rc != 0 && value) *value = static_cast<unsigned int>(wide);
    return rc;
  }
  // Non-zero on success.
  static int setNumber(const char* section, const char* key, unsigned long value);

  static int getString(const char* section, const char* key, std::string& value);
  static int setString(const char* section, const char* key, const std::string& value);

  // Name of the local physical machine (the client this process runs on):
  // setting "Machine"/"PhysicalMachine", else the host name. Empty on failure.
  static std::string getPhysicalMachine();

  // The management server's host name as the local communication client
  // knows it (at most length characters and a terminator); 0 on success.
  static int getCommClientDHHostName(char* buffer, int length);

  // Where the management server's host name comes from: the simulated
  // server installs its own (CSimulators::Install). A source answers true
  // with the name (an empty name is a failed lookup) or false to leave it
  // to this machine's name. Without a source this machine is the server.
  using ServerNameSource = std::function<bool(std::string& name)>;
  static void SetServerNameSource(ServerNameSource source);
};

// Some callers spell the class this way.
using ZnPlatformInfo = ZNPlatformInfo;
