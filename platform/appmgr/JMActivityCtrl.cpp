#include "appmgr/JMActivityCtrl.h"

#include "appmgr/SubclientActivityStore.h"

int JMActivityCtrl::isSubclientActivityEnabled(int appId, int opType, bool& enabled) {
  return CSubclientActivityStore::IsEnabled(appId, opType, enabled) == EStoreResult::kFailed ? -1 : 0;
}

int JMActivityCtrl::enableDisableSubclient(int appId, bool enable, int opType, void*) {
  return CSubclientActivityStore::SetEnabled(appId, opType, enable) ? 1 : 0;
}
