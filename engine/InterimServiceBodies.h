// INTERIM, removed when the services branch lands: the mail call the
// orchestrator's summary uses, declared here until the platform's VM
// auxiliary operations exist. The bodies in InterimServiceBodies.cpp stand
// in for the job and application managers' operations that the engine
// calls, so the engine links and its loop can be tested on its own.
#pragma once

#include <string>

namespace VmAuxOps {
// 0 when the mail was queued.
int SendEmail(const std::string& subject, const std::string& body, const std::string& recipient,
              const std::string& reserved1, const std::string& reserved2);
}  // namespace VmAuxOps
