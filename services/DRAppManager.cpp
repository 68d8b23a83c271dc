#include "DRAppManager.h"

CDRAppManager::CDRAppManager()
    : m_vAppId(0),
      m_clientId(0),
      m_haldenId(0),
      m_userId(1),
      m_drOption(nullptr),
      m_monitorBased(false),
      m_maxParallelThreadCount(10),
      m_delayTimeBeforeSync(60),
      m_lastSelectedProxyClientId(0),
      m_firstTimeSyncDuringFailover(false) {}

CDRAppManager::~CDRAppManager() {}
