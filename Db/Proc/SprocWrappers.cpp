// The procedure wrappers in use, instantiated once here.
#include "Db/SprocWrapper.h"

#include "APPSetActivityControl.h"
#include "AppGetVSMemberServers.h"
#include "AppVSAReplicationsDeleteOptions.h"
#include "TM_GetTaskDetail.h"

template class CursorWrapper<AppGetVSMemberServers, AppGetVSMemberServers_t>;
template class SprocWrapper<AppGetVSMemberServers, AppGetVSMemberServers_t>;
template class CursorWrapper<TM_GetTaskDetail, TM_GetTaskDetail_t>;
template class SprocWrapper<TM_GetTaskDetail, TM_GetTaskDetail_t>;
template class CursorWrapper<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t>;
template class SprocWrapper<AppVSAReplicationsDeleteOptions, AppVSAReplicationsDeleteOptions_t>;
template class CursorWrapper<APPSetActivityControl, APPSetActivityControl_t>;
template class SprocWrapper<APPSetActivityControl, APPSetActivityControl_t>;
