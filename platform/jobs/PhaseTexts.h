// The names of a DR job's phases (Api::VirtualAppJobPhaseType) as the
// console shows them; shared by the DR engine's log and reports and by the
// host's account of each machine of a run.
#pragma once

class CPhaseTexts {
 public:
  // "DR Operation" for a phase without a name of its own.
  static const char* Phase(int phase);
};
