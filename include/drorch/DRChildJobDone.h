// The completion entry the job manager service calls, in another process,
// when a child job of a DR job has ended: it tells the DR job's job-wait
// service "DRSrvc|<DR job id>" (the token's second "|" field) on this
// machine, whose waiting thread then wakes. It reports nothing to its
// caller; failures are logged. Exported under its plain name.
#pragma once

#include <string>

#include "drorch/DRExport.h"

extern "C" DR_EXPORT void DRChildJobDone(unsigned long long childJobId, std::string& token);
