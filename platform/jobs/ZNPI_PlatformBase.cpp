#include "jobs/ZNPI_PlatformBase.h"

#include <string.h>

#include "jobs/LabStore.h"
#include "settings/ZNPlatformInfo.h"

int ZNPI_PlatformBase::getDromhallHostName(char* buffer, int size) {
  if (!buffer || size <= 1) return -1;
  std::string name = CLabStore::HasKnob("dromhall.host") ? CLabStore::GetKnob("dromhall.host")
                                                          : ZNPlatformInfo::getPhysicalMachine();
  if (name.empty()) return -1;
  strncpy(buffer, name.c_str(), static_cast<size_t>(size - 1));
  buffer[size - 1] = '\0';
  return 0;
}
