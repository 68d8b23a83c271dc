// The host's start parameters of an orchestrator. The orchestrator reads only
// the job manager of the running DR job.
#pragma once

class CDRJobManager;

struct DRInitParams {
  CDRJobManager* jobManager;  // built and initialised by the host, not owned
};
