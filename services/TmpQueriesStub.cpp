// Temporary: replaced by the management-database queries.
#include "DRAppManager.h"
bool CDRAppManager::GetDRCopyDetailsResp(Api::GetSyncCopyDetailsResp&, int, int, long long) { return false; }
