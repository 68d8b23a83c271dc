#include "settings/ZNPlatformInfo.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>


#include "settings/SettingsStore.h"
#include "core/Mutex.h"

int ZNPlatformInfo::getNumber(const char* section, const char* key, unsigned long* value) {
  if (!section || !key || !value) return 0;
  std::string text;
  if (!CSettings::Store().Get(section, key, text) || text.empty()) return 0;
  errno = 0;
  char* end = nullptr;
  unsigned long long n = strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == text.c_str() || *end != '\0' || text[0] == '-') return 0;
  *value = static_cast<unsigned long>(n);
  return 1;
}

int ZNPlatformInfo::setNumber(const char* section, const char* key, unsigned long value) {
  if (!section || !key) return 0;
  return CSettings::Store().Set(section, key, std::to_string(value)) ? 1 : 0;
}

int ZNPlatformInfo::getString(const char* section, const char* key, std::string& value) {
  if (!section || !key) return 0;
  return CSettings::Store().Get(section, key, value) ? 1 : 0;
}

int ZNPlatformInfo::setString(const char* section, const char* key, const std::string& value) {
  if (!section || !key) return 0;
  return CSettings::Store().Set(section, key, value) ? 1 : 0;
}

std::string ZNPlatformInfo::getPhysicalMachine() {
  std::string name;
  if (getString("Machine", "PhysicalMachine", name) && !name.empty()) return name;
  char host[256] = {0};
  if (gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}

namespace {

CMutex g_sourceMutex;
// Set at start-up, read by any thread.
ZNPlatformInfo::ServerNameSource* const g_source DR_PT_GUARDED_BY(g_sourceMutex) = new ZNPlatformInfo::ServerNameSource();

}  // namespace

void ZNPlatformInfo::SetServerNameSource(ServerNameSource source) {
  CMutexLock lock(g_sourceMutex);
  *g_source = std::move(source);
}

int ZNPlatformInfo::getCommClientDHHostName(char* buffer, int length) {
  if (!buffer || length < 1) return -1;
  ServerNameSource source;
  {
    CMutexLock lock(g_sourceMutex);
    source = *g_source;
  }
  std::string name;
  if (!source || !source(name)) name = getPhysicalMachine();
  if (name.empty()) return -1;
  strncpy(buffer, name.c_str(), static_cast<size_t>(length));
  buffer[length] = '\0';
  return 0;
}
