#include "DRJobManager.h"

CDRJobManager::CDRJobManager()
    : m_userId(1),
      m_initArg(0),
      m_haldenId(0),
      m_restarted(false),
      m_cleanupPhase(false),
      m_jobId(0),
      m_jobCtrl(nullptr),
      m_killIssued(false),
      m_suspended(false),
      m_orchClient(nullptr),
      m_srvcAgent(nullptr),
      m_drJobState(static_cast<Api::VirtualAppPhaseState>(0)),
      m_allowJobPending(false),
      m_attempt(1),
      m_beginPercentage(1) {}

CDRJobManager::~CDRJobManager() {}
