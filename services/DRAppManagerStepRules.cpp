// Application-manager operations that the DR step rules ask: free memory of
// the DR host and the VM allocation policy of a replication target.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "DRAppManager.h"
#include "Db/Tbl/App_VmAllocationPolicy.h"
#include "engine/ZnCriticalSectionLock.h"
#include "core/Mutex.h"

namespace {

const char kDefaultMemInfoPath[] = "/proc/meminfo";
// What a host that cannot tell its free memory is taken to have.
const long kUnknownFreeMemMB = 576;

CMutex g_memInfoMutex;
std::string g_memInfoPath DR_GUARDED_BY(g_memInfoMutex) = kDefaultMemInfoPath;

std::string MemInfoPath() {
  CMutexLock lock(g_memInfoMutex);
  return g_memInfoPath;
}

}  // namespace

void CDRAppManager::SetMemInfoPath(const std::string& path) {
  CMutexLock lock(g_memInfoMutex);
  g_memInfoPath = path.empty() ? kDefaultMemInfoPath : path;
}

long CDRAppManager::GetFreeMemSizeMB() {
  FILE* file = fopen(MemInfoPath().c_str(), "r");
  if (file == nullptr) return kUnknownFreeMemMB;
  long result = kUnknownFreeMemMB;
  char line[1024];
  while (fgets(line, sizeof(line), file) != nullptr) {
    if (strncmp(line, "MemAvailable:", 13) != 0) continue;
    unsigned long kb = strlen(line) > 15 ? strtoul(line + 15, nullptr, 10) : 0;
    result = static_cast<long>(kb >> 10);
    break;
  }
  fclose(file);
  return result;
}

bool CDRAppManager::QueryVMAllocationPolicy(long policyId, Ida::VMAllocationPolicy& policy) {
  ZnCriticalSectionLock lock(&m_policyLock);
  auto cached = m_policyCache.find(policyId);
  if (cached != m_policyCache.end()) {
    policy = cached->second;
    return true;
  }
  m_event.DebugLvl(7, "QueryVMAllocationPolicy", "Fetching VMAllocationPolicy XML for policyId: [%ld]", policyId);
  App_VmAllocationPolicy table(nullptr);
  table.setWhere("id = %ld", policyId);
  if (getOneRow(&table, false, -1, 0) != 0) return false;
  const char* xml = table.getDataPtr()->vxml;
  std::string text = xml != nullptr ? xml : "";
  if (!policy.Unserialize(text)) {
    m_event.Error("QueryVMAllocationPolicy", " Error unserializing the policy xml [%s]", text.c_str());
    return false;
  }
  m_event.DebugLvl(7, "QueryVMAllocationPolicy", "VMAllocationPolicy output XML[%s]", text.c_str());
  // The instance is present when a policy was found.
  if (!policy.Has(Ida::VMAllocationPolicy::kInstance)) return false;
  m_policyCache[policyId] = policy;
  return true;
}
