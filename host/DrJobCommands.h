// The commands of drjob. Each returns the process's exit code and
// writes one clear line to stderr when it cannot do its work.
#pragma once

#include <string>

#include "DrJobArgs.h"

class CDrJobCommands {
 public:
  static int Seed(const CDrJobArgs& args);
  static int Run(const CDrJobArgs& args);
  static int Control(const CDrJobArgs& args);
  // Lists every job of the lab, or tells one DR job (--job): its type,
  // group, attempts, state and the verdict on each machine; steers one
  // child job of the job simulator.
  static int Jobs(const CDrJobArgs& args);
  static int Job(const CDrJobArgs& args);
  // Lists the task manager's stored tasks.
  static int Tasks(const CDrJobArgs& args);
  // Shows the hypervisor lab, takes a site or proxy down or up, releases
  // hung VM operations.
  static int Lab(const CDrJobArgs& args);
};
