// The activity controller of the simulated management server: whether a
// subclient's activity of an operation type (4: backup) is enabled, and the
// switch; and the switch of a client's activity of a type (1: backup). A
// subclient or client with no record is enabled.
//
// Faults (CStandIns, by kStandInName): kFails makes both calls fail (the
// read answers non-zero, the switch 0, nothing changes); kErrorCode makes
// only the switch fail.
#pragma once

class JMActivityCtrl {
 public:
  static constexpr const char* kStandInName = "JMActivityCtrl";

  JMActivityCtrl() = default;

  // 0 with the state; non-zero when it cannot be read.
  int isSubclientActivityEnabled(int appId, int opType, bool& enabled);
  // 1 on success, as the controller answers; anything else is a failure.
  int enableDisableSubclient(int appId, bool enable, int opType, void* reserved);
  // 0 when the client's activity of the type is switched; non-zero when it
  // cannot be.
  int enableClient(int clientId, int activityType);
  int disableClient(int clientId, int activityType);
};
