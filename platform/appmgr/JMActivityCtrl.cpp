#include "appmgr/JMActivityCtrl.h"

#include "appmgr/ClientActivityStore.h"
#include "appmgr/SubclientActivityStore.h"
#include "jobs/StandIns.h"

int JMActivityCtrl::isSubclientActivityEnabled(int appId, int opType, bool& enabled) {
  if (CStandIns::Fault(kStandInName) == EStandInFault::kFails) return -1;
  return CSubclientActivityStore::IsEnabled(appId, opType, enabled) == EStoreResult::kFailed ? -1 : 0;
}

int JMActivityCtrl::enableDisableSubclient(int appId, bool enable, int opType, void*) {
  const EStandInFault fault = CStandIns::Fault(kStandInName);
  if (fault == EStandInFault::kFails || fault == EStandInFault::kErrorCode) return 0;
  return CSubclientActivityStore::SetEnabled(appId, opType, enable) ? 1 : 0;
}

namespace {

int SwitchClient(int clientId, int activityType, bool enable) {
  const EStandInFault fault = CStandIns::Fault(JMActivityCtrl::kStandInName);
  if (fault == EStandInFault::kFails || fault == EStandInFault::kErrorCode || clientId <= 0) return -1;
  return CClientActivityStore::SetEnabled(clientId, activityType, enable) ? 0 : -1;
}

}  // namespace

int JMActivityCtrl::enableClient(int clientId, int activityType) { return SwitchClient(clientId, activityType, true); }

int JMActivityCtrl::disableClient(int clientId, int activityType) {
  return SwitchClient(clientId, activityType, false);
}
