// The completion entries the job manager service calls, in another process,
// when a child job of a DR job has ended: they tell the DR job's job-wait
// service "DRSrvc|<DR job id>" (the token's second "|" field) on this
// machine, whose waiting thread then wakes. Failures are logged. Exported
// under their plain names.
#pragma once

#include <string>

#include "drorch/DRExport.h"

// Reports nothing to its caller.
extern "C" DR_EXPORT void DRChildJobDone(unsigned long long childJobId, std::string& token);

// The same, answering whether the service took the notice (its receipt
// came): a caller that gets false sends the notice again later, so a notice
// is delivered at least once. DRChildJobDone calls it and drops the answer.
extern "C" DR_EXPORT bool DRChildJobDoneAcknowledged(unsigned long long childJobId, std::string& token);
