// The activity controller of the simulated management server: whether a
// subclient's activity of an operation type (4: backup) is enabled, and the
// switch. A subclient with no record is enabled.
#pragma once

class JMActivityCtrl {
 public:
  JMActivityCtrl() = default;

  // 0 with the state; non-zero when it cannot be read.
  int isSubclientActivityEnabled(int appId, int opType, bool& enabled);
  // 1 on success, as the controller answers; anything else is a failure.
  int enableDisableSubclient(int appId, bool enable, int opType, void* reserved);
};
