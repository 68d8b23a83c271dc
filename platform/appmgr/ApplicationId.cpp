#include "appmgr/ApplicationId.h"

#include "core/Mutex.h"

namespace {
CMutex g_mutex;
ApplicationId::Resolver& TheResolver() DR_REQUIRES(g_mutex) {
  static ApplicationId::Resolver* resolver = new ApplicationId::Resolver();
  return *resolver;
}
}  // namespace

ApplicationId::ApplicationId(int haldenId, long subclientId) : m_haldenId(haldenId), m_resolved(false) {
  m_ids.appId = subclientId;
  m_ids.subclientId = subclientId;
  Resolver resolver;
  {
    CMutexLock lk(g_mutex);
    resolver = TheResolver();
  }
  SApplicationIds found;
  if (resolver && resolver(haldenId, subclientId, found)) {
    m_ids = found;
    m_resolved = true;
  }
}

void ApplicationId::SetResolver(Resolver resolver) {
  CMutexLock lk(g_mutex);
  TheResolver() = std::move(resolver);
}
