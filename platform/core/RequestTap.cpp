#include "core/RequestTap.h"

#include <atomic>

#include "core/Mutex.h"

namespace {

std::atomic<bool> g_enabled{false};
CMutex g_mutex;

std::vector<STappedRequest>& Requests() DR_REQUIRES(g_mutex) {
  static auto* v = new std::vector<STappedRequest>();
  return *v;
}

}  // namespace

void CRequestTap::SetEnabled(bool on) { g_enabled.store(on); }

bool CRequestTap::Enabled() { return g_enabled.load(); }

void CRequestTap::Record(const char* entry, unsigned long messageType, const std::string& request,
                         const std::string& reply, int result) {
  if (!g_enabled.load()) return;
  CMutexLock lock(g_mutex);
  Requests().push_back(STappedRequest{entry, messageType, request, reply, result});
}

std::vector<STappedRequest> CRequestTap::Taken() {
  CMutexLock lock(g_mutex);
  return Requests();
}

void CRequestTap::Clear() {
  CMutexLock lock(g_mutex);
  Requests().clear();
}
