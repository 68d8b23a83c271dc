#include "jobs/ZNPI_PlatformBase.h"

#include "settings/ZNPlatformInfo.h"

int ZNPI_PlatformBase::getDromhallHostName(char* buffer, int size) {
  if (!buffer || size <= 1) return -1;
  return ZNPlatformInfo::getCommClientDHHostName(buffer, size - 1);
}
