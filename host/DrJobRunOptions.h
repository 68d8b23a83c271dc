// The DR options of a run (the DR types after a failover) written into the
// job's DR orchestration options where the system reads them.
#pragma once

#include <string>

#include "DrJobArgs.h"

class CDrJobRunOptions {
 public:
  // Edits the job's options XML; false with the reason when an option
  // cannot be applied (a restore-options file that cannot be read or
  // parsed, a DR group without replications).
  static bool Apply(const SRunDROptions& options, int groupId, std::string& optionsXml, std::string& error);
};
